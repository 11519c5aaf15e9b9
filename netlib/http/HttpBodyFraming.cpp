#include "netlib/http/HttpBodyFraming.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/http/MimeHeader.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/Gzip.h"
#include "netlib/streams/Output.h"

namespace tessik {

namespace {
constexpr const char* kContentEncoding = "Content-Encoding";

bool isRedirect(std::uint32_t status) {
    return status >= http_status::kRedirectFirst && status < http_status::kClientErrorFirst;
}

// Calls each(item) for the trimmed items of a comma-separated list.
template <typename Each>
bool forEachListItem(const StringBuffer& value, Each each) {
    const std::string list = value.getString();
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t end = list.find(',', start);
        if (end == std::string::npos)
            end = list.size();
        StringBuffer item(list.substr(start, end - start).c_str());
        item.trimWhitespace();
        start = end + 1;
        if (!each(item))
            return false;
    }
    return true;
}

enum class TransferCodings { kNone, kChunked, kOther };

// The Transfer-Encoding fields as one list (RFC 9110 section 5.3), as curl
// reads them: empty members and identity name nothing, and chunked alone
// frames the body; any other coding is one nobody here undoes.
TransferCodings readTransferCodings(const HttpResponseHeader& header) {
    std::vector<std::string> values;
    header.getFieldValues("Transfer-Encoding", values);
    bool chunked = false;
    bool other = false;
    for (const std::string& value : values) {
        forEachListItem(StringBuffer(value.c_str()), [&](const StringBuffer& coding) {
            if (coding.equalsNoCase("chunked"))
                chunked = true;
            else if (coding.getSize() != 0 && !coding.equalsNoCase("identity"))
                other = true;
            return true;
        });
    }
    return other ? TransferCodings::kOther : chunked ? TransferCodings::kChunked : TransferCodings::kNone;
}
} // namespace

BodyFraming decideBodyFraming(const HttpResponseHeader& header, bool headRequest, bool followsRedirect) {
    BodyFraming f;
    const std::uint32_t status = header.getStatusCode();
    if (headRequest || status < http_status::kSuccessFirst || status == http_status::kNoContent ||
        status == http_status::kNotModified)
        return f;
    // Most responses have none: looked for before the fields are taken apart.
    const TransferCodings codings =
        header.hasField("Transfer-Encoding") ? readTransferCodings(header) : TransferCodings::kNone;
    if (codings == TransferCodings::kChunked) {
        f.kind = BodyFraming::kChunked;
        return f;
    }
    // Any other coding, as sent, is one the library cannot undo: its body
    // is not what was asked for, however long (curl refuses it too). The
    // body of a redirect that is followed is nobody's: not read, as one
    // without framing.
    if (codings == TransferCodings::kOther) {
        f.closeAfter = true;
        f.kind = followsRedirect && isRedirect(status) ? BodyFraming::kSkip : BodyFraming::kBadCoding;
        return f;
    }
    if (header.contentLengthInvalid()) {
        f.kind = BodyFraming::kRefused;
        f.closeAfter = true;
        return f;
    }
    if (header.hasContentLength()) {
        f.kind = BodyFraming::kLength;
        f.length = static_cast<std::uint64_t>(header.getContentLength());
        return f;
    }
    f.closeAfter = true;
    f.kind = isRedirect(status) ? BodyFraming::kSkip : BodyFraming::kUntilClose;
    return f;
}

bool checkBodyLength(const BodyFraming& framing, std::uint64_t maxSize, LogBase& log) {
    if (framing.kind != BodyFraming::kLength || maxSize == 0 || framing.length <= maxSize)
        return true;
    log.logError(http_body::kMsgLengthTooLarge);
    log.logDataInt64("maxContentLength", static_cast<std::int64_t>(maxSize));
    return false;
}

