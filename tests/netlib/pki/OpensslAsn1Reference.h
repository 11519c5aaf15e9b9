#pragma once
// OpenSSL's ASN.1 walk (what `openssl asn1parse` runs) as the in-process
// judge of the fuzz harnesses: its verdict, and the items it lists as
// (depth, constructed, primitive length) in document order, the
// end-of-contents pairs left out.
#include <openssl/asn1.h>
#include <openssl/bio.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "netlib/pki/Asn1.h"

namespace fuzzref {

struct Item {
    int depth = 0;
    bool constructed = false;
    long length = 0; // primitive items only
    bool operator==(const Item&) const = default;
};

// False when OpenSSL refuses the encoding.
inline bool opensslWalk(const std::uint8_t* data, std::size_t size, std::vector<Item>& items) {
    items.clear();
    BIO* out = BIO_new(BIO_s_mem());
    if (!out)
        std::abort();
    // 2 tells an end-of-contents pair ended the walk at the top.
    const bool ok = ASN1_parse_dump(out, data, static_cast<long>(size), 0, 0) != 0;
    char* text = nullptr;
    long n = BIO_get_mem_data(out, &text);
    std::string listing(text ? text : "", text ? static_cast<std::size_t>(n) : 0);
    BIO_free(out);
    for (std::size_t at = 0; at < listing.size();) {
        std::size_t eol = listing.find('\n', at);
        const std::string line = listing.substr(at, eol == std::string::npos ? std::string::npos : eol - at);
        const std::size_t lineAt = at;
        at = eol == std::string::npos ? listing.size() : eol + 1;
        // "offset:d=depth  hl=n l=length cons: NAME" or "prim: NAME ...";
        // the fields are read in place.
        std::size_t d = line.find(":d=");
        std::size_t hl = line.find(" hl=", d == std::string::npos ? 0 : d);
        std::size_t l = line.find(" l=", hl == std::string::npos ? 0 : hl);
        if (d == std::string::npos || hl == std::string::npos || l == std::string::npos)
            continue;
        std::size_t kind = line.find_first_not_of(' ', line.find(' ', line.find_first_not_of(' ', l + 3)));
        if (kind == std::string::npos || line.compare(kind, 9, "prim: EOC") == 0)
            continue;
        Item item;
        item.depth = std::atoi(line.c_str() + d + 3);
        item.constructed = line.compare(kind, 5, "cons:") == 0;
        if (!item.constructed)
            item.length = std::atol(line.c_str() + l + 3);
        items.push_back(item);
        // A string's content follows its name and a colon as it stands, a
        // line feed or text like another item's line too: passed over by
        // its length, where the listing holds the content's own octets.
        const std::size_t colon = item.constructed ? std::string::npos : line.find(':', kind + 5);
        const std::size_t contentAt = static_cast<std::size_t>(std::atol(line.c_str())) +
                                      static_cast<std::size_t>(std::atol(line.c_str() + hl + 4));
        const auto length = static_cast<std::size_t>(item.length);
        const std::size_t printed = lineAt + colon + 1;
        if (colon != std::string::npos && contentAt <= size && length <= size - contentAt && length > 0 &&
            listing.compare(printed, length, reinterpret_cast<const char*>(data) + contentAt, length) == 0) {
            eol = listing.find('\n', printed + length);
            at = eol == std::string::npos ? listing.size() : eol + 1;
        }
    }
    return ok;
}

// OpenSSL's releases part on a zero length in the long form that ends its
// range (3.0.17 to 3.0.20 refuse it, 3.0.22 reads it; X.690 lets BER have
// it): input that may hold one is not put to the linked release.
inline bool releasesPart(const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t count = data[i] & 0x7F;
        if (!(data[i] & 0x80) || count == 0 || i + count >= size)
            continue;
        std::size_t k = 1;
        while (k <= count && data[i + k] == 0)
            ++k;
        if (k > count)
            return true;
    }
    return false;
}

// The same listing of a tree the BER reader gave.
inline void listNodes(const tessik::Asn1* node, int depth, std::vector<Item>& items) {
    Item item;
    item.depth = depth;
    item.constructed = node->primitive == 0;
    item.length = node->primitive ? static_cast<long>(node->length) : 0;
    items.push_back(item);
    for (int i = 0; i < node->getNumChildren(); ++i)
        listNodes(node->getChild(i), depth + 1, items);
}

// Stops the run, saying what disagreed, so the finding explains itself.
[[noreturn]] inline void disagree(const char* what) {
    std::fprintf(stderr, "reference disagrees: %s\n", what);
    std::abort();
}

// disagree, when the listings differ, at the first item where they part.
inline void compareListings(const std::vector<Item>& ours, const std::vector<Item>& theirs, const char* what) {
    std::size_t i = 0;
    while (i < ours.size() && i < theirs.size() && ours[i] == theirs[i])
        ++i;
    if (i == ours.size() && i == theirs.size())
        return;
    auto show = [](const char* who, const std::vector<Item>& items, std::size_t at) {
        if (at < items.size())
            std::fprintf(stderr, "%s item %zu: depth %d %s length %ld\n", who, at, items[at].depth,
                         items[at].constructed ? "constructed" : "primitive", items[at].length);
        else
            std::fprintf(stderr, "%s: no item %zu\n", who, at);
    };
    show("ours", ours, i);
    show("OpenSSL's", theirs, i);
    disagree(what);
}

} // namespace fuzzref
