#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CryptoTestSupport.h"
#include "netlib/core/LogBase.h"
#include "netlib/crypto/ClsCrypt.h"
#include "netlib/crypto/Pkcs12.h"
#include "netlib/crypto/Pkcs5.h"
#include "tests/support/TestSupport.h"

using namespace tessik;
using cryptotest::Bytes;
using cryptotest::hex;
using cryptotest::str;
using cryptotest::unhex;

namespace {

const std::vector<std::string> kLegacy = {"-provider", "legacy", "-provider", "default"};

grvtest::RunResult openssl(std::vector<std::string> argv, const std::string& input, bool legacy) {
    argv.insert(argv.begin(), "openssl");
    if (legacy)
        argv.insert(argv.end(), kLegacy.begin(), kLegacy.end());
    grvtest::RunOptions options;
    options.input = input;
    return grvtest::RunProgram(argv, options);
}

// The salt, IV and ciphertext (the OCTET STRINGs in order) and the iteration
// count of an encrypted PKCS#8 key, as openssl asn1parse shows them.
struct Params {
    std::vector<std::string> octets;
    unsigned iterations = 0;
};

Params parse(const std::string& der) {
    auto run = openssl({"asn1parse", "-inform", "DER"}, der, false);
    EXPECT_EQ(run.status, 0) << run.err;
    Params p;
    std::istringstream in(run.out);
    for (std::string line; std::getline(in, line);) {
        // asn1parse shows an OCTET STRING of printable bytes as text, not
        // hex; its offset and lengths find the bytes in the DER either way.
        unsigned offset = 0, depth = 0, header = 0, length = 0;
        if (line.find("OCTET STRING") != std::string::npos) {
            const bool fits = std::sscanf(line.c_str(), "%u:d=%u hl=%u l=%u", &offset, &depth, &header, &length) == 4 &&
                              offset + header + length <= der.size();
            EXPECT_TRUE(fits) << line;
            if (fits)
                p.octets.push_back(der.substr(offset + header, length));
        } else if (line.find("INTEGER") != std::string::npos && p.iterations == 0)
            p.iterations = static_cast<unsigned>(std::stoul(line.substr(line.rfind(':') + 1), nullptr, 16));
    }
    return p;
}

struct Scheme {
    std::vector<std::string> args; // openssl pkcs8 -topk8 options
    int kind;                      // 1 PBES1, 2 PBES2, 12 PKCS#12
    const char* hash;
    const char* cipher;
    int keyBits;
    bool legacy;
};

const Scheme kSchemes[] = {
    {{"-v2", "aes-256-cbc", "-v2prf", "hmacWithSHA256"}, 2, "sha256", "aes", 256, false},
    {{"-v2", "aes-128-cbc", "-v2prf", "hmacWithSHA512"}, 2, "sha512", "aes", 128, false},
    {{"-v2", "des-ede3-cbc", "-v2prf", "hmacWithSHA1"}, 2, "sha1", "3des", 192, false},
    {{"-v1", "PBE-MD5-DES"}, 1, "md5", "des", 64, true},
    {{"-v1", "PBE-SHA1-RC2-64"}, 1, "sha1", "rc2", 64, true},
    {{"-v1", "PBE-SHA1-3DES"}, 12, "sha1", "3des", 192, false},
    {{"-v1", "PBE-SHA1-RC2-40"}, 12, "sha1", "rc2", 40, true},
    {{"-v1", "PBE-SHA1-RC4-128"}, 12, "sha1", "rc4", 128, true},
};

bool ours(bool encrypt, const Scheme& s, const char* pw, const std::string& salt, unsigned iter, const std::string& iv,
          const std::string& data, std::string& result) {
    LogNull log;
    Bytes in(data);
    DataBuffer out;
    out.append("stale", 5);
    bool ok;
    if (s.kind == 1)
        ok = encrypt ? pbes1Encrypt(pw, s.hash, s.cipher, Bytes(salt), iter, in, out, log)
                     : pbes1Decrypt(pw, s.hash, s.cipher, Bytes(salt), iter, in, out, log);
    else if (s.kind == 2)
        ok = encrypt
                 ? pbes2Encrypt(pw, s.hash, s.cipher, s.keyBits, s.keyBits, Bytes(salt), iter, Bytes(iv), in, out, log)
                 : pbes2Decrypt(pw, s.hash, s.cipher, s.keyBits, s.keyBits, Bytes(salt), iter, Bytes(iv), in, out, log);
    else {
        XString password;
        password.setFromUtf8(pw);
        ok = pkcs12PbeDecrypt(password, s.hash, s.cipher, s.keyBits, Bytes(salt), static_cast<int>(iter), in, out, log);
    }
    result = str(&out);
    return ok;
}

std::string replaceOnce(std::string der, const std::string& from, const std::string& to) {
    const auto at = der.find(from);
    EXPECT_NE(at, std::string::npos);
    if (at != std::string::npos)
        der.replace(at, from.size(), to);
    return der;
}

// openssl's encrypted keys open with our routines; ours equal its
// ciphertext for the same parameters, and with fresh parameters spliced into
// its structure openssl opens ours. A wrong password never gives the key.
TEST(PasswordEncryptionPeers, Pkcs8KeysBothWays) {
    auto key =
        openssl({"genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-outform", "DER"}, "", false);
    ASSERT_EQ(key.status, 0) << key.err;
    auto plain = openssl({"pkcs8", "-topk8", "-nocrypt", "-inform", "DER", "-outform", "DER"}, key.out, false);
    ASSERT_EQ(plain.status, 0) << plain.err;
    std::mt19937 rng(2898);
    for (const Scheme& s : kSchemes) {
        std::vector<std::string> argv = {"pkcs8", "-topk8",   "-inform",     "DER",   "-outform",
                                         "DER",   "-passout", "pass:s3cret", "-iter", "777"};
        argv.insert(argv.end(), s.args.begin(), s.args.end());
        auto enc = openssl(argv, plain.out, s.legacy);
        ASSERT_EQ(enc.status, 0) << s.args[1] << ": " << enc.err;
        const Params p = parse(enc.out);
        ASSERT_EQ(p.octets.size(), s.kind == 2 ? 3u : 2u) << s.args[1];
        ASSERT_EQ(p.iterations, 777u);
        const std::string& salt = p.octets.front();
        const std::string iv = s.kind == 2 ? p.octets[1] : "";
        const std::string& ct = p.octets.back();
        // A salt and IV that happen to be printable are read all the same.
        std::vector<std::string> shown = {std::string(salt.size(), 'k'), std::string(iv.size(), 'v'), ct};
        std::string printable = replaceOnce(enc.out, salt, shown[0]);
        if (iv.empty())
            shown.erase(shown.begin() + 1);
        else
            printable = replaceOnce(printable, iv, shown[1]);
        EXPECT_EQ(parse(printable).octets, shown) << s.args[1];
        std::string got;
        EXPECT_TRUE(ours(false, s, "s3cret", salt, p.iterations, iv, ct, got)) << s.args[1];
        EXPECT_EQ(hex(got), hex(plain.out)) << s.args[1];
        const bool opened = ours(false, s, "wrong", salt, p.iterations, iv, ct, got);
        EXPECT_NE(opened ? hex(got) : "", hex(plain.out)) << s.args[1];
        if (s.kind == 12)
            continue;
        EXPECT_TRUE(ours(true, s, "s3cret", salt, p.iterations, iv, plain.out, got));
        EXPECT_EQ(hex(got), hex(ct)) << s.args[1];

        const std::string salt2 = cryptotest::randomBytes(rng, salt.size());
        const std::string iv2 = cryptotest::randomBytes(rng, iv.size());
        std::string ct2;
        ASSERT_TRUE(ours(true, s, "s3cret", salt2, p.iterations, iv2, plain.out, ct2));
        std::string der = replaceOnce(replaceOnce(enc.out, salt, salt2), ct, ct2);
        if (!iv.empty())
            der = replaceOnce(der, iv, iv2);
        auto back = openssl({"pkcs8", "-inform", "DER", "-outform", "DER", "-passin", "pass:s3cret"}, der, s.legacy);
        ASSERT_EQ(back.status, 0) << s.args[1] << ": " << back.err;
        auto want = openssl({"pkcs8", "-inform", "DER", "-outform", "DER", "-nocrypt"}, plain.out, false);
        EXPECT_EQ(hex(back.out), hex(want.out)) << s.args[1];
    }
}

// The component's ids 10 and 11 run the same schemes from its own settings.
TEST(PasswordEncryptionComponent, PbesIdsMatchTheRoutines) {
    const std::string salt = unhex("0102030405060708"), iv = unhex("000102030405060708090a0b0c0d0e0f");
    const std::string data = "component data that spans more than one block";
    for (const char* alg : {"pbes1", "pbes2"}) {
        ClsCrypt c;
        c.setCryptAlgorithm(alg);
        c.setPassword("pa55");
        c.setSalt(Bytes(salt));
        c.setIterationCount(99);
        c.setPbesAlgorithm("aes");
        c.setKeyLength(192);
        c.setHashAlgorithm("sha256");
        c.setIV(Bytes(iv));
        LogNull log;
        Bytes in(data), out("stale");
        ASSERT_TRUE(c.encryptBytesToDb(in, out, nullptr, log, false)) << alg;
        const bool v1 = alg == std::string("pbes1");
        // PBES1 takes RC2 for a cipher other than DES and RC2.
        const Scheme s = {{}, v1 ? 1 : 2, "sha256", v1 ? "rc2" : "aes", 192, false};
        std::string want;
        ASSERT_TRUE(ours(true, s, "pa55", salt, 99, iv, data, want));
        EXPECT_EQ(hex(out), hex(want)) << alg;
        Bytes back("stale");
        ASSERT_TRUE(c.decryptBytesToDb(out, back, log));
        EXPECT_EQ(str(&back), data);
    }
}

} // namespace