namespace {

enum class Coding { kGzip, kDeflate };

// The codings the answer's Content-Encoding fields name, in the order they
// were applied; false (with the reason, and the coding in `unknown`) for one
// the library does not undo.
bool readCodings(const HttpResponseHeader& header, std::vector<Coding>& codings, StringBuffer& unknown, LogBase& log) {
    codings.clear();
    unknown.clear();
    if (!header.hasField(kContentEncoding))
        return true;
    const MimeHeader& fields = header.getFields();
    for (int i = 0; i < fields.getCount(); ++i) {
        StringBuffer name, value;
        if (!fields.getNameAt(i, name) || !name.equalsNoCase(kContentEncoding) || !fields.getValueAt(i, value))
            continue;
        const bool known = forEachListItem(value, [&](const StringBuffer& coding) {
            // "none" is no coding, as curl takes it.
            if (coding.getSize() == 0 || coding.equalsNoCase("identity") || coding.equalsNoCase("none"))
                return true;
            if (coding.equalsNoCase("gzip") || coding.equalsNoCase("x-gzip")) {
                codings.push_back(Coding::kGzip);
            } else if (coding.equalsNoCase("deflate")) {
                codings.push_back(Coding::kDeflate);
            } else {
                unknown.setSb(coding);
                return false;
            }
            return true;
        });
        if (!known) {
            log.logError(http_body::kMsgUnknownCoding);
            log.logData("contentEncoding", unknown.getString());
            return false;
        }
    }
    return true;
}

bool readCodings(const HttpResponseHeader& header, std::vector<Coding>& codings, LogBase& log) {
    StringBuffer unknown;
    return readCodings(header, codings, unknown, log);
}

// Whether an Accept-Encoding value names the coding with a weight above 0.
bool acceptsCoding(const StringBuffer& accepted, const StringBuffer& coding) {
    return !forEachListItem(accepted, [&](const StringBuffer& item) {
        const std::string text = item.getString();
        const std::size_t semicolon = text.find(';');
        StringBuffer name(text.substr(0, semicolon).c_str());
        name.trimWhitespace();
        if (!name.equalsNoCase(coding.getString()))
            return true;
        if (semicolon == std::string::npos)
            return false;
        // "q=0", "q=0.0" and the like refuse it.
        std::string weight = text.substr(semicolon + 1);
        std::erase(weight, ' ');
        return weight.size() > 2 && (weight[0] == 'q' || weight[0] == 'Q') && weight[1] == '=' && weight[2] == '0' &&
               weight.find_first_not_of("0.", 2) == std::string::npos;
    });
}

} // namespace

bool hasContentCoding(const HttpResponseHeader& header) {
    std::vector<Coding> codings;
    LogNull quiet;
    return !readCodings(header, codings, quiet) || !codings.empty();
}

bool codingAskedByCaller(const HttpResponseHeader& header, const StringBuffer& requestHead) {
    std::vector<Coding> codings;
    StringBuffer unknown;
    LogNull quiet;
    if (readCodings(header, codings, unknown, quiet))
        return false;
    const std::string head = requestHead.getString();
    for (std::size_t start = 0; start < head.size();) {
        std::size_t end = head.find('\n', start);
        if (end == std::string::npos)
            end = head.size();
        const std::string line = head.substr(start, end - start);
        start = end + 1;
        const std::size_t colon = line.find(':');
        StringBuffer name(line.substr(0, colon).c_str());
        if (colon == std::string::npos || !name.equalsNoCase("Accept-Encoding"))
            continue;
        if (acceptsCoding(StringBuffer(line.substr(colon + 1).c_str()), unknown))
            return true;
    }
    return false;
}

void storedHead(const HttpResult& result, StringBuffer& out) {
    out.clear();
    const HttpResponseHeader& header = result.responseHeader;
    StringBuffer full;
    header.getKeptHead(full);
    std::vector<Coding> codings;
    LogNull quiet;
    if (result.bodyCoded || result.codingAsked || !readCodings(header, codings, quiet) || codings.empty()) {
        out.setSb(full);
        return;
    }
    const std::string head = full.getString();
    bool dropping = false;
    for (std::size_t start = 0; start < head.size();) {
        std::size_t end = head.find('\n', start);
        end = end == std::string::npos ? head.size() : end + 1;
        const std::string line = head.substr(start, end - start);
        start = end;
        const bool folded = line[0] == ' ' || line[0] == '\t';
        if (!folded) {
            StringBuffer name(line.substr(0, line.find(':')).c_str());
            dropping = line.find(':') != std::string::npos && name.equalsNoCase(kContentEncoding);
        }
        if (!dropping)
            out.append(line.c_str());
    }
}

bool codedAsGzipOnly(const HttpResponseHeader& header) {
    std::vector<Coding> codings;
    LogNull quiet;
    return readCodings(header, codings, quiet) && codings.size() == 1 && codings[0] == Coding::kGzip;
}

ContentDecoder::ContentDecoder(const HttpResponseHeader& header, Output& out, std::uint64_t maxSize, LogBase& log)
    : m_entry(&out) {
    std::vector<Coding> codings;
    m_known = readCodings(header, codings, log);
    // The coding applied first is undone last, into out; each layer's
    // output within the same limit as the content.
    for (const Coding coding : codings) {
        m_limits.push_back(std::make_unique<CappedOutput>(*m_entry, maxSize));
        m_layers.push_back(std::make_unique<UnpackOutput>(coding == Coding::kDeflate ? UnpackOutput::Format::kDeflate
                                                                                     : UnpackOutput::Format::kGzip,
                                                          *m_limits.back()));
        m_entry = m_layers.back().get();
    }
}

