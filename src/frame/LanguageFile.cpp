#include "frame/LanguageFile.h"

#include <QFile>
#include <QStringList>

namespace zerimo {

namespace {

bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

QString TrimBlanks(const QString& s) {
    qsizetype b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.mid(b, e - b);
}

} // namespace

QString CLanguageStrings::LookupString(const QString& section, const QString& key,
                                       const QString& defaultText) const {
    const auto s = sections.find(section);
    if (s == sections.end()) return defaultText;
    const auto k = s->second.find(key);
    return k == s->second.end() ? defaultText : k->second;
}

bool CLanguageStrings::LoadLanguageFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    Parse(file.readAll());
    return true;
}

void CLanguageStrings::Parse(const QByteArray& utf8) {
    sections.clear();
    QString text = QString::fromUtf8(utf8);
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);

    Section* current = nullptr;
    for (const QString& raw : text.split(u'\n')) {
        qsizetype b = 0, e = raw.size();
        while (b < e && IsBlank(raw[b])) ++b;
        while (e > b && (raw[e - 1] == u'\r' || raw[e - 1] == u'\n')) --e;
        if (b == e) continue;
        const QString line = raw.mid(b, e - b);

        // A header: "[" first and "]" last apart from blanks; the name is everything between the
        // line's first and last characters, trimmed.
        qsizetype last = line.size() - 1;
        while (last > 0 && (IsBlank(line[last]) || line[last] == u'\r' || line[last] == u'\n')) --last;
        if (line[0] == u'[' && last > 0 && line[last] == u']') {
            const QString name = TrimBlanks(line.mid(1, line.size() - 2));
            current = &sections[name];
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0 || !current) continue;
        (*current)[TrimBlanks(line.left(eq))] = line.mid(eq + 1);
    }
}

QString CultureText(const CLanguageStrings& strings) {
    QString culture = strings.LookupString("Header", "Culture", "English");
    const qsizetype n = culture.indexOf(" //");
    if (n >= 0) culture.truncate(n + 1);
    return culture;
}

QString LanguageFileForId(unsigned id) {
    switch (id) {
    case 0x0404:
    case 0x0C04:
    case 0x1004:
    case 0x1404:
    case 0x7C04:
        return "t_chinese.lng";
    case 0x0411:
        return "japanese.lng";
    case 0x0804:
        return "s_chinese.lng";
    case 0x082E:
        return "german.lng";
    case 0x2C0A:
        return "spanish.lng";
    default:
        return {};
    }
}

unsigned LanguageIdOf(const QString& bcp47Name) {
    // The locales whose identifiers matter to the file table, and their neighbours.
    static const struct {
        const char* name;
        unsigned id;
    } table[] = {
        {"zh-TW", 0x0404},   {"zh-HK", 0x0C04},      {"zh-SG", 0x1004},      {"zh-MO", 0x1404},
        {"zh-Hant", 0x7C04}, {"zh-Hant-TW", 0x0404}, {"zh-Hant-HK", 0x0C04}, {"zh-Hant-MO", 0x1404},
        {"zh-CN", 0x0804},   {"zh-Hans", 0x0804},    {"zh-Hans-CN", 0x0804}, {"zh-Hans-SG", 0x1004},
        {"ja-JP", 0x0411},   {"ja", 0x0411},         {"dsb-DE", 0x082E},     {"dsb", 0x082E},
        {"de-DE", 0x0407},   {"de-AT", 0x0C07},      {"de-CH", 0x0807},      {"de", 0x0407},
        {"es-AR", 0x2C0A},   {"es-ES", 0x0C0A},      {"es-MX", 0x080A},      {"es", 0x0C0A},
        {"en-US", 0x0409},   {"en-GB", 0x0809},      {"en", 0x0409},         {"fr-FR", 0x040C},
    };
    QString name = bcp47Name;
    name.replace(u'_', u'-');
    for (const auto& e : table)
        if (QString::compare(name, QLatin1String(e.name), Qt::CaseInsensitive) == 0) return e.id;
    return 0;
}

QString StripMnemonics(QString text) {
    text.remove("(&A)");
    text.remove(u'&');
    return text;
}

} // namespace zerimo
