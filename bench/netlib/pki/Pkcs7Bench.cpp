// Large PKCS#7 messages read whole, beside `openssl cms` on the same files:
// a 50 MB EnvelopedData opened with its recipient's key (the crypt
// component's public-key decryption, against `cms -decrypt`), a 50 MB
// SignedData streamed (indefinite lengths, its content in segments) and a
// SignedData carrying 16,000 certificates before its signer's, verified
// (against `cms -verify -noverify`). MB/s of the message, and the peak
// resident memory of one reading, each side a program of its own (ours is
// this benchmark run again for one reading) that reads the file itself, as
// GNU time reports it. Then SignedData of 50 MB and 150 MB, definite and
// streamed, verified: the CPU time and peak memory of one reading by ours,
// by openssl and, when GRV_BENCH_BEFORE names another build's bench_pkcs7,
// by that build (it reads a message as this one does, given the same
// arguments). Last a small SignedData, alone and with 64,000 empty CRL fields
// after its certificates (openssl reads one at most): the CPU time and the
// verdict of one reading by each.
// Goal: memory near the message's size, time near openssl's: verifying
// within 1.3x openssl's CPU time, and never dearer than the build before.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/TessikRand.h"
#include "netlib/crypto/ClsCrypt.h"
#include "netlib/pki/Asn1.h"
#include "netlib/pki/Certificate.h"
#include "netlib/pki/ClsCert.h"
#include "netlib/pki/CryptPublicKey.h"
#include "netlib/pki/Pkcs7.h"
#include "netlib/pki/SystemCerts.h"

using namespace tessik;

namespace {

constexpr std::size_t kEnvelopedBytes = 50u * 1000 * 1000;
constexpr std::size_t kCertificates = 16000;
constexpr std::size_t kSmokeCertificates = 16;
// A serial of four bytes whose top bit is clear, one per certificate.
constexpr std::uint32_t kFirstSerial = 0x10000000;
constexpr int kSerialBytes = 4;
// ContentInfo { oid, [0] { SignedData { version, digests, content, [0] certificates ...
constexpr int kCertificatesField = 3;
// Certificate { tbs { [0] version, serial ...
constexpr int kSerialField = 1;
constexpr std::size_t kListFields = 64000;
constexpr std::size_t kSmokeListFields = 64;
constexpr std::uint32_t kTagCrls = 1;

bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

bool readFile(const std::string& path, DataBuffer& out) {
    LogNull quiet;
    return out.loadFileUtf8(path.c_str(), &quiet);
}

bool writeFile(const std::string& path, const DataBuffer& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.getData()), static_cast<std::streamsize>(bytes.getSize()));
    return static_cast<bool>(file);
}

