#include <QFile>

#include "ShellTestSupport.h"
#include "app/shell/FileVersionInfo.h"

namespace {

TEST(FileVersionInfo, TheProgramCarriesItsVersion) {
    CFileVersionInfo info;
    ASSERT_EQ(info.Create(), 1);
    EXPECT_EQ(info.GetProductVersion(), GRV_PROJECT_VERSION_QUAD);
    EXPECT_EQ(info.GetString(6), "Gorvane");
    EXPECT_EQ(info.Fixed().dwSignature, FixedFileInfo::kSignature);
    const QStringList v = QStringLiteral(GRV_PROJECT_VERSION_QUAD).split('.');
    EXPECT_EQ(info.Fixed().dwProductVersionMS, (v[0].toUInt() << 16) | v[1].toUInt());
    EXPECT_EQ(info.Fixed().dwProductVersionLS, (v[2].toUInt() << 16) | v[3].toUInt());
    info.Reset();
    EXPECT_TRUE(info.GetProductVersion().isEmpty());
    EXPECT_EQ(info.Fixed().dwSignature, 0u);
}

QString WriteRecord(const grvtest::QtTempDir& dir, const char* name, const QByteArray& text) {
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(text);
    return path;
}

// Each translation's table names its own language in ProductName.
QByteArray Record(const std::vector<const char*>& translations) {
    QByteArray text = "[VarFileInfo]\nTranslation=";
    for (const char* t : translations)
        text += QByteArray(t) + " ";
    text += "\n";
    for (const char* t : translations) {
        const QByteArray key = QByteArray(t).replace(" ", "").toUpper();
        text += "[StringFileInfo " + key + "]\nProductName=" + key + "\nProductVersion=1.0\n";
    }
    return text;
}

TEST(FileVersionInfo, TranslationFallsBackExactPrimaryNeutralEnglishFirst) {
    grvtest::QtTempDir dir;
    struct Case {
        std::vector<const char*> table;
        std::uint16_t user;
        const char* chosen;
    };
    const Case cases[] = {
        {{"0407 04e4", "0000 04b0", "0809 04b0"}, 0x0407, "040704E4"}, // exact
        {{"0407 04e4", "0000 04b0", "0809 04b0"}, 0x0C07, "040704E4"}, // same primary
        {{"0407 04e4", "0000 04b0", "0809 04b0"}, 0x0410, "000004B0"}, // neutral
        {{"0407 04e4", "0809 04b0"}, 0x0410, "080904B0"},              // English
        {{"040c 04e4", "0407 04e4"}, 0x0410, "040C04E4"},              // the first
    };
    for (const Case& c : cases) {
        const QString file = WriteRecord(dir, "v.ini", Record(c.table));
        CFileVersionInfo info;
        ASSERT_EQ(info.CreateFromFile(file, c.user), 1);
        EXPECT_EQ(info.GetString(6), c.chosen) << std::hex << c.user;
        EXPECT_EQ(info.GetProductVersion(), "1.0");
        EXPECT_EQ(info.Fixed().dwSignature, 0u) << "no fixed part in these records";
    }
}

TEST(FileVersionInfo, MissingOrBrokenRecordsFailAndLeaveNothing) {
    grvtest::QtTempDir dir;
    CFileVersionInfo info;
    ASSERT_EQ(info.Create(), 1);
    EXPECT_EQ(info.CreateFromFile(dir.filePath("none.ini"), 0x0409), 0);
    EXPECT_TRUE(info.GetProductVersion().isEmpty());
    EXPECT_EQ(info.CreateFromFile(WriteRecord(dir, "e.ini", "[VarFileInfo]\nTranslation=zz\n"), 0x0409), 0);
    EXPECT_EQ(info.CreateFromFile(WriteRecord(dir, "big.ini", QByteArray(70000, ';')), 0x0409), 0);
    // A bad fixed version leaves the fixed part empty but keeps the strings.
    const QByteArray badFixed =
        "[FixedFileInfo]\nFileVersion=1.2.3\nProductVersion=1.2.3.70000\n" + Record({"0409 04b0"});
    ASSERT_EQ(info.CreateFromFile(WriteRecord(dir, "f.ini", badFixed), 0x0409), 1);
    EXPECT_EQ(info.Fixed().dwSignature, 0u);
    EXPECT_EQ(info.GetString(6), "040904B0");
}

} // namespace
