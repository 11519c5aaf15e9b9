#pragma once
// Leaves named only by a common name holding each printable byte (and a
// UTF-8 letter), under an intermediate whose DNS name constraints permit
// allowed.test or exclude corp.allowed.test, each asked for the host its
// name spells; common names under every string type and tag, and written
// constructed; CJK text whose UTF-16 bytes spell a host; alternative names
// written constructed (BER segments), empty or unreadable; an address leaf
// and a one-label common name under DNS constraints; with controls: common
// names and DNS names inside and outside the constraints, and a common name
// no constraint binds. The chain-engine table and the https road share them,
// as make_chains.py fields.
#include <string>
#include <vector>

namespace pkitest {

// Why the https road refuses a row's server, if it does.
enum class NameRefusal { kNone, kOutsideConstraints, kNoHost, kBadExtension };

struct CommonNameRow {
    std::string caMore;   // the intermediate's fields
    std::string leafMore; // the leaf's
    std::string host;
    // Our verdict is openssl's. Where it is not: openssl's constraints pass
    // a wildcard, a name of other bytes than letters, digits, '-', '.' and
    // '_', or a name of one label by, and its host check still matches it;
    // here the constraints judge a wildcard, and the other two name no host.
    bool plainName;
    NameRefusal refusal;
    // openssl cannot read the leaf (a name value of a type it does not take
    // as text), so no s_server can show it.
    bool unreadable = false;
};

// Letters, digits, '-', '.', '_' and '*': a common name of these only may
// name a host.
inline bool hostNameCharacters(const std::string& name) {
    return name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._*") ==
           std::string::npos;
}

// Hex of an ASN.1 item (short lengths only).
inline std::string tlvHex(unsigned char tag, const std::string& content) {
    static const char kDigits[] = "0123456789abcdef";
    const std::string bytes = std::string(1, static_cast<char>(tag)) + static_cast<char>(content.size()) + content;
    std::string hex;
    for (unsigned char c : bytes)
        hex += std::string{kDigits[c >> 4], kDigits[c & 0xF]};
    return hex;
}

// ASCII text in 2 or 4 bytes a character, big-endian.
inline std::string wideBigEndian(const std::string& ascii, std::size_t width) {
    std::string out;
    for (char c : ascii)
        out += std::string(width - 1, '\0') + c;
    return out;
}

inline std::string bytesOfHex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

inline std::vector<CommonNameRow> commonNameRows() {
    using R = NameRefusal;
    const std::string permitted = R"(,"nc":{"permitted":["DNS:allowed.test"]})";
    const std::string excluded = R"(,"nc":{"excluded":["DNS:corp.allowed.test"]})";
    auto cn = [](const std::string& name) {
        std::string json;
        for (char c : name)
            json += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
        return R"(,"name":{"oid":"2.5.4.3","value":")" + json + "\"}";
    };
    auto cnItem = [](const std::string& hex) { return R"(,"name":{"oid":"2.5.4.3","der":")" + hex + "\"}"; };
    auto plain = [](const std::string& s) { return hostNameCharacters(s) && s.find('*') == std::string::npos; };
    std::vector<std::string> middles;
    for (int c = 0x20; c < 0x7F; ++c)
        middles.emplace_back(1, static_cast<char>(c));
    middles.emplace_back("\xC3\xA9");
    std::vector<CommonNameRow> rows;
    for (const std::string& middle : middles) {
        const std::string out = "a" + middle + "b.other.test", in = "a" + middle + "b.corp.allowed.test";
        const R refusal = hostNameCharacters(out) ? R::kOutsideConstraints : R::kNoHost;
        rows.push_back({permitted, cn(out), out, plain(out), refusal});
        rows.push_back({excluded, cn(in), in, plain(in), refusal});
    }
    rows.push_back({permitted, cn("a_b.allowed.test"), "a_b.allowed.test", true, R::kNone});
    rows.push_back({excluded, cn("a_b.allowed.test"), "a_b.allowed.test", true, R::kNone});
    rows.push_back({permitted, R"(,"san":["DNS:www.allowed.test"])", "www.allowed.test", true, R::kNone});
    rows.push_back({permitted, R"(,"san":["DNS:www.other.test"])", "www.other.test", true, R::kOutsideConstraints});
    rows.push_back(
        {excluded, R"(,"san":["DNS:a_b.corp.allowed.test"])", "a_b.corp.allowed.test", true, R::kOutsideConstraints});
    rows.push_back({"", cn("a b.allowed.test"), "a b.allowed.test", false, R::kNoHost});

    // The string types openssl reads as text, each decoded: a host inside no
    // constraint, and one outside them. Constructed, the segments joined.
    const std::string named = "www.grv.test", outside = "www.other.test";
    auto segments = [](const std::string& text) {
        return tlvHex(0x04, text.substr(0, 4)) + tlvHex(0x04, text.substr(4));
    };
    const struct {
        unsigned char tag;
        std::size_t width;
    } texts[] = {{0x0C, 1}, {0x12, 1}, {0x13, 1}, {0x14, 1}, {0x16, 1}, {0x1E, 2}, {0x1C, 4}};
    for (const auto& type : texts) {
        rows.push_back({"", cnItem(tlvHex(type.tag, wideBigEndian(named, type.width))), named, true, R::kNone});
        rows.push_back({permitted, cnItem(tlvHex(type.tag, wideBigEndian(outside, type.width))), outside, true,
                        R::kOutsideConstraints});
    }
    rows.push_back({"", cnItem(tlvHex(0x2C, bytesOfHex(segments(named)))), named, true, R::kNone});
    rows.push_back({permitted, cnItem(tlvHex(0x3E, bytesOfHex(tlvHex(0x04, wideBigEndian(outside, 2))))), outside, true,
                    R::kOutsideConstraints});
    // The same bytes as text of no host: UTF-16 that is CJK text, a NUL
    // inside, and tags that are no string openssl reads as text (OCTET
    // STRING, RELATIVE-OID, VisibleString, GraphicString, GeneralString,
    // UTCTime, a context tag primitive and constructed).
    rows.push_back({"", cnItem(tlvHex(0x1E, outside)), outside, true, R::kNoHost});
    rows.push_back({"", cnItem(tlvHex(0x1E, wideBigEndian(named, 2) + std::string(2, '\0') + std::string("\0x", 2))),
                    named, true, R::kNoHost});
    for (unsigned char tag : {0x04, 0x1A, 0x19, 0x1B, 0x17, 0x80})
        rows.push_back({"", cnItem(tlvHex(tag, named)), named, true, R::kNoHost, true});
    rows.push_back({"", cnItem(tlvHex(0xA0, bytesOfHex(tlvHex(0x0C, named)))), named, true, R::kNoHost, true});
    rows.push_back({"", cnItem(tlvHex(0x0D, named)), named, true, R::kNoHost});
    // Beside a common name of no text, none names a host: openssl stops at
    // that one, or, where it comes second, at the match before it.
    const std::string notText = R"({"oid":"2.5.4.3","der":")" + tlvHex(0x0D, named) + "\"}";
    const std::string text = R"({"oid":"2.5.4.3","value":")" + named + "\"}";
    rows.push_back({"", R"(,"name":[)" + notText + "," + text + "]", named, true, R::kNoHost});
    rows.push_back({"", R"(,"name":[)" + text + "," + notText + "]", named, false, R::kNoHost});

    // Alternative names written constructed mean DNS names as much as
    // primitive ones do: the common name is not read beside them.
    auto altNames = [&](const std::string& hex) {
        return cn("victim.test") + R"(,"ext":[{"oid":"2.5.29.17","value":")" + tlvHex(0x30, bytesOfHex(hex)) + "\"}]";
    };
    const std::string inside = "a.allowed.test";
    rows.push_back({"", altNames(tlvHex(0xA2, bytesOfHex(tlvHex(0x04, inside)))), "victim.test", true, R::kNoHost});
    rows.push_back({"", altNames(tlvHex(0xA2, bytesOfHex(tlvHex(0x04, inside)))), inside, true, R::kNone});
    rows.push_back({"", altNames(tlvHex(0xA2, "")), "victim.test", true, R::kNoHost});
    rows.push_back({permitted, altNames(tlvHex(0xA2, bytesOfHex(segments("a.other.test")))), "a.other.test", true,
                    R::kOutsideConstraints});
    rows.push_back({excluded,
                    altNames(tlvHex(0xA2, bytesOfHex(tlvHex(0x16, "a.corp.") + tlvHex(0x16, "allowed.test")))),
                    "a.corp.allowed.test", true, R::kOutsideConstraints});
    rows.push_back({R"(,"nc":{"permitted":["IP:10.0.0.0/8"]})",
                    altNames(tlvHex(0xA7, bytesOfHex(tlvHex(0x04, std::string("\x7f\x00\x00\x01", 4))))), "127.0.0.1",
                    true, R::kOutsideConstraints});
    // Unreadable: openssl refuses the whole certificate, and so do we.
    rows.push_back({"", cn(named) + R"(,"ext":[{"oid":"2.5.29.17","value":"0500"}])", named, true, R::kBadExtension});
    // So with a name of no GeneralName tag ([9]), or of a form its tag does
    // not allow (a primitive directory name), beside a DNS name or alone, and
    // with segments nested deeper than openssl reads: never the common name
    // in their place.
    rows.push_back({"", altNames(tlvHex(0x89, inside)), "victim.test", true, R::kBadExtension});
    rows.push_back({"", altNames(tlvHex(0x82, inside) + tlvHex(0x84, bytesOfHex(tlvHex(0x04, "x")))), inside, true,
                    R::kBadExtension});
    auto nested = [](unsigned char outer, const std::string& text) {
        std::string hex = tlvHex(0x04, text);
        for (int level = 0; level < 6; ++level)
            hex = tlvHex(0x24, bytesOfHex(hex));
        return tlvHex(outer, bytesOfHex(hex));
    };
    rows.push_back({"", altNames(nested(0xA2, inside)), inside, true, R::kBadExtension});
    rows.push_back({"", cnItem(nested(0x2C, named)), named, true, R::kNoHost, true});

    // An address leaf with a one-label common name: DNS constraints do not
    // bind it (one of two labels they do), and an address host is named only
    // by an address. A one-label common name alone names no host here, where
    // openssl's constraints pass it by and its host check matches it.
    rows.push_back({permitted, cn("nas") + R"(,"san":["IP:127.0.0.1"])", "127.0.0.1", true, R::kNone});
    rows.push_back(
        {permitted, cn("nas.other.test") + R"(,"san":["IP:127.0.0.1"])", "127.0.0.1", true, R::kOutsideConstraints});
    rows.push_back({permitted, cn("localhost"), "localhost", false, R::kNoHost});
    return rows;
}

} // namespace pkitest
