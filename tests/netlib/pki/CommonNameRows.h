#pragma once
// Leaves named only by a common name holding each printable byte (and a
// UTF-8 letter), under an intermediate whose DNS name constraints permit
// allowed.test or exclude corp.allowed.test, each asked for the host its
// name spells; with controls: common names and DNS names inside and outside
// the constraints, and a common name no constraint binds. The chain-engine
// table and the https road share them, as make_chains.py fields.
#include <string>
#include <vector>

namespace pkitest {

struct CommonNameRow {
    std::string caMore;   // the intermediate's fields
    std::string leafMore; // the leaf's
    std::string host;
    // Every name of the leaf of letters, digits, '-', '.' and '_' only: one
    // that openssl's constraints judge as well. Of the others, openssl's
    // constraints pass a wildcard or a name of other bytes by, and its host
    // check still matches it; here the constraints judge a wildcard, and a
    // name of other bytes names no host.
    bool plainName;
    // The names lie where the constraints allow them.
    bool allowed;
};

// Letters, digits, '-', '.', '_' and '*': a common name of these only may
// name a host.
inline bool hostNameCharacters(const std::string& name) {
    return name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._*") ==
           std::string::npos;
}

inline std::vector<CommonNameRow> commonNameRows() {
    const std::string permitted = R"(,"nc":{"permitted":["DNS:allowed.test"]})";
    const std::string excluded = R"(,"nc":{"excluded":["DNS:corp.allowed.test"]})";
    auto cn = [](const std::string& name) {
        std::string json;
        for (char c : name)
            json += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
        return R"(,"name":{"oid":"2.5.4.3","value":")" + json + "\"}";
    };
    auto plain = [](const std::string& s) { return hostNameCharacters(s) && s.find('*') == std::string::npos; };
    std::vector<std::string> middles;
    for (int c = 0x20; c < 0x7F; ++c)
        middles.emplace_back(1, static_cast<char>(c));
    middles.emplace_back("\xC3\xA9");
    std::vector<CommonNameRow> rows;
    for (const std::string& middle : middles) {
        const std::string out = "a" + middle + "b.other.test", in = "a" + middle + "b.corp.allowed.test";
        rows.push_back({permitted, cn(out), out, plain(out), false});
        rows.push_back({excluded, cn(in), in, plain(in), false});
    }
    rows.push_back({permitted, cn("a_b.allowed.test"), "a_b.allowed.test", true, true});
    rows.push_back({excluded, cn("a_b.allowed.test"), "a_b.allowed.test", true, true});
    rows.push_back({permitted, R"(,"san":["DNS:www.allowed.test"])", "www.allowed.test", true, true});
    rows.push_back({permitted, R"(,"san":["DNS:www.other.test"])", "www.other.test", true, false});
    rows.push_back({excluded, R"(,"san":["DNS:a_b.corp.allowed.test"])", "a_b.corp.allowed.test", true, false});
    rows.push_back({"", cn("a b.allowed.test"), "a b.allowed.test", false, true});
    return rows;
}

} // namespace pkitest
