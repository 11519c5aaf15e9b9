#include "ShellTestSupport.h"

#include <QProcess>

int RunProgram(const QString& program, const QStringList& args, QByteArray* out,
               const QByteArray& input) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(10000)) return -1;
    if (!input.isEmpty()) p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (out) *out = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}
