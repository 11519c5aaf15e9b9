#pragma once
// Runs a reference peer (python3 and the like) on files in the test's TMPDIR.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace peer {

inline std::string tempPath(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/" + name;
}

inline bool writeFile(const std::string& path, const std::string& content) {
    std::ofstream f(path, std::ios::binary);
    f << content;
    return static_cast<bool>(f);
}

inline std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// Runs `command` with stdin from `input` and returns its stdout; the exit
// status lands in `status`.
inline std::string run(const std::string& command, const std::string& input, int& status) {
    std::string in = tempPath("peer-in.txt");
    std::string out = tempPath("peer-out.txt");
    writeFile(in, input);
    status = std::system((command + " < '" + in + "' > '" + out + "'").c_str());
    return readFile(out);
}

inline std::string toHex(const unsigned char* p, size_t n) {
    static const char* d = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += d[p[i] >> 4];
        s += d[p[i] & 15];
    }
    return s;
}

}  // namespace peer
