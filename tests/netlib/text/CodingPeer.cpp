#include "CodingPeer.h"

#include <sstream>

#include "tests/support/TestSupport.h"

namespace codingpeer {

std::string toHex(const Bytes& b) { return grvtest::ToHex(b.data(), b.size()); }

Bytes fromHex(const std::string& hex) {
    Bytes b;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return b;
}

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string textOf(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::vector<Bytes> python(const std::string& body, const std::vector<Bytes>& inputs) {
    std::string indented;
    std::istringstream lines(body);
    for (std::string line; std::getline(lines, line);) indented += "    " + line + "\n";
    const std::string script = "import sys, base64, binascii, quopri, codecs, urllib.parse, email.header\n"
                               "for line in sys.stdin:\n"
                               "    data = bytes.fromhex(line.strip())\n" +
                               indented + "    sys.stdout.write(out.hex() + '\\n')\n";
    std::string all;
    for (const Bytes& b : inputs) all += toHex(b) + "\n";
    const auto peer = grvtest::Python(script, {}, all);
    if (peer.status != 0) return {};
    std::vector<Bytes> result;
    std::istringstream got(peer.out);
    for (std::string line; std::getline(got, line);) result.push_back(fromHex(line));
    return result;
}

Bytes runTool(const std::vector<std::string>& argv, const Bytes& input, int& status) {
    grvtest::RunOptions options;
    options.input = textOf(input);
    const auto run = grvtest::RunProgram(argv, options);
    status = run.status;
    return bytesOf(run.out);
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
