#include <gtest/gtest.h>
#include <string>

#include "netlib/core/ClsXml.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/crypto/CryptoServices.h"
#include "tests/netlib/crypto/CryptoTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

// python deflates (raw) when asked, and openssl encrypts AES-128-CBC under the
// key the component derives: MD5(password) then MD5(base64(password)), first
// 16 bytes; zero IV.
std::string peerProtect(const std::string& text, const std::string& password, bool deflate, const std::string& tail) {
    auto py = grvtest::Python("import sys,zlib\nd=sys.argv[1].encode()\n"
                              "if sys.argv[2]=='1':\n c=zlib.compressobj(9,zlib.DEFLATED,-15)\n"
                              " d=c.compress(d)+c.flush()+sys.argv[3].encode()\nsys.stdout.write(d.hex())",
                              {text, deflate ? "1" : "0", tail});
    EXPECT_TRUE(py.Ok()) << py.err;
    std::string data = cryptotest::unhex(py.out);
    if (password.empty())
        return data;
    auto key = grvtest::Python("import sys,hashlib\nprint(hashlib.md5(sys.argv[1].encode()).hexdigest())", {password});
    EXPECT_TRUE(key.Ok()) << key.err;
    grvtest::RunOptions options;
    options.input = data;
    auto enc = grvtest::RunProgram(
        {"openssl", "enc", "-aes-128-cbc", "-K", key.out.substr(0, 32), "-iv", std::string(32, '0')}, options);
    EXPECT_TRUE(enc.Ok()) << enc.err;
    return enc.out;
}

} // namespace

TEST(CryptoServices, XmlBinaryContentDecryptsAndInflatesThroughInstalledServices) {
    installCryptoServices();
    installCryptoServices();
    const std::string text = "certificate bytes, certificate bytes, certificate bytes";
    struct Case {
        bool inflate;
        std::string password;
        bool cut; // drop the last bytes of the protected form
        bool ok;
        std::string tail = {}; // after the deflate data, as the HTTP deflate coding takes at most four bytes
    };
    const Case cases[] = {
        {true, "", false, true},           {false, "secret", false, true},          {true, "secret", false, true},
        {true, "", true, false},           {true, "pässword", false, true},         {true, "", false, true, "abcd"},
        {true, "", false, false, "abcde"}, {true, "secret", false, false, "abcde"},
    };
    for (const Case& c : cases) {
        std::string bytes = peerProtect(text, c.password, c.inflate, c.tail);
        if (c.cut)
            bytes.resize(bytes.size() - (c.password.empty() ? 3 : 5));
        ClsXml xml;
        DataBuffer db;
        db.append(bytes.data(), static_cast<unsigned>(bytes.size()));
        xml.addNewChildBase64("compressedDer", db);
        ASSERT_TRUE(xml.navigateToFirstChild());
        DataBuffer out;
        const bool decrypt = !c.password.empty();
        EXPECT_EQ(xml.GetBinaryContent(out, c.inflate, decrypt, c.password.c_str()), c.ok)
            << c.password << " " << c.inflate;
        const std::string got(reinterpret_cast<const char*>(out.getData()), out.getSize());
        // After a cut, or bytes too many after the data, what was inflated stays.
        EXPECT_EQ(c.ok ? text : text.substr(0, got.size()), got);
    }
}
