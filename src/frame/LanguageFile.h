#pragma once
/// Language files: a UTF-8, INI-like text of sections and keys that replaces the built-in English
/// texts. Every consumer asks the dictionary for (section, key) with its own English default.

#include <QByteArray>
#include <QString>

#include <map>

namespace zerimo {

/// Ordinal comparison without regard to case, as section names and keys are matched.
struct CaseInsensitiveLess {
    bool operator()(const QString& a, const QString& b) const {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    }
};

class CLanguageStrings {
  public:
    using Section = std::map<QString, QString, CaseInsensitiveLess>;
    using Sections = std::map<QString, Section, CaseInsensitiveLess>;

    /// The stored value, or `defaultText` when the section or the key is missing.
    QString LookupString(const QString& section, const QString& key, const QString& defaultText) const;
    /// Replaces the whole content with the file's; false (content untouched) when it cannot be read.
    bool LoadLanguageFile(const QString& path);
    /// Replaces the whole content with what `utf8` holds.
    void Parse(const QByteArray& utf8);

    bool IsEmpty() const { return sections.empty(); }
    const Sections& Content() const { return sections; }

  private:
    Sections sections;
};

/// The culture text shown after the Language command: "Header"/"Culture", cut after the blank that
/// starts a " //" comment.
QString CultureText(const CLanguageStrings& strings);

/// The language file that a user-interface language identifier (a Windows LANGID) selects, or an
/// empty string when none does.
QString LanguageFileForId(unsigned languageId);
/// The LANGID of a locale (0 when it has none of its own in the table of known identifiers).
unsigned LanguageIdOf(const QString& bcp47Name);

/// "&Open" with every "(&A)" and then every "&" removed, as the About box's title is made.
QString StripMnemonics(QString text);

} // namespace zerimo