ContentDecoder::~ContentDecoder() = default;

bool ContentDecoder::failed(LogBase& log) {
    if (!m_reported) {
        m_reported = true;
        const bool tooLarge =
            std::any_of(m_limits.begin(), m_limits.end(), [](const auto& l) { return l->limitHit(); });
        log.logError(tooLarge ? http_body::kMsgDecodedTooLarge : http_body::kMsgCodingNotUndone);
    }
    return false;
}

std::uint32_t ContentDecoder::writeBytes(const void* data, std::uint32_t size, std::uint32_t count,
                                         ProgressMonitor* monitor, LogBase& log) {
    return writeBytes64(data, size, count, monitor, log);
}

std::uint32_t ContentDecoder::writeBytes64(const void* data, std::uint64_t size, std::uint32_t count,
                                           ProgressMonitor* monitor, LogBase& log) {
    std::uint64_t bytes = 0;
    if (!m_known || m_reported || !blockByteCount(size, count, bytes))
        return 0;
    const std::uint32_t n = m_entry->writeBytes64(data, size, count, monitor, log);
    if (n != count) {
        failed(log);
        return 0;
    }
    m_taken += bytes;
    return n;
}

bool ContentDecoder::finish(LogBase& log) {
    if (!m_known || m_reported)
        return false;
    // The last coding applied is undone first: its end may still write on.
    for (auto layer = m_layers.rbegin(); layer != m_layers.rend(); ++layer)
        if (!(*layer)->finish(log))
            return failed(log);
    return true;
}

bool undoContentCodings(const HttpResponseHeader& header, DataSource& in, std::uint64_t size, Output& out,
                        std::uint64_t maxSize, LogBase& log) {
    // An empty body is nothing to undo, whatever coding it names, as in
    // memory and into a FIFO.
    if (size == 0)
        return true;
    std::vector<Coding> codings;
    if (!readCodings(header, codings, log))
        return false;
    if (codings.empty())
        return true;
    ContentDecoder decoder(header, out, maxSize, log);
    return in.copyToOutput(decoder, nullptr, &log) && decoder.finish(log);
}

bool undoContentCodings(const HttpResponseHeader& header, DataBuffer& body, std::uint64_t maxSize, LogBase& log,
                        ProgressMonitor* pm) {
    if (body.getSize() == 0 || !hasContentCoding(header))
        return true;
    if (pm != nullptr)
        pm->progressInfo("HttpInfo", "UnGzipping response data");
    // Unpacked straight into a capped buffer: a small bomb never gets to
    // allocate what it unpacks to.
    MemoryDataSource source;
    source.setData(body.getData(), body.getSize(), false);
    DataBuffer plain;
    OutputDataBuffer sink(&plain);
    if (!undoContentCodings(header, source, body.getSize(), sink, maxSize, log)) {
        body.clear();
        return false;
    }
    if (pm != nullptr)
        pm->progressInfoInt64("UnGzippedLength", static_cast<std::int64_t>(plain.getSize()));
    body.takeFrom(plain);
    return true;
}

CappedOutput::CappedOutput(Output& inner, std::uint64_t limit)
    : m_inner(inner), m_limit(limit), m_written(0), m_limitHit(false) {}

bool CappedOutput::admit(std::uint64_t bytes, LogBase& log) {
    if (m_limit != 0 && (m_limitHit || bytes > m_limit || m_written > m_limit - bytes)) {
        if (!m_limitHit) {
            log.logError(http_body::kMsgResponseTooLarge);
            log.logDataInt64("maxContentLength", static_cast<std::int64_t>(m_limit));
        }
        m_limitHit = true;
        return false;
    }
    return true;
}

template <class Size, class Write>
std::uint32_t CappedOutput::passOn(Size size, std::uint32_t count, LogBase& log, Write&& write) {
    std::uint64_t bytes = 0;
    if (!blockByteCount(size, count, bytes) || !admit(bytes, log))
        return 0;
    const std::uint32_t n = write();
    if (n == count)
        m_written += bytes;
    return n;
}

std::uint32_t CappedOutput::writeBytes(const void* data, std::uint32_t size, std::uint32_t count,
                                       ProgressMonitor* monitor, LogBase& log) {
    return passOn(size, count, log, [&] { return m_inner.writeBytes(data, size, count, monitor, log); });
}

