// RSA keys from PKCS#1 DER judged by openssl (pkeyutl both ways, byte-exact
// signatures), SSH signature checks and ssh-keygen's fingerprints.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "netlib/core/StringBuffer.h"
#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/crypto/Pkcs1.h"
#include "netlib/crypto/Rsa.h"
#include "netlib/pki/RsaDer.h"
#include "tests/netlib/crypto/CryptoTestSupport.h"
#include "tests/support/TestSupport.h"

using cryptotest::hex;
using cryptotest::len;
using cryptotest::LineLog;
using cryptotest::u;
using cryptotest::unhex;
using tessik::DataBuffer;

namespace {

std::string str(const DataBuffer& db) {
    return std::string(reinterpret_cast<const char*>(db.getData()), db.getSize());
}

// A key openssl made, in the files its tools read and the DER we read.
class OpensslKey {
public:
    explicit OpensslKey(int bits) : dir("rsa") {
        pem = dir.File("key.pem");
        ok = run({"openssl", "genrsa", "-out", pem, std::to_string(bits)}) &&
             run({"openssl", "rsa", "-in", pem, "-traditional", "-outform", "DER", "-out", dir.File("key.der")}) &&
             run({"openssl", "rsa", "-in", pem, "-RSAPublicKey_out", "-outform", "DER", "-out", dir.File("pub.der")});
        if (ok) {
            privateDer.append(grvtest::ReadFile(dir.File("key.der")));
            publicDer.append(grvtest::ReadFile(dir.File("pub.der")));
        }
    }
    bool run(const std::vector<std::string>& argv) {
        auto result = grvtest::RunProgram(argv);
        if (!result.Ok())
            ADD_FAILURE() << argv[0] << " " << argv[1] << ": " << result.err;
        return result.Ok();
    }
    // openssl pkeyutl with the private key on input; "" when it failed.
    std::string pkeyutl(const std::string& op, const std::string& input, const std::vector<std::string>& options = {}) {
        grvtest::WriteFile(dir.File("in.bin"), input);
        std::vector<std::string> argv = {"openssl", "pkeyutl",          op,     "-inkey",           pem,
                                         "-in",     dir.File("in.bin"), "-out", dir.File("out.bin")};
        argv.insert(argv.end(), options.begin(), options.end());
        return run(argv) ? grvtest::ReadFile(dir.File("out.bin")) : std::string("<failed>");
    }

