#include "CryptoTestSupport.h"

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>

#include "netlib/crypto/ChainedBlockCipher.h"
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

std::string chunkedRun(tessik::ChainedBlockCipher& c, bool encrypt, const std::string& data,
                       const std::vector<std::size_t>& cuts) {
    tessik::LogNull log;
    const std::size_t block = c.blockSize();
    tessik::DataBuffer carried;
    unsigned char ivArea[tessik::ChainedBlockCipher::kMaxBlock] = {};
    std::string pending, result;
    std::size_t from = 0;
    bool started = false; // as the component's chunk-in-progress flag
    for (std::size_t i = 0; i <= cuts.size(); ++i) {
        const bool last = i == cuts.size(), first = !started;
        const std::size_t to = last ? data.size() : cuts[i];
        pending += data.substr(from, to - from);
        from = to;
        std::size_t take = last ? pending.size() : pending.size() - pending.size() % block;
        if (!encrypt && !last && take == pending.size() && take >= block)
            take -= block;
        Bytes in(pending.substr(0, take));
        pending.erase(0, take);
        std::unique_ptr<tessik::DataBuffer> out;
        started = started || in.getSize() > 0;
        if (first && last) // nothing went out yet: one whole-buffer call
            out.reset(encrypt ? c.encryptDbNew(in, log) : c.decryptDbNew(in, log));
        else if (encrypt)
            out.reset(first  ? c.encryptFirstChunk(in, carried, log)
                      : last ? c.encryptLastChunk(in, carried, log)
                             : c.encryptNextChunk(in, carried, log));
        else
            out.reset(first  ? c.decryptFirstChunk(in, ivArea, log)
                      : last ? c.decryptLastChunk(in, ivArea, log)
                             : c.decryptNextChunk(in, ivArea, log));
        if (!out)
            return kFailed;
        result += str(out.get());
    }
    return result;
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

bool LineLog::logError(const char* text) {
    lines.push_back(std::string("E:") + text);
    return true;
}

bool LineLog::logInfo(const char* text) {
    lines.push_back(std::string("I:") + text);
    return true;
}

bool LineLog::logData(const char* tag, const char* value) {
    lines.push_back(std::string("D:") + tag + "=" + value);
    return true;
}

bool LineLog::logDataLong(const char* tag, int value) {
    return logData(tag, std::to_string(value).c_str());
}

bool LineLog::has(const std::string& line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string LineLog::all() const {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

std::vector<std::pair<std::string, std::string>> readLabelledHex(const std::string& file) {
    std::ifstream in(dataPath(file));
    std::vector<std::pair<std::string, std::string>> sections;
    std::string line;
    bool open = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("# ", 0) == 0) {
            std::size_t colon = line.find(':');
            open = colon != std::string::npos && line.find_first_not_of(' ', colon + 1) == std::string::npos;
            if (open)
                sections.emplace_back(line.substr(2, colon - 2), std::string());
            continue;
        }
        if (!open || line.empty() || line.find_first_not_of("0123456789abcdefABCDEF ") != std::string::npos) {
            open = false;
            continue;
        }
        std::string digits;
        for (char c : line)
            if (c != ' ')
                digits += c;
        sections.back().second += unhex(digits);
    }
    return sections;
}

} // namespace cryptotest
