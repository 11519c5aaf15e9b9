#include "tests/netlib/streams/ZlibPeer.h"

#include <zlib.h>

#include <random>

namespace zpeer {

namespace {

constexpr int kRawWindowBits = -15;
constexpr int kZlibWindowBits = 15;
constexpr int kMemLevel = 8;
constexpr std::size_t kOutStep = 1 << 16;

// Inflates all of `in`: zlib's last result and message, and whether every
// byte was taken.
int inflateAll(const Bytes& in, Bytes* out, bool zlibFramed, std::string* message, bool* allTaken) {
    z_stream zs{};
    if (inflateInit2(&zs, zlibFramed ? kZlibWindowBits : kRawWindowBits) != Z_OK)
        return Z_STREAM_ERROR;
    out->clear();
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        std::size_t have = out->size();
        out->resize(have + kOutStep);
        zs.next_out = out->data() + have;
        zs.avail_out = kOutStep;
        rc = ::inflate(&zs, Z_SYNC_FLUSH);
        out->resize(have + kOutStep - zs.avail_out);
        if (rc == Z_BUF_ERROR && zs.avail_in == 0)
            break; // all input taken, no final block
    }
    if (message && zs.msg)
        *message = zs.msg;
    *allTaken = zs.avail_in == 0;
    inflateEnd(&zs);
    return rc;
}

} // namespace

bool inflate(const Bytes& in, Bytes* out, bool zlibFramed, bool* complete) {
    bool allTaken = false;
    const int rc = inflateAll(in, out, zlibFramed, nullptr, &allTaken);
    if (complete)
        *complete = rc == Z_STREAM_END;
    return (rc == Z_STREAM_END || rc == Z_BUF_ERROR || rc == Z_OK) && allTaken;
}

Verdict judge(const Bytes& in, bool zlibFramed) {
    Verdict v;
    bool allTaken = false;
    const int rc = inflateAll(in, &v.out, zlibFramed, &v.refusal, &allTaken);
    v.complete = rc == Z_STREAM_END;
    if (rc != Z_DATA_ERROR)
        v.refusal.clear();
    return v;
}

Bytes deflate(const Bytes& in, int level, int strategy, bool zlibFramed, const std::vector<Piece>& pieces) {
    z_stream zs{};
    Bytes out;
    if (deflateInit2(&zs, level, Z_DEFLATED, zlibFramed ? kZlibWindowBits : kRawWindowBits, kMemLevel, strategy) !=
        Z_OK)
        return out;
    std::size_t at = 0;
    std::vector<Piece> plan = pieces;
    std::size_t planned = 0;
    for (const Piece& p : plan)
        planned += p.length;
    if (planned < in.size() || plan.empty() || plan.back().flush != Z_FINISH)
        plan.push_back({in.size() > planned ? in.size() - planned : 0, Z_FINISH});
    for (const Piece& p : plan) {
        zs.next_in = const_cast<Bytef*>(in.data() + at);
        zs.avail_in = static_cast<uInt>(p.length);
        at += p.length;
        int rc;
        do {
            std::size_t have = out.size();
            out.resize(have + kOutStep);
            zs.next_out = out.data() + have;
            zs.avail_out = kOutStep;
            rc = ::deflate(&zs, p.flush);
            out.resize(have + kOutStep - zs.avail_out);
        } while (zs.avail_out == 0 || (p.flush == Z_FINISH && rc == Z_OK));
    }
    deflateEnd(&zs);
    return out;
}

Bytes randomBytes(std::size_t n, unsigned seed) {
    Bytes b(n);
    std::mt19937 rng(seed);
    for (auto& x : b)
        x = static_cast<std::uint8_t>(rng());
    return b;
}

} // namespace zpeer