// The signed message with `count` certificates of another name and key,
// each of its own serial, before the signer's own.
bool addCertificates(const std::string& signedPath, const std::string& otherCertDer, std::size_t count,
                     const std::string& outPath) {
    DataBuffer message, other;
    LogNull quiet;
    if (!readFile(signedPath, message) || !readFile(otherCertDer, other))
        return false;
    std::unique_ptr<Asn1> root(decodeBerFirst(message.getData(), message.getSize(), nullptr, quiet));
    Asn1* signedData = root && root->getChild(1) ? root->getChild(1)->getChild(0) : nullptr;
    Asn1* certificates = signedData ? signedData->getChild(kCertificatesField) : nullptr;
    if (!certificates || !certificates->children)
        return false;
    for (std::size_t k = 0; k < count; ++k) {
        Asn1* cert = decodeBerFirst(other.getData(), other.getSize(), nullptr, quiet);
        Asn1* serial = cert && cert->getChild(0) ? cert->getChild(0)->getChild(kSerialField) : nullptr;
        const std::uint32_t value = kFirstSerial + static_cast<std::uint32_t>(k);
        const unsigned char bytes[kSerialBytes] = {
            static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
            static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
        if (!serial || !serial->setContent(bytes, kSerialBytes)) {
            delete cert;
            return false;
        }
        certificates->children->insertAt(static_cast<int>(k), cert);
    }
    DataBuffer out;
    return root->encodeDer(out, false, nullptr, quiet) && writeFile(outPath, out);
}

// The signed message with `count` empty CRL fields after its certificates.
bool addListFields(const std::string& signedPath, std::size_t count, const std::string& outPath) {
    DataBuffer message;
    LogNull quiet;
    if (!readFile(signedPath, message))
        return false;
    std::unique_ptr<Asn1> root(decodeBerFirst(message.getData(), message.getSize(), nullptr, quiet));
    Asn1* signedData = root && root->getChild(1) ? root->getChild(1)->getChild(0) : nullptr;
    if (!signedData || !signedData->children || !signedData->getChild(kCertificatesField))
        return false;
    for (std::size_t k = 0; k < count; ++k)
        signedData->children->insertAt(kCertificatesField + 1, Asn1::newContextConstructed(kTagCrls));
    DataBuffer out;
    return root->encodeDer(out, false, nullptr, quiet) && writeFile(outPath, out);
}

// One reading of ours: an envelope decrypted with the recipient's
// certificate and key (DER files), or a signed message verified.
bool readOurs(const std::string& kind, const std::string& path, const std::string& certDer, const std::string& keyDer) {
    DataBuffer message, out;
    LogNull quiet;
    if (!readFile(path, message))
        return false;
    if (kind == "envelope") {
        DataBuffer recipient, key;
        if (!readFile(certDer, recipient) || !readFile(keyDer, key))
            return false;
        ClsCrypt crypt;
        crypt.setCryptAlgorithm("pki");
        setCryptDecryptCertificate(
            crypt, new ClsCert(Certificate::createFromBytes(recipient.getData(), recipient.getSize(), quiet, false),
                               nullptr, false));
        crypt.privateKey().appendDb(key);
        return crypt.Decrypt(message, out) && out.getSize() != 0;
    }
    Pkcs7 p7;
    SystemCerts stores;
    DataBuffer certOut;
    bool keyLocated = false;
    return p7.loadPkcs7Der(message, nullptr, quiet, false) &&
           p7.openContent(stores, out, certOut, keyLocated, quiet, false);
}

// Medians of a few readings of one message, each a program of its own.
benchsupport::ProgramUsage medianUsage(const std::string& dir, const std::vector<std::string>& argv) {
    constexpr int kRuns = 3;
    std::vector<double> cpu, peak;
    for (int i = 0; i < (benchsupport::smokeRun() ? 1 : kRuns); ++i) {
        const benchsupport::ProgramUsage used = benchsupport::programUsage(dir, argv);
        if (used.peakKib < 0)
            return {};
        cpu.push_back(used.cpuSeconds);
        peak.push_back(used.peakKib);
    }
    return {benchsupport::median(cpu), benchsupport::median(peak)};
}

// SignedData of each size, definite and streamed, verified by us, by the
// build before (when named) and by openssl: CPU seconds and peak MB.
bool compareBySize(const std::string& dir, const std::string& self, const std::string& cert, const std::string& key) {
    constexpr std::size_t kSizesMb[] = {50, 150};
    constexpr double kKibPerMb = 1000.0;
    const char* before = std::getenv("GRV_BENCH_BEFORE");
    const std::string data = dir + "/sized.bin", message = dir + "/sized.p7";
    bool allOk = true;
    for (const std::size_t mb : kSizesMb) {
        DataBuffer content;
        TessikRand::randomBytes(static_cast<int>(benchsupport::inputSize(mb * 1000 * 1000)), content);
        if (!writeFile(data, content))
            return false;
        content.reallocate(0);
        for (const bool streamed : {false, true}) {
            if (!run("openssl cms -sign -nodetach -binary -outform DER -in '" + data + "' -signer '" + cert +
                     "' -inkey '" + key + "' -out '" + message + "'" + (streamed ? " -stream" : "")))
                return false;
            const std::vector<std::string> reading{"signed", message, "-", "-"};
            std::vector<std::string> oursArgs{self}, beforeArgs{before ? before : ""};
            oursArgs.insert(oursArgs.end(), reading.begin(), reading.end());
            beforeArgs.insert(beforeArgs.end(), reading.begin(), reading.end());
            const benchsupport::ProgramUsage ours = medianUsage(dir, oursArgs);
            const benchsupport::ProgramUsage earlier =
                before ? medianUsage(dir, beforeArgs) : benchsupport::ProgramUsage{};
            const benchsupport::ProgramUsage theirs =
                medianUsage(dir, {"/bin/sh", "-c",
                                  "openssl cms -verify -noverify -binary -inform DER -in '" + message +
                                      "' -out /dev/null 2>/dev/null"});
            char earlierText[64] = "before not named";
            if (before)
                std::snprintf(earlierText, sizeof earlierText, "before %.2f s, %.0f MB", earlier.cpuSeconds,
                              earlier.peakKib / kKibPerMb);
            std::printf("SignedData %3zu MB %-10s verified: ours %.2f s, %.0f MB; openssl cms %.2f s, %.0f MB "
                        "(CPU ours/openssl %.2fx); %s\n",
                        mb, streamed ? "streamed," : "definite,", ours.cpuSeconds, ours.peakKib / kKibPerMb,
                        theirs.cpuSeconds, theirs.peakKib / kKibPerMb,
                        theirs.cpuSeconds > 0 ? ours.cpuSeconds / theirs.cpuSeconds : 0.0, earlierText);
            std::fflush(stdout);
            allOk = allOk && ours.peakKib > 0 && theirs.peakKib > 0 && (!before || earlier.peakKib > 0);
        }
    }
    return allOk;
}

// Each message verified or refused by us, by the build before (when named)
// and by openssl: the verdict and the CPU seconds of one reading each.
bool compareVerdicts(const std::string& dir, const std::string& self, const std::vector<std::string>& messages) {
    const char* before = std::getenv("GRV_BENCH_BEFORE");
    bool allOk = true;
    for (const std::string& message : messages) {
        DataBuffer bytes;
        if (!readFile(message, bytes))
            return false;
        struct Side {
            const char* name;
            std::string command;
        };
        std::vector<Side> sides = {
            {"ours", "'" + self + "' signed '" + message + "' - -"},
            {"openssl cms", "openssl cms -verify -noverify -binary -inform DER -in '" + message + "' -out /dev/null"}};
        if (before)
            sides.push_back({"before", "'" + std::string(before) + "' signed '" + message + "' - -"});
        std::printf("%s (%u bytes):", std::filesystem::path(message).filename().c_str(), bytes.getSize());
        std::vector<bool> verified;
        for (const Side& side : sides) {
            verified.push_back(run(side.command + " 2>/dev/null"));
            // Timed whatever the verdict: a refusal is an answer too.
            const benchsupport::ProgramUsage used =
                medianUsage(dir, {"/bin/sh", "-c", side.command + " 2>/dev/null; true"});
            std::printf(" %s %s %.2f s;", side.name, verified.back() ? "verified" : "refused", used.cpuSeconds);
            allOk = allOk && used.cpuSeconds >= 0;
        }
        std::printf("\n");
        std::fflush(stdout);
        // openssl's verdict is ours.
        allOk = allOk && verified[0] == verified[1];
    }
    return allOk;
}

// One message, read by us (in process, and as a program) and by openssl.
struct Reading {
    const char* what;
    std::string kind, path;
    std::size_t bytes;
    std::string theirs;
};

// Peak memory of each side as a program of its own, as GNU time reports
// it; then MB/s of each, ours in process.
bool compare(const std::vector<Reading>& readings, const std::string& dir, const std::string& self,
             const std::string& certDer, const std::string& keyDer) {
    constexpr double kKibPerMb = 1000.0;
    bool allOk = true;
    for (const Reading& r : readings) {
        const double oursMb = benchsupport::programPeakKib(dir, {self, r.kind, r.path, certDer, keyDer}) / kKibPerMb;
        const double theirsMb = benchsupport::programPeakKib(dir, {"/bin/sh", "-c", r.theirs}) / kKibPerMb;
        auto ours = [&] {
            const bool ok = readOurs(r.kind, r.path, certDer, keyDer);
            allOk = allOk && ok;
            return ok;
        };
        auto theirs = [&] {
            const bool ok = run(r.theirs);
            allOk = allOk && ok;
            return ok;
        };
        benchsupport::printBeside(r.what, r.bytes, ours, "openssl cms", theirs);
        std::printf("  peak memory of one reading: ours %.0f MB, openssl cms %.0f MB (message %.0f MB)\n", oursMb,
                    theirsMb, static_cast<double>(r.bytes) / 1e6);
        std::fflush(stdout);
        allOk = allOk && oursMb > 0 && theirsMb > 0;
    }
    return allOk;
}

} // namespace

