#include "CodingPeer.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace codingpeer {
namespace {

std::string tempPath(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/" + name;
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream f(path, std::ios::binary);
    f << content;
}

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

}  // namespace

std::string toHex(const Bytes& b) {
    static const char* d = "0123456789abcdef";
    std::string s;
    for (unsigned char c : b) {
        s += d[c >> 4];
        s += d[c & 15];
    }
    return s;
}

Bytes fromHex(const std::string& hex) {
    Bytes b;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return b;
}

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string textOf(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::vector<Bytes> python(const std::string& body, const std::vector<Bytes>& inputs) {
    std::string script = tempPath("coding-peer.py");
    std::string in = tempPath("coding-peer.in");
    std::string out = tempPath("coding-peer.out");
    std::string indented;
    std::istringstream lines(body);
    for (std::string line; std::getline(lines, line);) indented += "        " + line + "\n";
    writeFile(script,
              "import sys, base64, binascii, quopri, codecs, urllib.parse, email.header\n"
              "with open(sys.argv[1]) as f, open(sys.argv[2], 'w') as o:\n"
              "    for line in f:\n"
              "        data = bytes.fromhex(line.strip())\n" +
                  indented + "        o.write(out.hex() + '\\n')\n");
    std::string all;
    for (const Bytes& b : inputs) all += toHex(b) + "\n";
    writeFile(in, all);
    std::remove(out.c_str());
    std::string cmd = "/usr/bin/python3 '" + script + "' '" + in + "' '" + out + "'";
    if (std::system(cmd.c_str()) != 0) return {};
    std::vector<Bytes> result;
    std::istringstream got(readFile(out));
    for (std::string line; std::getline(got, line);) result.push_back(fromHex(line));
    return result;
}

Bytes runTool(const std::string& command, const Bytes& input, int& status) {
    std::string in = tempPath("coding-tool.in");
    std::string out = tempPath("coding-tool.out");
    writeFile(in, textOf(input));
    status = std::system((command + " < '" + in + "' > '" + out + "'").c_str());
    return bytesOf(readFile(out));
}

Bytes randomBytes(std::mt19937& rng, std::size_t n, const std::string& alphabet) {
    Bytes b(n);
    for (auto& c : b) {
        if (alphabet.empty()) c = static_cast<unsigned char>(rng() & 0xFF);
        else c = static_cast<unsigned char>(alphabet[rng() % alphabet.size()]);
    }
    return b;
}

}  // namespace codingpeer
