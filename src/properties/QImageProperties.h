#pragma once
/// The properties report: a file section (path, times, size) and an image section (format, pixel
/// format, size, resolution, flags and one line per property item). Lines end with "\r\n"; all
/// text is UTF-8.

#include "imaging/Image.h"

#include <span>
#include <string>

namespace zerimo {

class QImageProperties {
  public:
    /// Does not own `image`; it must outlive this object.
    explicit QImageProperties(const imaging::Image* image) : image_(image) {}
    virtual ~QImageProperties() = default;

    /// The image section; `exclude` is a zero-terminated list of tag ids to leave out (may be null).
    std::string DescribeImage(const imaging::PROPID* exclude = nullptr) const;
    /// One property line without its line break: name, ": ", value.
    std::string DescribeProperty(imaging::PROPID id) const;

  private:
    const imaging::Image* image_;
};

/// One row of the tag-name table.
struct PropertyTagRow {
    imaging::PROPID id;
    const char* name;
};
/// The tag-name table in the order PropertyTagName searches it.
std::span<const PropertyTagRow> PropertyTagRows();

/// The file section of `path`; empty for an empty path.
std::string DescribeFile(const std::string& path);
/// The tag's display name, or "Unknown Property (%#04x)".
std::string PropertyTagName(imaging::PROPID id);
/// "%f" with the trailing zeros cut, keeping one digit after the point.
std::string FormatDecimal(double value);

} // namespace zerimo
