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

bool RerunAsNobodyInHomeOfItsOwn(const std::vector<std::string>& extra) {
    if (::geteuid() != 0)
        return false;
    // The runner's private home is closed to other users.
    grvtest::TempDir root("grv-nobody", grvtest::SharedTempRoot());
    EXPECT_EQ(::chmod(root.Path().c_str(), 0755), 0);
    std::vector<std::string> env = extra;
    const std::pair<const char*, const char*> places[] = {{"HOME", "home"},           {"XDG_CONFIG_HOME", "config"},
                                                          {"XDG_DATA_HOME", "data"},  {"XDG_CACHE_HOME", "cache"},
                                                          {"XDG_RUNTIME_DIR", "run"}, {"TMPDIR", "tmp"}};
    for (const auto& [name, folder] : places) {
        const std::string path = root.File(folder);
        EXPECT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
        EXPECT_EQ(::chown(path.c_str(), grvtest::kNobodyId, grvtest::kNobodyId), 0) << path;
        env.push_back(std::string(name) + "=" + path);
    }
    return grvtest::RerunCurrentTestAsNobody(env, root.Path());
}
