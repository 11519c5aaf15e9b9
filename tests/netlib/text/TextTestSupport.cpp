#include "TextTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "netlib/text/DateTimeValue.h"
#include "platform/WinTime.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace texttest {

std::vector<std::string> readDataLines(const std::string& name) {
    const std::string path = std::string(GRV_TEST_DATA_DIR) + "/text/" + name;
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '#')
            continue;
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> pythonEach(const std::string& body, const std::vector<std::string>& inputs) {
    std::string indented;
    std::istringstream lines(body);
    for (std::string line; std::getline(lines, line);)
        indented += "    " + line + "\n";
    const std::string script = "import sys, base64, quopri, urllib.parse, email.header\n"
                               "for line in sys.stdin:\n"
                               "    data = bytes.fromhex(line.strip())\n" +
                               indented + "    sys.stdout.write(out.hex() + '\\n')\n";
    std::string all;
    for (const std::string& in : inputs)
        all += grvtest::ToHex(in) + "\n";
    const auto peer = grvtest::Python(script, {}, all);
    if (!peer.Ok())
        return {};
    std::vector<std::string> result;
    std::istringstream got(peer.out);
    for (std::string hex; std::getline(got, hex);) {
        std::string bytes;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        result.push_back(bytes);
    }
    return result;
}

std::string randomText(std::mt19937& rng, std::size_t n, const std::string& alphabet) {
    std::string s(n, '\0');
    for (char& c : s)
        c = alphabet.empty() ? static_cast<char>(rng() & 0xFF) : alphabet[rng() % alphabet.size()];
    return s;
}

std::string describe(const tessik::SysTimeValue& v) {
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d %d", v.year, v.month, v.day, v.hour, v.minute,
                  v.second, v.dayOfWeek);
    return text;
}

} // namespace texttest
