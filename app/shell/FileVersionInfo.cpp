#include "app/shell/FileVersionInfo.h"

#include <QFile>
#include <QLocale>
#include <QTextStream>
#include <map>

#include "app/shell/Resources.h"

const char* const CFileVersionInfo::kStringNames[12] = {
    "CompanyName", "FileDescription", "FileVersion", "InternalName",    "LegalCopyright", "OriginalFileName",
    "ProductName", "ProductVersion",  "Comments",    "LegalTrademarks", "PrivateBuild",   "SpecialBuild"};

namespace {

using Sections = std::map<QString, std::map<QString, QString>>;

// A version record is at most a few kilobytes; anything larger is not one.
constexpr qint64 kMaxRecordBytes = 64 * 1024;

bool ReadSections(const QString& file, Sections& out) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly) || f.size() > kMaxRecordBytes)
        return false;
    QTextStream in(&f);
    in.setEncoding(QStringConverter::Utf8);
    QString section;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed();
            out[section];
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && !section.isEmpty())
            out[section][line.left(eq).trimmed()] = line.mid(eq + 1).trimmed();
    }
    return !out.empty();
}

// "a.b.c.d" into its two 32-bit halves.
bool ParseVersion(const QString& text, std::uint32_t& ms, std::uint32_t& ls) {
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    std::uint32_t v[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const uint n = parts[i].toUInt(&ok);
        if (!ok || n > 0xFFFF)
            return false;
        v[i] = n;
    }
    ms = (v[0] << 16) | v[1];
    ls = (v[2] << 16) | v[3];
    return true;
}

} // namespace

void CFileVersionInfo::Reset() {
    m_fixed = FixedFileInfo{};
    for (QString& s : m_strings)
        s.clear();
}

int CFileVersionInfo::Create() {
    grv::InitShellResources();
    return CreateFromFile(QStringLiteral(":/version.ini"), UserDefaultLanguage());
}

int CFileVersionInfo::CreateFromFile(const QString& file, std::uint16_t userLanguage) {
    Reset();
    Sections sections;
    if (!ReadSections(file, sections))
        return 0;

    const auto fixed = sections.find(QStringLiteral("FixedFileInfo"));
    if (fixed != sections.end()) {
        FixedFileInfo f;
        if (ParseVersion(fixed->second[QStringLiteral("FileVersion")], f.dwFileVersionMS, f.dwFileVersionLS) &&
            ParseVersion(fixed->second[QStringLiteral("ProductVersion")], f.dwProductVersionMS, f.dwProductVersionLS)) {
            f.dwSignature = FixedFileInfo::kSignature;
            m_fixed = f;
        }
    }

    std::vector<std::uint32_t> table;
    const QStringList words = sections[QStringLiteral("VarFileInfo")][QStringLiteral("Translation")].split(
        QLatin1Char(' '), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i + 1 < words.size(); i += 2) {
        bool okLang = false, okPage = false;
        const uint lang = words[i].toUInt(&okLang, 16);
        const uint page = words[i + 1].toUInt(&okPage, 16);
        if (okLang && okPage && lang <= 0xFFFF && page <= 0xFFFF)
            table.push_back((page << 16) | lang);
    }
    if (table.empty())
        return 0;

    std::uint32_t chosen = 0;
    if (!FindTranslation(table, userLanguage, false, chosen) && !FindTranslation(table, userLanguage, true, chosen) &&
        !FindTranslation(table, 0, false, chosen) && !FindTranslation(table, 9, true, chosen))
        chosen = table.front();

    const QString name = QStringLiteral("StringFileInfo ") + QStringLiteral("%1%2")
                                                                 .arg(chosen & 0xFFFF, 4, 16, QLatin1Char('0'))
                                                                 .arg(chosen >> 16, 4, 16, QLatin1Char('0'))
                                                                 .toUpper();
    const auto strings = sections.find(name);
    if (strings != sections.end())
        for (int i = 0; i < 12; ++i) {
            const auto it = strings->second.find(QString::fromLatin1(kStringNames[i]));
            if (it != strings->second.end())
                m_strings[i] = it->second;
        }
    return 1;
}

bool CFileVersionInfo::FindTranslation(const std::vector<std::uint32_t>& table, std::uint16_t language,
                                       bool primaryOnly, std::uint32_t& found) {
    for (std::uint32_t entry : table)
        if ((entry & 0xFFFF) == language) {
            found = entry;
            return true;
        }
    if (!primaryOnly)
        return false;
    for (std::uint32_t entry : table)
        if ((entry & 0xFF) == (language & 0xFF)) {
            found = entry;
            return true;
        }
    return false;
}

std::uint16_t CFileVersionInfo::UserDefaultLanguage() {
    // Primary language numbers of the common languages, default sub-language.
    static const std::map<QLocale::Language, std::uint16_t> primary = {
        {QLocale::English, 0x09},         {QLocale::German, 0x07},  {QLocale::French, 0x0C},
        {QLocale::Spanish, 0x0A},         {QLocale::Italian, 0x10}, {QLocale::Dutch, 0x13},
        {QLocale::Portuguese, 0x16},      {QLocale::Swedish, 0x1D}, {QLocale::Danish, 0x06},
        {QLocale::NorwegianBokmal, 0x14}, {QLocale::Finnish, 0x0B}, {QLocale::Polish, 0x15},
        {QLocale::Japanese, 0x11},        {QLocale::Chinese, 0x04}, {QLocale::Russian, 0x19}};
    const auto it = primary.find(QLocale::system().language());
    return it == primary.end() ? 0 : static_cast<std::uint16_t>((1 << 10) | it->second);
}