std::uint32_t CappedOutput::writeBytes64(const void* data, std::uint64_t size, std::uint32_t count,
                                         ProgressMonitor* monitor, LogBase& log) {
    return passOn(size, count, log, [&] { return m_inner.writeBytes64(data, size, count, monitor, log); });
}

bool CappedOutput::resetOutput(LogBase& log) {
    m_written = 0;
    m_limitHit = false;
    return m_inner.resetOutput(log);
}

bool CappedOutput::ensureCapacity(std::uint32_t n) {
    // A reservation past the limit is never made for it.
    return (m_limit != 0 && n > m_limit) || m_inner.ensureCapacity(n);
}

ChunkedDecoder::ChunkedDecoder(std::uint64_t maxBody) : m_maxBody(maxBody) {
    reset();
}

void ChunkedDecoder::reset() {
    m_state = kSizeLine;
    m_remaining = 0;
    m_total = 0;
    m_trailerBytes = 0;
    m_line.clear();
}

bool ChunkedDecoder::fail(LogBase& log, const char* message) {
    m_state = kFailed;
    log.logError(message);
    return false;
}

bool ChunkedDecoder::endSizeLine(LogBase& log, ProgressMonitor* pm) {
    // Hex digits, then optional blanks and an extension after ';'.
    const char* p = m_line.getString();
    std::uint64_t size = 0;
    int digits = 0;
    for (; asciiHexValue(*p) >= 0; ++p, ++digits) {
        if (digits == http_body::kMaxSizeDigits)
            return fail(log, http_body::kMsgBadChunk);
        size = (size << 4) | static_cast<std::uint64_t>(asciiHexValue(*p));
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    if (digits == 0 || (*p != '\0' && *p != ';'))
        return fail(log, http_body::kMsgBadChunk);
    m_line.clear();
    if (pm != nullptr)
        pm->progressInfoInt64("ChunkSize", static_cast<std::int64_t>(size));
    if (size == 0) {
        m_state = kTrailer;
        return true;
    }
    if (m_maxBody != 0 && (size > m_maxBody || m_total > m_maxBody - size)) {
        log.logError(http_body::kMsgTooLarge);
        log.logDataInt64("maxContentLength", static_cast<std::int64_t>(m_maxBody));
        log.logDataInt64("receivedSoFar", static_cast<std::int64_t>(m_total));
        m_state = kFailed;
        return false;
    }
    m_remaining = size;
    m_state = kData;
    return true;
}

bool ChunkedDecoder::feed(const unsigned char* data, std::uint32_t n, Output& out, std::uint32_t& consumed,
                          LogBase& log, ProgressMonitor* pm) {
    consumed = 0;
    if (m_state == kFailed)
        return false;
    while (consumed < n && m_state != kDone) {
        const unsigned char c = data[consumed];
        switch (m_state) {
        case kSizeLine:
        case kTrailer:
            ++consumed;
            if (c == '\n') {
                if (m_line.lastChar() == '\r')
                    m_line.shorten(1);
                if (m_state == kSizeLine) {
                    if (!endSizeLine(log, pm))
                        return false;
                } else if (m_line.getSize() == 0) {
                    m_state = kDone;
                } else {
                    m_line.clear();
                }
                break;
            }
            if (m_line.getSize() >= static_cast<int>(http_body::kMaxLineLength))
                return fail(log, http_body::kMsgBadChunk);
            if (m_state == kTrailer && ++m_trailerBytes > http_body::kMaxTrailerBytes)
                return fail(log, http_body::kMsgBadChunk);
            m_line.appendChar(static_cast<char>(c));
            break;
        case kData: {
            const std::uint64_t avail = n - consumed;
            const auto take = static_cast<std::uint32_t>(avail < m_remaining ? avail : m_remaining);
            if (out.writeBytes(data + consumed, take, 1, pm, log) != 1) {
                m_state = kFailed;
                return false;
            }
            consumed += take;
            m_remaining -= take;
            m_total += take;
            if (m_remaining == 0)
                m_state = kDataCr;
            break;
        }
        case kDataCr:
            ++consumed;
            if (c == '\n') {
                m_state = kSizeLine;
            } else if (c == '\r') {
                m_state = kDataLf;
            } else {
                return fail(log, http_body::kMsgBadChunk);
            }
            break;
        case kDataLf:
            ++consumed;
            if (c != '\n')
                return fail(log, http_body::kMsgBadChunk);
            m_state = kSizeLine;
            break;
        default: return false;
        }
    }
    return true;
}

} // namespace tessik
