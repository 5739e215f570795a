// Language files: the format's rules, lookup, the culture text, the first choice, and the files
// shipped in lang/ covering every key the program asks for.

#include "frame/CommandTable.h"
#include "frame/LanguageFile.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace zerimo;

namespace {

CLanguageStrings Parsed(const char* text) {
    CLanguageStrings s;
    s.Parse(QByteArray(text));
    return s;
}

} // namespace

TEST(LanguageFile, FormatRules) {
    const CLanguageStrings s = Parsed("\xEF\xBB\xBF"
                                      "[FileMenu]\r\n"
                                      "2 =  &Open\r\n"
                                      "=no key\n"
                                      "a line without an equals sign\n"
                                      "  \t 3\t= &Save \n"
                                      "3=&Save again\n"
                                      "[viewmenu]\n"
                                      "1=Zoom &In\n"
                                      "[FileMenu]\n"
                                      "4=Save &As=\n");
    // The value keeps the blanks after "="; keys and names are trimmed and match without case.
    EXPECT_EQ(s.LookupString("FileMenu", "2", "x"), "  &Open");
    EXPECT_EQ(s.LookupString("filemenu", "3", "x"), "&Save again");
    EXPECT_EQ(s.LookupString("ViewMenu", "1", "x"), "Zoom &In");
    EXPECT_EQ(s.LookupString("FileMenu", "4", "x"), "Save &As=");
    EXPECT_EQ(s.LookupString("FileMenu", "", "x"), "x");
    EXPECT_EQ(s.Content().at("FileMenu").size(), 3u);
    EXPECT_EQ(s.LookupString("EditMenu", "1", "&Undo"), "&Undo");
}

TEST(LanguageFile, HeadersAndEntriesBeforeThem) {
    const CLanguageStrings s = Parsed("1=before any header\n"
                                      "  [ Header ]\n"
                                      "Culture=Deutsch\n"
                                      "[Trailing]  \n"
                                      "k=v\n"
                                      "[]\n"
                                      "e=empty name\n");
    EXPECT_EQ(s.Content().size(), 3u);
    EXPECT_EQ(s.LookupString("Header", "Culture", ""), "Deutsch");
    // Blanks after "]" are inside the name: the bracket becomes part of it.
    EXPECT_EQ(s.LookupString("Trailing]", "k", ""), "v");
    EXPECT_EQ(s.LookupString("", "e", ""), "empty name");
    EXPECT_EQ(s.LookupString("", "1", "none"), "none");
}

TEST(LanguageFile, EmptyValueAndUtf8) {
    const CLanguageStrings s = Parsed("[S]\nempty=\nwide=\xF0\x9F\x98\x80 \xC3\xBC\n");
    EXPECT_EQ(s.LookupString("S", "empty", "default"), "");
    const QString wide = s.LookupString("S", "wide", "");
    ASSERT_EQ(wide.size(), 4); // a surrogate pair, a space and one more character
    EXPECT_TRUE(wide[0].isHighSurrogate());
    EXPECT_EQ(wide[3], QChar(0xFC));
}

TEST(LanguageFile, FailedLoadKeepsTheContent) {
    CLanguageStrings s = Parsed("[A]\nk=v\n");
    EXPECT_FALSE(s.LoadLanguageFile("/nonexistent/zerimo/file.lng"));
    EXPECT_EQ(s.LookupString("A", "k", ""), "v");
}

TEST(LanguageFile, CultureText) {
    EXPECT_EQ(CultureText(Parsed("[Header]\nCulture=Deutsch // German\n")), "Deutsch ");
    EXPECT_EQ(CultureText(Parsed("[Header]\nCulture=Deutsch\n")), "Deutsch");
    EXPECT_EQ(CultureText(Parsed("")), "English");
}

TEST(LanguageFile, FirstChoiceByLanguageIdentifier) {
    EXPECT_EQ(LanguageFileForId(0x0407), "");
    EXPECT_EQ(LanguageFileForId(0x082E), "german.lng");
    EXPECT_EQ(LanguageFileForId(0x2C0A), "spanish.lng");
    EXPECT_EQ(LanguageFileForId(0x0411), "japanese.lng");
    EXPECT_EQ(LanguageFileForId(0x0804), "s_chinese.lng");
    for (unsigned id : {0x0404u, 0x0C04u, 0x1004u, 0x1404u, 0x7C04u})
        EXPECT_EQ(LanguageFileForId(id), "t_chinese.lng");
    EXPECT_EQ(LanguageIdOf("de_DE"), 0x0407u);
    EXPECT_EQ(LanguageIdOf("dsb-DE"), 0x082Eu);
    EXPECT_EQ(LanguageIdOf("ja-JP"), 0x0411u);
    EXPECT_EQ(LanguageIdOf("xx-YY"), 0u);
}

TEST(LanguageFile, AboutTitleLosesMnemonics) {
    EXPECT_EQ(StripMnemonics("&About Zerimo..."), "About Zerimo...");
    EXPECT_EQ(StripMnemonics("Zerimo について(&A)..."), "Zerimo について...");
}

TEST(LanguageFile, ShippedFilesCoverEveryKey) {
    // Every key of the tables, except the help page's address, which the program knows best.
    std::vector<std::pair<QString, QString>> keys;
    for (const LanguageMenuSection& s : LanguageMenuSections())
        for (const LanguageMenuKey& k : s.keys) keys.push_back({s.section, QString::number(k.key)});
    for (const char* top : {"FileMenu", "EditMenu", "ImageMenu", "ViewMenu", "HelpMenu"})
        keys.push_back({top, "0"});
    for (int i = 1; i <= 14; ++i) keys.push_back({"ToolTips", QString::number(i)});
    const struct {
        const char* section;
        int count;
        int first;
    } dialogs[] = {{"Buttons", 3, 1},           {"PrefDialog", 3, 0},   {"RotateDialog", 2, 0},
                   {"ResizeDialog", 4, 0},      {"FilterDialog", 6, 0}, {"ColorBalanceDialog", 5, 0},
                   {"BlurSharpenDialog", 5, 0}, {"ColorDialog", 3, 0}};
    for (const auto& d : dialogs)
        for (int i = 0; i < d.count; ++i) keys.push_back({d.section, QString::number(d.first + i)});
    for (const char* k : {"Culture", "Conversion", "FileFormat"}) keys.push_back({"Header", k});

    const QDir lang(ZERIMO_LANG_DIR);
    const QStringList files = lang.entryList({"*.lng"});
    ASSERT_GE(files.size(), 2);
    for (const QString& f : files) {
        CLanguageStrings s;
        ASSERT_TRUE(s.LoadLanguageFile(lang.filePath(f)));
        for (const auto& [section, key] : keys)
            EXPECT_NE(s.LookupString(section, key, "\x01missing"), "\x01missing")
                << f.toStdString() << " " << section.toStdString() << "/" << key.toStdString();
    }
}
