#pragma once
/// The format tables of the Open and Save As dialogs, built from the codec lists and the formats
/// that our own readers and writers add.

#include "imaging/Types.h"

#include <map>
#include <string>

namespace zerimo {

/// "DESCRIPTION files": the display name of a pattern list when the desktop gives none.
std::string TypeNameOf(const std::string& patterns, const std::string& fallbackDescription);

class CGdiplusFileType {
  public:
    virtual ~CGdiplusFileType() = default;
    /// "text|patterns|" entries, one after another.
    std::string filter;

  protected:
    virtual void BuildFilter() = 0;
};

class CGdiplusFileOpenType : public CGdiplusFileType {
  public:
    CGdiplusFileOpenType() { BuildFilter(); }

  protected:
    void BuildFilter() override;
};

class CGdiplusFileSaveAsType : public CGdiplusFileType {
  public:
    CGdiplusFileSaveAsType() { BuildFilter(); }

    /// The encoder whose patterns contain `extension` (such as ".jpg"); all zero when none does.
    imaging::Guid EncoderFor(const std::string& extension) const;
    /// The 1-based filter index whose patterns contain `extension`; 2 when none does.
    int FilterIndexFor(const std::string& extension) const;
    /// The first pattern of entry `index` without its "*"; ".png" when there is no such entry.
    std::string ExtensionForIndex(int index) const;

    std::map<std::string, imaging::Guid> encoderByPatterns;
    std::map<std::string, int> indexByPatterns;

  protected:
    void BuildFilter() override;
};

} // namespace zerimo
