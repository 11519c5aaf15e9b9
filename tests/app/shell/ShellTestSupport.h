#pragma once
// Shared set-up of the shell tests: scripted seams and a fresh profile.
#include <gtest/gtest.h>

#include <QDir>
#include <QStandardPaths>
#include <QString>
#include <memory>
#include <ostream>

#include "app/shell/Profile.h"
#include "platform/ui/Scripted.h"
#include "tests/support/QtTestSupport.h"

// Failures print a QString as its text.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        QDir(ConfigHome() + "/Bravenor").removeRecursively();
        QDir(ConfigHome() + "/autostart").removeRecursively();
        // No user answers the first-run wizard in a test; the tests of the
        // wizard and of a fresh profile start from FreshProfile() instead.
        grv::WriteProfileInt(grv::kSectionPrefs, grv::kFirstTimeWiz, 0);
    }
    // Nothing stored at all, as on a first start.
    static void FreshProfile() { QDir(ConfigHome() + "/Bravenor").removeRecursively(); }
    void TearDown() override {
        // No report of one test may reach the next one's sink.
        QDir(ConfigHome() + "/Bravenor").removeRecursively();
    }

    static QString ConfigHome() { return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation); }
    static QString ProfileFile() { return ConfigHome() + "/Bravenor/GRV.conf"; }
    static QString AutostartFile() { return ConfigHome() + "/autostart/Gorvane.desktop"; }

    std::shared_ptr<platform::ui::ScriptedPrompter> prompter = std::make_shared<platform::ui::ScriptedPrompter>();
    std::shared_ptr<platform::ui::ScriptedFileChooser> files = std::make_shared<platform::ui::ScriptedFileChooser>();
    std::shared_ptr<platform::ui::RecordingUsageSink> usage = std::make_shared<platform::ui::RecordingUsageSink>();
    platform::ui::ScopedSeams seams{{prompter, files, nullptr, usage}};
};

// grvtest::RunProgram's exit code, its standard output in out.
int RunProgram(const QString& program, const QStringList& args, QByteArray* out = nullptr,
               const QByteArray& input = {});

using grvtest::RerunAsNobodyInHomeOfItsOwn;
