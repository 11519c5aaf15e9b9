#pragma once
// The distinguished names a TLS server lists in its CertificateRequest, as
// text, and the table of texts they are kept in.
#include <cstdint>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/StringBuffer.h"

namespace tessik {

class DataBuffer;
class LogBase;
class TreeNode;
class XString;

class DistinguishedName {
public:
    DistinguishedName() = default;
    virtual ~DistinguishedName();
    DistinguishedName(const DistinguishedName&) = delete;
    DistinguishedName& operator=(const DistinguishedName&) = delete;

    // False, with an empty tree, for DER that does not decode.
    bool loadDer(const DataBuffer& der, LogBase& log);
    // Appends NAME=value pairs in DER order, ", " between them (also before
    // the first when out already holds text).
    bool getDnString(XString& out, LogBase& log);

private:
    void clear();
    TreeNode* m_tree = nullptr;
};

// Texts back to back, with their offsets and lengths.
class _tsStringTable {
public:
    _tsStringTable() = default;
    virtual ~_tsStringTable() = default;
    _tsStringTable(const _tsStringTable&) = delete;
    _tsStringTable& operator=(const _tsStringTable&) = delete;

    // Ignored for null, empty, or text whose first byte is 0.
    void appendBytes(const char* text, std::uint32_t n);
    std::uint32_t getCount() const { return m_count; }
    // The i-th text appended to out; false out of range.
    bool getStringAt(std::uint32_t index, StringBuffer& out) const;
    int getOffset(std::uint32_t index) const { return m_offsets.elementAt(static_cast<int>(index)); }
    int getLength(std::uint32_t index) const { return m_lengths.elementAt(static_cast<int>(index)); }
    const StringBuffer& getTexts() const { return m_texts; }

private:
    std::uint32_t m_count = 0;
    StringBuffer m_texts;
    ExtIntArray m_offsets;
    ExtIntArray m_lengths;
};

} // namespace tessik
