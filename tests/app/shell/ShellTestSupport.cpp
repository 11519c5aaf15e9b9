#include "ShellTestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

int RunProgram(const QString& program, const QStringList& args, QByteArray* out, const QByteArray& input) {
    const grvtest::RunResult run = grvtest::RunProgram(program, args, input);
    if (out)
        *out = QByteArray::fromStdString(run.out);
    return run.status;
}