int main(int argc, char** argv) {
    installPkiServices();
    // Run again for one reading of ours: kind, message, certificate, key.
    constexpr int kReadingArgs = 5;
    if (argc == kReadingArgs)
        return readOurs(argv[1], argv[2], argv[3], argv[4]) ? 0 : 1;
    const std::string dir = benchsupport::tempPath("bench-pkcs7");
    const std::string key = dir + "/key.pem", cert = dir + "/cert.pem", certDer = dir + "/cert.der",
                      keyDer = dir + "/key.der", other = dir + "/other.der", data = dir + "/data.bin",
                      enveloped = dir + "/enveloped.p7", streamed = dir + "/streamed.p7",
                      signedOne = dir + "/signed1.p7", signedMany = dir + "/signed-many.p7",
                      signedFields = dir + "/signed-crl-fields.p7", quiet = " 2>/dev/null";
    const std::string newCert = "openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj ";
    if (!run("mkdir -p '" + dir + "'") ||
        !run(newCert + "/CN=recipient -keyout '" + key + "' -out '" + cert + "'" + quiet) ||
        !run("openssl x509 -in '" + cert + "' -outform DER -out '" + certDer + "'") ||
        !run("openssl rsa -in '" + key + "' -traditional -outform DER -out '" + keyDer + "'" + quiet) ||
        !run(newCert + "/CN=other -keyout '" + dir + "/other.key' -outform DER -out '" + other + "'" + quiet)) {
        std::fprintf(stderr, "openssl could not make the keys\n");
        return 1;
    }
    DataBuffer content;
    TessikRand::randomBytes(static_cast<int>(benchsupport::inputSize(kEnvelopedBytes)), content);
    if (!writeFile(data, content) ||
        !run("openssl cms -encrypt -aes128 -binary -outform DER -in '" + data + "' -out '" + enveloped + "' '" + cert +
             "'") ||
        !run("openssl cms -sign -nodetach -stream -binary -outform DER -in '" + data + "' -signer '" + cert +
             "' -inkey '" + key + "' -out '" + streamed + "'") ||
        !run("openssl cms -sign -nodetach -binary -outform DER -in '" + cert + "' -signer '" + cert + "' -inkey '" +
             key + "' -out '" + signedOne + "'") ||
        !addCertificates(signedOne, other, benchsupport::smokeRun() ? kSmokeCertificates : kCertificates, signedMany) ||
        !addListFields(signedOne, benchsupport::smokeRun() ? kSmokeListFields : kListFields, signedFields)) {
        std::fprintf(stderr, "the messages could not be made\n");
        return 1;
    }
    content.reallocate(0);
    DataBuffer size;
    if (!readFile(enveloped, size))
        return 1;
    const std::size_t envelopedBytes = size.getSize();
    if (!readFile(streamed, size))
        return 1;
    const std::size_t streamedBytes = size.getSize();
    if (!readFile(signedMany, size))
        return 1;
    const std::size_t signedBytes = size.getSize();
    size.reallocate(0);

    std::printf("PKCS#7 messages read whole beside openssl cms:\n");
    const std::vector<Reading> readings = {
        {"EnvelopedData 50 MB, decrypted", "envelope", enveloped, envelopedBytes,
         "openssl cms -decrypt -binary -inform DER -in '" + enveloped + "' -recip '" + cert + "' -inkey '" + key +
             "' -out /dev/null 2>/dev/null"},
        {"SignedData 50 MB streamed, verified", "signed", streamed, streamedBytes,
         "openssl cms -verify -noverify -binary -inform DER -in '" + streamed + "' -out /dev/null 2>/dev/null"},
        {"SignedData of 16,000 certificates, verified", "signed", signedMany, signedBytes,
         "openssl cms -verify -noverify -binary -inform DER -in '" + signedMany + "' -out /dev/null 2>/dev/null"}};
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    bool allOk = compare(readings, dir, self, certDer, keyDer);
    allOk = compareBySize(dir, self, cert, key) && allOk;
    std::printf("SignedData alone and with CRL fields after its certificates, verified or refused:\n");
    allOk = compareVerdicts(dir, self, {signedOne, signedFields}) && allOk;
    run("rm -rf '" + dir + "'");
    return allOk ? 0 : 1;
}
