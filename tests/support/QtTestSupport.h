#pragma once
// tests/support for Qt tests: the same peer runner, taking and giving Qt's
// strings. Header-only, so the support library stays free of Qt.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace grvtest {

// The one temporary folder, answering in Qt's strings as QTemporaryDir does.
class QtTempDir : public TempDir {
public:
    QString path() const { return QString::fromStdString(Path()); }
    QString filePath(const QString& name) const { return QString::fromStdString(File(name.toStdString())); }
};

inline RunResult RunProgram(const QString& program, const QStringList& args, const QByteArray& input = {}) {
    std::vector<std::string> argv = {program.toStdString()};
    for (const QString& a : args)
        argv.push_back(a.toStdString());
    RunOptions options;
    options.input = input.toStdString();
    return RunProgram(argv, options);
}

} // namespace grvtest
