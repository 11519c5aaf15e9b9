#include "CryptoTestSupport.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "tests/support/TestSupport.h"

namespace cryptotest {

std::string hex(const void* p, std::size_t n) {
    return grvtest::ToHex(static_cast<const unsigned char*>(p), n);
}

std::string hex(const tessik::DataBuffer& db) {
    return hex(db.getData(), db.getSize());
}

std::string hex(const std::string& bytes) {
    return grvtest::ToHex(bytes);
}

std::string str(const tessik::DataBuffer* db) {
    return db ? std::string(reinterpret_cast<const char*>(db->getData()), db->getSize()) : kFailed;
}

std::string unhex(const std::string& h) {
    std::string out;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2)
        out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
    return out;
}

std::string randomBytes(std::mt19937& rng, std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; i += 4) {
        std::uint32_t r = rng();
        for (std::size_t k = i; k < std::min(n, i + 4); ++k, r >>= 8)
            s[k] = static_cast<char>(r);
    }
    return s;
}

std::string dataPath(const std::string& name) {
    if (!name.empty() && name[0] == '/')
        return name;
    return std::string(GRV_TEST_DATA_DIR) + "/crypto/" + name;
}

std::vector<Record> readRecords(const std::string& file, const std::string& last) {
    std::ifstream in(dataPath(file));
    std::vector<Record> records;
    Record current;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::size_t eq = line.find(" = ");
        if (line.empty() || line[0] == '#' || line[0] == '[' || eq == std::string::npos)
            continue;
        current[line.substr(0, eq)] = line.substr(eq + 3);
        if (line.substr(0, eq) == last)
            records.push_back(current);
    }
    return records;
}

std::vector<std::pair<std::string, std::string>> readQuotedSuite(const std::string& file) {
    std::ifstream in(dataPath(file));
    std::vector<std::pair<std::string, std::string>> suite;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] != '"')
            continue;
        std::size_t close = line.rfind('"');
        suite.emplace_back(line.substr(1, close - 1), line.substr(close + 2));
    }
    return suite;
}

std::vector<std::string> peerDigests(const std::string& command, const std::vector<std::string>& files) {
    std::vector<std::string> argv;
    std::istringstream words(command);
    for (std::string word; words >> word;)
        argv.push_back(word);
    argv.insert(argv.end(), files.begin(), files.end());
    const auto run = grvtest::RunProgram(argv);
    std::vector<std::string> digests;
    if (run.status != 0)
        return digests;
    std::istringstream out(run.out);
    std::string line;
    while (std::getline(out, line)) {
        std::string digest;
        std::size_t colon = line.find(": ");
        if (colon != std::string::npos) {
            // nettle-hash: "file: 0123abcd 4567ef01 md2"
            std::istringstream words(line.substr(colon + 2));
            std::string word;
            while (words >> word)
                if (word.find_first_not_of("0123456789abcdef") == std::string::npos)
                    digest += word;
        } else {
            digest = line.substr(0, line.find(' ')); // openssl -r: "digest *file"
        }
        digests.push_back(digest);
    }
    return digests;
}

std::string cipherVectorPath(const std::string& relative) {
    return "/usr/lib/python3/dist-packages/cryptography_vectors/ciphers/" + relative;
}

std::vector<Record> readCavp(const std::string& file) {
    std::ifstream in(dataPath(file));
    std::vector<Record> records;
    Record current;
    std::string section, line;
    auto flush = [&] {
        if (current.count("COUNT"))
            records.push_back(current);
        current.clear();
        current["section"] = section;
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] == '[') {
            flush();
            section = line.substr(1, line.find(']') - 1);
            current["section"] = section;
            continue;
        }
        std::size_t eq = line.find(" = ");
        if (line.empty() || line[0] == '#' || eq == std::string::npos)
            continue;
        if (line.substr(0, eq) == "COUNT")
            flush();
        current[line.substr(0, eq)] = line.substr(eq + 3);
    }
    flush();
    return records;
}

} // namespace cryptotest
