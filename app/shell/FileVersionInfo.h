#pragma once
// The program's version record: a fixed part with the version numbers and
// one table of named strings per translation (language, code page). The
// program carries its own as the resource ":/version.ini".
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

struct FixedFileInfo {
    static constexpr std::uint32_t kSignature = 0xFEEF04BD;
    std::uint32_t dwSignature = 0;
    std::uint32_t dwFileVersionMS = 0;
    std::uint32_t dwFileVersionLS = 0;
    std::uint32_t dwProductVersionMS = 0;
    std::uint32_t dwProductVersionLS = 0;
};

class CFileVersionInfo {
public:
    // The twelve names, in the record's order.
    static const char* const kStringNames[12];

    virtual ~CFileVersionInfo() = default;
    virtual void Reset();

    // From the program itself; 1 on success, 0 on failure.
    int Create();
    // From a version record file; userLanguage picks the translation.
    int CreateFromFile(const QString& file, std::uint16_t userLanguage);

    // One 32-bit translation entry: language in the low word, code page in
    // the high word. Exact language first; with primaryOnly, the low bytes.
    static bool FindTranslation(const std::vector<std::uint32_t>& table, std::uint16_t language, bool primaryOnly,
                                std::uint32_t& found);
    // The user's language as a Windows language identifier.
    static std::uint16_t UserDefaultLanguage();

    const FixedFileInfo& Fixed() const { return m_fixed; }
    QString GetString(int index) const { return m_strings[index]; }
    QString GetProductVersion() const { return m_strings[7]; }

private:
    FixedFileInfo m_fixed;
    QString m_strings[12];
};
