// TLS record and handshake parsing from untrusted bytes. The first byte
// picks the protection the records are read under (mod 11: 0 clear, 1 to 5
// the offered suites in order under TLS, 6 to 10 under SSL 3.0, all keys
// and IVs zero, so the padding and MAC paths run); the second the size of
// the pieces the rest is fed in (0: whole). The stream fed whole and in
// pieces must give the same messages. The protocol object has made its own
// ClientHello first, so a ServerHello is held to what it offered.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "netlib/core/LogBase.h"
#include "netlib/transport/TlsProtocol.h"

namespace {

using namespace tessik;

void require(bool ok) {
    if (!ok)
        std::abort();
}

struct Outcome {
    int result = 0;
    std::string messages;
    std::string held;
};

Outcome run(const std::uint8_t* data, std::size_t size, std::size_t piece, unsigned protection) {
    TlsProtocol p;
    LogNull log;
    constexpr unsigned kSuites = sizeof kTlsOfferedSuites / sizeof kTlsOfferedSuites[0];
    if (protection != 0) {
        const std::uint16_t suite = kTlsOfferedSuites[(protection - 1) % kSuites];
        p.setVersion(kTlsMajor, protection > kSuites ? kSsl30Minor : kTls10Minor);
        static const unsigned char kKeys[64] = {};
        configureTlsParams(*p.readParams(), *tlsSuiteInfo(suite), kKeys, kKeys, kKeys);
    }
    require(p.createClientHello(log));
    Outcome out;
    for (std::size_t pos = 0; pos < size && out.result >= 0; pos += piece) {
        const std::size_t n = std::min(piece, size - pos);
        const int r = p.receiveRecordBytes(data + pos, static_cast<std::uint32_t>(n), log, false);
        out.result = r < 0 ? -1 : out.result + r;
    }
    while (TlsHandshakeMessage* m = p.dequeueAny(log)) {
        out.messages += static_cast<char>(m->messageType);
        delete m;
    }
    out.held.assign(reinterpret_cast<const char*>(p.heldApplicationData().getData()),
                    p.heldApplicationData().getSize());
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr unsigned kProtections = 11;
    if (size < 2 || size > 64 * 1024)
        return 0;
    const unsigned protection = data[0] % kProtections;
    const unsigned piece = data[1];
    data += 2;
    size -= 2;
    const Outcome whole = run(data, size, size == 0 ? 1 : size, protection);
    if (piece != 0) {
        const Outcome cut = run(data, size, piece, protection);
        require(whole.result == cut.result);
        require(whole.messages == cut.messages);
        require(whole.held == cut.held);
    }
    // Each message parser on the bytes as a body.
    LogNull log;
    delete parseServerHello(data, static_cast<std::uint32_t>(size), log);
    delete parseCertificates(data, static_cast<std::uint32_t>(size), log);
    delete parseCertificateRequest(data, static_cast<std::uint32_t>(size), log);
    delete parseClientHello(data, static_cast<std::uint32_t>(size), log);
    delete parseClientKeyExchange(data, static_cast<std::uint32_t>(size), kSsl30Minor, log);
    delete parseCertificateVerify(data, static_cast<std::uint32_t>(size), log);
    delete parseFinished(data, static_cast<std::uint32_t>(size), log);
    return 0;
}