    struct Buffer : DataBuffer {
        void append(const std::string& s) { DataBuffer::append(s.data(), static_cast<unsigned int>(s.size())); }
    };
    grvtest::TempDir dir;
    std::string pem;
    bool ok = false;
    Buffer privateDer;
    Buffer publicDer;
};

const std::vector<std::string> kOaep = {"-pkeyopt", "rsa_padding_mode:oaep"};

TEST(RsaOpenssl, EncryptDecryptAndSignBothWays) {
    std::mt19937 rng(38);
    for (int bits : {1031, 2048}) {
        OpensslKey peer(bits);
        ASSERT_TRUE(peer.ok);
        tessik::RsaKey priv, pub;
        LineLog log;
        ASSERT_TRUE(tessik::rsaPrivateKeyFromAsn1(peer.privateDer, priv, log)) << log.all();
        ASSERT_TRUE(tessik::rsaPublicKeyFromAsn1(peer.publicDer, pub, log)) << log.all();
        EXPECT_EQ(pub.getModulusBitLen(), static_cast<unsigned>(bits));
        const std::uint32_t k = (bits + 7) / 8;
        for (std::size_t size : {1u, 20u, 36u, 64u}) {
            const std::string message = cryptotest::randomBytes(rng, size);
            OpensslKey::Buffer input;
            input.append(message);
            // Ours to openssl, v1.5 and OAEP.
            DataBuffer v15, oaep;
            ASSERT_TRUE(tessik::rsaEncryptWithDerKey(peer.publicDer, input, v15, log, false)) << log.all();
            ASSERT_TRUE(tessik::rsaEncryptPadded(u(message), len(message), nullptr, 0, tessik::kHashSha1,
                                                 tessik::kRsaPaddingOaep, pub, tessik::kRsaPublic, oaep, false, log));
            EXPECT_EQ(v15.getSize(), k);
            EXPECT_EQ(hex(peer.pkeyutl("-decrypt", str(v15))), hex(message));
            EXPECT_EQ(hex(peer.pkeyutl("-decrypt", str(oaep), kOaep)), hex(message));
            // openssl to ours.
            OpensslKey::Buffer fromPeer;
            fromPeer.append(peer.pkeyutl("-encrypt", message));
            DataBuffer plain;
            ASSERT_TRUE(tessik::rsaDecryptWithDerKey(peer.privateDer, fromPeer, plain, log, false)) << log.all();
            EXPECT_EQ(hex(plain), hex(message));
            const std::string peerOaep = peer.pkeyutl("-encrypt", message, kOaep);
            plain.clear();
            ASSERT_TRUE(tessik::rsaDecryptPadded(u(peerOaep), len(peerOaep), nullptr, 0, tessik::kHashSha1,
                                                 tessik::kRsaPaddingOaep, priv, tessik::kRsaPrivate, plain, false, log))
                << log.all();
            EXPECT_EQ(hex(plain), hex(message));
            // Block type 1 signatures are deterministic: byte for byte.
            DataBuffer signature;
            ASSERT_TRUE(tessik::SignSslSig(u(message), len(message), priv, signature, log));
            EXPECT_EQ(signature.getSize(), k);
            EXPECT_EQ(hex(signature), hex(peer.pkeyutl("-sign", message)));
        }
    }
}

// Signs a hand-made block with the private key, as a forger would hope to.
std::string signBlock(const std::string& digestInfo, const tessik::RsaKey& key, std::uint32_t k) {
    std::string block =
        std::string("\0\1", 2) + std::string(k - 3 - digestInfo.size(), '\xff') + std::string("\0", 1) + digestInfo;
    DataBuffer out;
    LineLog log;
    EXPECT_TRUE(tessik::rsaExptmod(u(block), len(block), tessik::kRsaPrivate, key, true, out, log)) << log.all();
    return str(out);
}

TEST(RsaOpenssl, SshSignatureChecks) {
    OpensslKey peer(2048);
    ASSERT_TRUE(peer.ok);
    tessik::RsaKey priv, pub;
    LineLog log;
    ASSERT_TRUE(tessik::rsaPrivateKeyFromAsn1(peer.privateDer, priv, log));
    ASSERT_TRUE(tessik::rsaPublicKeyFromAsn1(peer.publicDer, pub, log));
    const std::string hash = unhex("a9993e364706816aba3e25717850c26c9cd0d089");
    const std::string other = unhex("84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    const std::string signature = peer.pkeyutl("-sign", hash, {"-pkeyopt", "digest:sha1"});
    const std::string oid = unhex("06052b0e03021a");
    struct Case {
        const char* name;
        std::string signature;
        std::string hash;
        bool ran;
        bool valid;
        const char* line;
    } cases[] = {
        {"openssl", signature, hash, true, true, ""},
        {"other hash", signature, other, true, false, "E:Hashes do not match."},
        {"no NULL", signBlock(unhex("301f300706052b0e03021a0414") + hash, priv, 256), hash, true, true, ""},
        {"trailing bytes", signBlock(unhex("3021300906052b0e03021a05000414") + hash + "\x01\x02", priv, 256), hash,
         true, false, "E:Signature block is not the expected PKCS v1.5 DigestInfo block."},
        {"parameters not NULL", signBlock(unhex("3023300b06052b0e03021a04020000") + unhex("0414") + hash, priv, 256),
         hash, true, false, "E:Signature block is not the expected PKCS v1.5 DigestInfo block."},
        {"digest an INTEGER", signBlock(unhex("3021300906052b0e03021a05000214") + hash, priv, 256), hash, false, false,
         "E:ASN.1 structure is invalid (2)"},
    };
    for (const Case& c : cases) {
        LineLog caseLog;
        bool valid = !c.valid;
        EXPECT_EQ(tessik::RSA_verify_SSH(u(c.signature), len(c.signature), u(c.hash), len(c.hash), valid, pub, caseLog),
                  c.ran)
            << c.name << "\n"
            << caseLog.all();
        EXPECT_EQ(valid, c.valid) << c.name << "\n" << caseLog.all();
        if (*c.line) {
            EXPECT_TRUE(caseLog.has(c.line)) << c.name << "\n" << caseLog.all();
        }
    }
    // UnsignRsa hands PKCS#7 the signed DigestInfo.
    DataBuffer recovered;
    ASSERT_TRUE(tessik::UnsignRsa(u(signature), len(signature), pub, recovered, log));
    EXPECT_EQ(hex(recovered), "3021300906052b0e03021a05000414" + hex(hash));
}

TEST(RsaOpenssl, FingerprintsMatchSshKeygen) {
    for (int bits : {1024, 2048}) {
        OpensslKey peer(bits);
        ASSERT_TRUE(peer.ok);
        auto pub = grvtest::RunProgram({"ssh-keygen", "-y", "-f", peer.pem});
        ASSERT_TRUE(pub.Ok()) << pub.err;
        ASSERT_TRUE(grvtest::WriteFile(peer.dir.File("key.pub"), pub.out));
        auto listed = grvtest::RunProgram({"ssh-keygen", "-l", "-E", "md5", "-f", peer.dir.File("key.pub")});
        ASSERT_TRUE(listed.Ok()) << listed.err;
        // "2048 MD5:xx:...:xx comment (RSA)"
        const std::size_t md5 = listed.out.find(" MD5:");
        ASSERT_NE(md5, std::string::npos) << listed.out;
        const std::string expected = "ssh-rsa " + listed.out.substr(0, md5) + " " + listed.out.substr(md5 + 5, 47);
        tessik::RsaKey key;
        LineLog log;
        ASSERT_TRUE(tessik::rsaPublicKeyFromAsn1(peer.publicDer, key, log));
        tessik::StringBuffer fingerprint;
        ASSERT_TRUE(key.getSshFingerprint(fingerprint));
        EXPECT_EQ(std::string(fingerprint.getString()), expected);
    }
}

TEST(RsaDer, MalformedKeysAreRefused) {
    struct Case {
        std::string der;
        bool isPrivate;
        const char* line;
    } cases[] = {
        {unhex("3018020100020101020101020101020101020101020101020101"), true,
         "E:Invalid ASN.1 for RSA Private Key (2)"},
        {unhex("020101"), true, "E:Invalid ASN.1 for RSA Private Key"},
        {unhex("3003020101"), false, "E:Invalid ASN.1 for RSA Public Key.."},
        {unhex("3006020101040101"), false, "E:Failed to get RSA exponent from ASN.1"},
    };
    for (const Case& c : cases) {
        OpensslKey::Buffer der;
        der.append(c.der);
        tessik::RsaKey key;
        LineLog log;
        EXPECT_FALSE(c.isPrivate ? tessik::rsaPrivateKeyFromAsn1(der, key, log)
                                 : tessik::rsaPublicKeyFromAsn1(der, key, log));
        EXPECT_TRUE(log.has(c.line)) << log.all();
    }
}

} // namespace

namespace {

// Writes beside a two-prime key its variants (tests/peers/rsa_key_variants.py).
const std::string kVariants = std::string(GRV_SOURCE_DIR) + "/tests/peers/rsa_key_variants.py";

} // namespace

// Keys openssl made (two primes, three primes) and two-prime keys with one
// part changed, each judged by `openssl pkey -check`: a key of two primes
// that openssl finds sound loads and signs and decrypts as openssl does;
// every other key is refused when it is read, saying why, on the road of
// the key itself and on the PKCS#7 road that reads it from DER, or, when
// its parts fit together but a prime is none, by its first signature or
// decryption, which its public key does not undo; a key whose n or e is out
// of openssl's bounds, or whose n is even, is refused before any
// arithmetic, as openssl refuses to encrypt under it. Every signature a key makes verifies in openssl under
// the key's public half.
TEST(RsaKeys, AreUsedWholeOrRefusedOnLoad) {
    grvtest::TempDir dir("keys");
    const std::string two = dir.File("two.pem"), three = dir.File("three.pem");
    for (const auto& [file, primes] : {std::pair{two, "2"}, std::pair{three, "3"}})
        ASSERT_TRUE(grvtest::RunProgram({"openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024",
                                         "-pkeyopt", std::string("rsa_keygen_primes:") + primes, "-out", file})
                        .Ok());
    ASSERT_TRUE(grvtest::RunProgram(
                    {"openssl", "rsa", "-in", three, "-traditional", "-outform", "DER", "-out", three + ".whole.der"})
                    .Ok());
    ASSERT_TRUE(grvtest::RunProgram({"openssl", "rsa", "-in", three, "-RSAPublicKey_out", "-outform", "DER", "-out",
                                     three + ".whole.public.der"})
                    .Ok());
    const grvtest::RunResult made = grvtest::RunProgram({"/usr/bin/python3", kVariants, two});
    ASSERT_TRUE(made.Ok()) << made.err;
    struct Case {
        std::string pem, variant;
        const char* refusal; // null: used
        bool whenUsed = false;
    } cases[] = {
        {two, "whole", nullptr},
        {three, "whole", tessik::rsa_msg::kMultiPrime},
        {two, "dp-dq-swapped", tessik::rsa_msg::kNotWhole},
        {two, "qinv-one", tessik::rsa_msg::kNotWhole},
        {two, "p-q-swapped", tessik::rsa_msg::kNotWhole},
        {two, "n-plus-two", tessik::rsa_msg::kNotWhole},
        {two, "e-one", tessik::rsa_msg::kNotWhole},
        // d is not what the private operation runs on: openssl refuses it, and
        // the key still signs and decrypts as the unchanged one does.
        {two, "d-plus-two", nullptr},
        {two, "composite-q", tessik::rsa_msg::kResultNotUndone, true},
        {two, "n-16385-bits", tessik::rsa_msg::kModulusTooLarge},
        {two, "e-million-bits", tessik::rsa_msg::kExponentNotBelowModulus},
        {two, "e-64-bits", tessik::rsa_msg::kNotWhole},
        {two, "e-65-bits", tessik::rsa_msg::kExponentTooLarge},
        {two, "e-is-n", tessik::rsa_msg::kExponentNotBelowModulus},
        {two, "n-even", tessik::rsa_msg::kModulusEven},
        {two, "dp-unreduced", tessik::rsa_msg::kPartNotReduced},
        {two, "dq-unreduced", tessik::rsa_msg::kPartNotReduced},
        {two, "qinv-unreduced", tessik::rsa_msg::kPartNotReduced},
    };
    const auto outOfBounds = [](const char* refusal) {
        return refusal == tessik::rsa_msg::kModulusTooLarge || refusal == tessik::rsa_msg::kExponentNotBelowModulus ||
               refusal == tessik::rsa_msg::kExponentTooLarge || refusal == tessik::rsa_msg::kModulusEven;
    };
    const std::string message = "whole keys only";
    grvtest::RunOptions fed;
    fed.input = message;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variant + " " + c.pem);
        const std::string der = c.pem + "." + c.variant + ".der", publicPem = der + ".public.pem";
        ASSERT_TRUE(grvtest::RunProgram({"openssl", "rsa", "-RSAPublicKey_in", "-inform", "DER", "-in",
                                         c.pem + "." + c.variant + ".public.der", "-pubout", "-out", publicPem})
                        .Ok());
        OpensslKey::Buffer sealed;
        sealed.append(grvtest::RunProgram({"openssl", "pkeyutl", "-encrypt", "-pubin", "-inkey", publicPem}, fed).out);
        EXPECT_EQ(sealed.getSize() == 0, outOfBounds(c.refusal));
        const grvtest::RunResult check =
            grvtest::RunProgram({"openssl", "pkey", "-check", "-noout", "-inform", "DER", "-in", der});
        EXPECT_EQ(check.Ok() && check.out == "Key is valid\n", c.variant == "whole") << check.out << check.err;
        OpensslKey::Buffer keyDer;
        keyDer.append(grvtest::ReadFile(der));
        tessik::RsaKey key;
        LineLog log, pkcs7Log;
        DataBuffer plain, signature;
        EXPECT_EQ(tessik::rsaPrivateKeyFromAsn1(keyDer, key, log), c.refusal == nullptr || c.whenUsed);
        EXPECT_EQ(tessik::rsaDecryptWithDerKey(keyDer, sealed, plain, pkcs7Log, false), c.refusal == nullptr);
        EXPECT_EQ(tessik::SignSslSig(u(message), len(message), key, signature, log), c.refusal == nullptr);
        if (c.refusal) {
            EXPECT_TRUE(log.has(std::string("E:") + c.refusal)) << log.all();
            EXPECT_TRUE(pkcs7Log.has(std::string("E:") + c.refusal)) << pkcs7Log.all();
            EXPECT_EQ(plain.getSize(), 0u);
            EXPECT_EQ(signature.getSize(), 0u);
            continue;
        }
        EXPECT_EQ(str(plain), message);
        ASSERT_TRUE(grvtest::WriteFile(dir.File("sig"), str(signature)));
        EXPECT_TRUE(
            grvtest::RunProgram(
                {"openssl", "pkeyutl", "-verify", "-pubin", "-inkey", publicPem, "-sigfile", dir.File("sig")}, fed)
                .Ok());
    }
}
