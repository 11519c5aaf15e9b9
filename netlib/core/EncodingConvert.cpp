#include "netlib/core/EncodingConvert.h"

#include <atomic>
#include <string>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Utf.h"
#include "platform/CodePage.h"

namespace tessik {

namespace {

std::atomic<const CodePageEngine*> g_engine{nullptr};
thread_local std::uint64_t t_droppedInput = 0;

const unsigned char* bytePtr(const void* p) {
    return static_cast<const unsigned char*>(p);
}

// Swaps the bytes of every pair into `out`; an odd last byte is dropped.
void swapPairs(const unsigned char* p, unsigned int n, DataBuffer& out) {
    unsigned char block[512];
    unsigned fill = 0;
    for (unsigned int i = 0; i + 1 < n; i += 2) {
        block[fill++] = p[i + 1];
        block[fill++] = p[i];
        if (fill == sizeof block) {
            out.append(block, fill);
            fill = 0;
        }
    }
    if (fill)
        out.append(block, fill);
}

constexpr int kAsciiPage = 20127;
constexpr unsigned char kFirstNonAscii = 0x80;
constexpr unsigned char kReplacementUtf8[] = {0xEF, 0xBF, 0xBD};

struct OwnName {
    const char* name;
    int page;
};

// The names of the encodings read here without the code-page engine, as
// the engine's table has them.
constexpr OwnName kOwnNames[] = {
    {"ascii", kAsciiPage}, {"us-ascii", kAsciiPage}, {"utf-16", 1200},    {"utf-16be", 1201}, {"utf-16le", 1200},
    {"utf-32", 65005},     {"utf-32be", 65006},      {"utf-32le", 65005}, {"utf-8", 65001},   {"utf16", 1200},
    {"utf16be", 1201},     {"utf16le", 1200},        {"utf8", 65001},
};

// Blanks around it ignored, letters in lower case, '_' as '-'.
int ownCharsetPage(const char* name) {
    std::string n(name);
    const std::size_t first = n.find_first_not_of(" \t\r\n");
    const std::size_t last = n.find_last_not_of(" \t\r\n");
    n = first == std::string::npos ? std::string() : n.substr(first, last - first + 1);
    for (char& c : n)
        c = c == '_' ? '-' : asciiToLower(c);
    for (const OwnName& own : kOwnNames)
        if (n == own.name)
            return own.page;
    return 0;
}

} // namespace

void noteDroppedInput(std::uint64_t bytes) {
    t_droppedInput += bytes;
}

// Spans one public conversion, nested ones included: the outermost sets the
// count of what was skipped and tells the verbose log.
class EncodingConvert::DropTally {
public:
    explicit DropTally(EncodingConvert& ec) : m_ec(ec) {
        if (m_ec.m_depth++ == 0)
            m_ec.m_tallyAtStart = t_droppedInput;
    }
    ~DropTally() {
        if (--m_ec.m_depth != 0)
            return;
        m_ec.m_droppedInput = t_droppedInput - m_ec.m_tallyAtStart;
        if (m_ec.m_droppedInput == 0 || !m_ec.m_verboseLog)
            return;
        m_ec.m_verboseLog->logInfo("Conversion dropped input");
        m_ec.m_verboseLog->logDataLong("fromCodePage", m_ec.m_fromCodePage);
        m_ec.m_verboseLog->logDataLong("toCodePage", m_ec.m_toCodePage);
        m_ec.m_verboseLog->logDataInt64("numBytesDropped", static_cast<std::int64_t>(m_ec.m_droppedInput));
    }
    DropTally(const DropTally&) = delete;
    DropTally& operator=(const DropTally&) = delete;

private:
    EncodingConvert& m_ec;
};

EncodingConvert::EncodingConvert()
    : m_fromCodePage(0), m_toCodePage(0), m_droppedInput(0), m_verboseLog(nullptr), m_depth(0), m_tallyAtStart(0) {}
EncodingConvert::~EncodingConvert() = default;

void EncodingConvert::installEngine(const CodePageEngine* engine) {
    g_engine.store(engine);
}

bool EncodingConvert::isSupportedPage(int page) {
    switch (page) {
    case 1200:
    case 1201:
    case 65001:
    case 65005:
    case 65006: return true;
    case 65000: {
        const CodePageEngine* e = g_engine.load();
        return e && e->utf7ToUtf16 && e->utf16ToUtf7;
    }
    default: {
        const CodePageEngine* e = g_engine.load();
        return e && e->supportsPage && e->supportsPage(page);
    }
    }
}

int EncodingConvert::charsetToCodePage(const char* name) {
    if (!name)
        return 0;
    const CodePageEngine* e = g_engine.load();
    if (e && e->charsetNameToCodePage)
        return e->charsetNameToCodePage(name);
    return ownCharsetPage(name);
}

bool EncodingConvert::decodesCharsetName(const char* name) {
    const int page = charsetToCodePage(name);
    const CodePageEngine* e = g_engine.load();
    const bool whole = !e || !e->bytesWithinNamedCharset || e->bytesWithinNamedCharset(name, nullptr, 0);
    return page != 0 && (isSupportedPage(page) || page == kAsciiPage) && whole;
}

bool EncodingConvert::writesCharsetName(const char* name) {
    const int page = charsetToCodePage(name);
    return page != 0 && isSupportedPage(page);
}

bool EncodingConvert::withinNamedCharset(const char* name, const void* bytes, unsigned int count) {
    const CodePageEngine* e = g_engine.load();
    if (!name || !e || !e->bytesWithinNamedCharset)
        return true;
    // Null bytes ask another question of the engine.
    static constexpr unsigned char kNoBytes[1] = {0};
    return e->bytesWithinNamedCharset(name, bytes && count ? bytePtr(bytes) : kNoBytes, bytes ? count : 0);
}

bool EncodingConvert::utf8ToUtf16(const void* bytes, unsigned int count, DataBuffer& out) {
    return tessik::utf8ToUtf16(bytePtr(bytes), count, out);
}

bool EncodingConvert::codePageToUtf16(int page, const void* bytes, unsigned int count, DataBuffer& out) {
    DropTally tally(*this);
    if (!bytes || count == 0)
        return true;
    const CodePageEngine* e = g_engine.load();
    if (!e || !e->codePageToUtf16)
        return false;
    return e->codePageToUtf16(page, bytePtr(bytes), count, out);
}

bool EncodingConvert::utf16ToCodePage(int page, const void* bytes, unsigned int count, DataBuffer& out) {
    DropTally tally(*this);
    if (!bytes || count == 0)
        return true;
    const CodePageEngine* e = g_engine.load();
    if (!e || !e->utf16ToCodePage)
        return false;
    return e->utf16ToCodePage(page, bytePtr(bytes), count, out);
}

bool EncodingConvert::convert(int from, int to, const void* bytes, unsigned int count, DataBuffer& out) {
    DropTally tally(*this);
    if (to == 0)
        to = from;
    if (from == 0 || from == to)
        return out.append(bytes, count);
    if (!isSupportedPage(from) || !isSupportedPage(to))
        return false;
    const CodePageEngine* e = g_engine.load();
    DataBuffer front;
    if (e && e->frontEnd && bytes && count) {
        int via = e->frontEnd(from, bytePtr(bytes), count, front);
        if (via != 0 && via != from) {
            if (front.getSize() == 0)
                return true;
            return convert(via, to, front.getData(), front.getSize(), out);
        }
        if (via == from) {
            bytes = front.getData();
            count = front.getSize();
        }
    }
    m_fromCodePage = from;
    m_toCodePage = to;
    int backVia = e && e->backEndPage && e->backEnd ? e->backEndPage(to) : 0;
    if (backVia != 0) {
        DataBuffer mid;
        bool ok = convertViaUtf16(from, backVia, bytes, count, mid);
        if (mid.getSize())
            e->backEnd(to, mid.getData(), mid.getSize(), out);
        return ok;
    }
    switch (to) {
    case 65000: {
        DataBuffer utf16;
        if (!convertViaUtf16(from, 1200, bytes, count, utf16))
            return false;
        return e->utf16ToUtf7(utf16, out);
    }
    case 65005:
    case 65006: {
        DataBuffer utf8;
        if (!convertViaUtf16(from, 65001, bytes, count, utf8))
            return false;
        return to == 65005 ? utf8ToUtf32LE(utf8, out) : utf8ToUtf32BE(utf8, out);
    }
    case 1201: {
        DataBuffer le;
        convertViaUtf16(from, 1200, bytes, count, le);
        if (le.getSize() >= 2)
            swapPairs(le.getData(), le.getSize(), out);
        return true;
    }
    default: return convertViaUtf16(from, to, bytes, count, out);
    }
}

bool EncodingConvert::decodeToUtf8(int page, const void* bytes, unsigned int count, DataBuffer& out,
                                   std::uint64_t& replaced) {
    DropTally tally(*this);
    replaced = 0;
    const unsigned char* p = bytePtr(bytes);
    if (!p || count == 0)
        return true;
    switch (page) {
    case 65001: replaced = appendUtf8Replacing(p, count, out); return true;
    case 1200:
    case 1201: replaced = appendUtf16AsUtf8Replacing(p, count, page == 1201, out); return true;
    case 65005:
    case 65006: replaced = appendUtf32AsUtf8Replacing(p, count, page == 65006, out); return true;
    default: break;
    }
    const CodePageEngine* e = g_engine.load();
    // Every page read here has a replacing decoder: the lossy converters,
    // which drop what they cannot map, never see bytes read as text.
    if (e && e->codePageToUtf8Replacing)
        return e->codePageToUtf8Replacing(page, p, count, out, replaced);
    if (page != kAsciiPage)
        return false;
    for (unsigned int i = 0; i < count; ++i) {
        if (p[i] < kFirstNonAscii) {
            out.appendChar(p[i]);
        } else {
            out.append(kReplacementUtf8, sizeof kReplacementUtf8);
            ++replaced;
        }
    }
    return true;
}

int EncodingConvert::encodeUtf8Exactly(int page, const void* utf8, unsigned int count, DataBuffer& out) {
    DropTally tally(*this);
    m_fromCodePage = 65001;
    m_toCodePage = page;
    const unsigned char* p = bytePtr(utf8);
    switch (page) {
    case 1200:
    case 1201:
    case 65005:
    case 65006:
        // Every well-formed character has its one form; one that is not
        // well-formed is dropped, and so refused.
        return convert(65001, page, p, count, out) && t_droppedInput == m_tallyAtStart ? 1 : 0;
    default: {
        const CodePageEngine* e = g_engine.load();
        if (page == 65001 || !e || !e->convertUtf8Exactly)
            return -1;
        if (!p || count == 0)
            return isSupportedPage(page) ? 1 : -1;
        const int done = e->convertUtf8Exactly(page, p, count, out);
        return done == 1 && t_droppedInput != m_tallyAtStart ? 0 : done;
    }
    }
}

bool EncodingConvert::convertFromAnsi(int to, const void* bytes, unsigned int count, DataBuffer& out) {
    DropTally tally(*this);
    return convert(static_cast<int>(platform::GetACP()), to, bytes, count, out);
}

bool EncodingConvert::convertToAnsi(int from, const void* bytes, unsigned int count, DataBuffer& out) {
    DropTally tally(*this);
    return convert(from, static_cast<int>(platform::GetACP()), bytes, count, out);
}

bool EncodingConvert::convertBetweenCharsetNames(const char* fromName, const char* toName, const void* bytes,
                                                 unsigned int count, DataBuffer& out) {
    DropTally tally(*this);
    int from = charsetToCodePage(fromName);
    int to = charsetToCodePage(toName);
    if (from == 0 || to == 0)
        return false;
    return convert(from, to, bytes, count, out);
}

bool EncodingConvert::convertFromCharsetName(const char* fromName, int to, const void* bytes, unsigned int count,
                                             DataBuffer& out) {
    DropTally tally(*this);
    int from = charsetToCodePage(fromName);
    if (from == 0)
        return false;
    return convert(from, to, bytes, count, out);
}

bool EncodingConvert::convertToCharsetName(int from, const char* toName, const void* bytes, unsigned int count,
                                           DataBuffer& out) {
    DropTally tally(*this);
    int to = charsetToCodePage(toName);
    if (to == 0)
        return false;
    return convert(from, to, bytes, count, out);
}

bool EncodingConvert::convertWithPreamble(int from, int to, const void* bytes, unsigned int count, DataBuffer& out) {
    DropTally tally(*this);
    if (to == 0)
        to = from;
    if (from != 0 && from != to && (!isSupportedPage(from) || !isSupportedPage(to)))
        return false;
    if (to == 65001)
        out.append("\xEF\xBB\xBF", 3);
    if (to == 1200)
        out.append("\xFF\xFE", 2);
    if (to == 1201)
        out.append("\xFE\xFF", 2);
    return convert(from, to, bytes, count, out);
}

bool EncodingConvert::convertViaUtf16(int from, int to, const void* bytes, unsigned int count, DataBuffer& out) {
    DropTally tally(*this);
    if (from != to && (!isSupportedPage(from) || !isSupportedPage(to)))
        return false;
    const unsigned char* p = bytePtr(bytes);
    if (!p || count == 0)
        return true;
    // Byte-order marks decide over the page number.
    if (from == 65001 && count >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
        p += 3;
        count -= 3;
    } else if ((from == 1200 || from == 1201) && count >= 2) {
        if (p[0] == 0xFE && p[1] == 0xFF) {
            from = 1201;
            p += 2;
            count -= 2;
        } else if (p[0] == 0xFF && p[1] == 0xFE) {
            from = 1200;
            p += 2;
            count -= 2;
        }
    }
    if (count == 0)
        return true;
    if (from == to)
        return out.append(p, count);

    // To a hub.
    DataBuffer hubBytes;
    bool viaHub = true;
    if (from == 1201) {
        if (count < 2)
            return true;
        swapPairs(p, count, hubBytes);
        from = 1200;
    } else if (from == 65005 || from == 65006) {
        if (count < 4)
            return true;
        DataBuffer units;
        if (from == 65006) {
            for (unsigned int i = 0; i + 4 <= count; i += 4) {
                unsigned char r[4] = {p[i + 3], p[i + 2], p[i + 1], p[i]};
                units.append(r, 4);
            }
        } else {
            units.append(p, count);
        }
        utf32ToUtf8(units, hubBytes);
        from = 65001;
    } else if (from == 65000) {
        DataBuffer in;
        in.borrowData(p, count);
        g_engine.load()->utf7ToUtf16(in, hubBytes);
        from = 1200;
    } else {
        viaHub = false;
    }
    if (viaHub) {
        p = hubBytes.getData();
        count = hubBytes.getSize();
        if (count == 0)
            return true;
    }
    if (from == to)
        return out.append(p, count);

    if (from == 1200) {
        out.ensureCapacity(out.getSize() + count / 2 + 4);
        if (to == 65001)
            return tessik::utf16ToUtf8(p, count, out);
        return utf16ToCodePage(to, p, count, out);
    }
    if (to == 1200) {
        out.ensureCapacity(out.getSize() + 2 * count);
        if (from == 65001)
            return tessik::utf8ToUtf16(p, count, out);
        return codePageToUtf16(from, p, count, out);
    }
    const CodePageEngine* e = g_engine.load();
    if (e && e->convertDirect) {
        const int direct = e->convertDirect(from, to, p, count, out);
        if (direct >= 0)
            return direct != 0;
    }
    // Only the second step's result counts: bytes the source lacks are dropped
    // without failing a conversion that wrote the rest.
    DataBuffer utf16;
    if (from == 65001)
        tessik::utf8ToUtf16(p, count, utf16);
    else
        codePageToUtf16(from, p, count, utf16);
    if (to == 65001)
        return tessik::utf16ToUtf8(utf16.getData(), utf16.getSize(), out);
    return utf16ToCodePage(to, utf16.getData(), utf16.getSize(), out);
}

} // namespace tessik
