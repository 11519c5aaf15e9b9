#include "PkiTestSupport.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "netlib/core/Logger.h"
#include "netlib/core/StringBuffer.h"
#include "platform/CertStore.h"
#include "platform/CryptProv.h"

namespace pkitest {

std::unique_ptr<tessik::DataBuffer> fromHex(const std::string& hex) {
    auto out = std::make_unique<tessik::DataBuffer>();
    tessik::decodeHexBytes(hex.data(), static_cast<unsigned int>(hex.size()), *out);
    return out;
}

std::string toHex(const tessik::DataBuffer& db) {
    return grvtest::ToHex(db.getData(), db.getSize());
}

std::string bytesOf(const tessik::DataBuffer& db) {
    return std::string(reinterpret_cast<const char*>(db.getData()), db.getSize());
}

std::string logText(tessik::Logger& log) {
    tessik::StringBuffer sb;
    log.getLogText(sb);
    return sb.getString();
}

std::string openssl(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"openssl"};
    argv.insert(argv.end(), args.begin(), args.end());
    grvtest::RunResult r = grvtest::RunProgram(argv);
    EXPECT_TRUE(r.Ok()) << r.err;
    return r.out;
}

grvtest::RunResult runOpenssl(const std::vector<std::string>& args, const std::string& input) {
    std::vector<std::string> argv{"openssl"};
    argv.insert(argv.end(), args.begin(), args.end());
    grvtest::RunOptions options;
    options.input = input;
    return grvtest::RunProgram(argv, options);
}

std::unique_ptr<tessik::DataBuffer> bufferOf(const std::string& bytes) {
    auto db = std::make_unique<tessik::DataBuffer>();
    db->append(bytes.data(), static_cast<unsigned int>(bytes.size()));
    return db;
}

std::vector<std::string> certificateFiles(const std::string& dir) {
    std::vector<std::string> files;
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec))
        return files;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file(ec))
            continue;
        std::string ext = it->path().extension().string();
        if (ext == ".pem" || ext == ".crt" || ext == ".der" || ext == ".cer")
            files.push_back(it->path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string certificateDer(const std::string& path) {
    for (const char* form : {"PEM", "DER"}) {
        grvtest::RunOptions options;
        auto r = grvtest::RunProgram({"openssl", "x509", "-inform", form, "-in", path, "-outform", "DER"}, options);
        if (r.Ok() && !r.out.empty())
            return r.out;
    }
    return {};
}

void PkiRoots::SetUp() {
    setenv("XDG_DATA_HOME", m_user.Path().c_str(), 1);
    m_oldMachine = platform::MachineCryptoRoot();
    platform::SetMachineCryptoRoot(m_machine.Path());
}

void PkiRoots::TearDown() {
    platform::SetMachineCryptoRoot(m_oldMachine);
    EXPECT_EQ(platform::CryptOpenContextCount(), 0);
    EXPECT_EQ(platform::CryptOpenKeyCount(), 0);
    EXPECT_EQ(platform::CertOpenContextCount(), 0);
}

std::string PkiRoots::makeCert(const std::string& name, const std::vector<std::string>& extra) {
    std::string key = m_work.File(name + ".key"), pem = m_work.File(name + ".crt");
    std::vector<std::string> args{"req", "-x509", "-newkey", "rsa:1024", "-nodes", "-keyout",
                                  key,   "-out",  pem,       "-days",    "30"};
    args.insert(args.end(), extra.begin(), extra.end());
    openssl(args);
    return pem;
}

std::string PkiRoots::addToStore(const std::string& pem, DWORD location, const char* store) {
    std::string fp = openssl({"x509", "-in", pem, "-noout", "-fingerprint", "-sha1"}), hex;
    for (char ch : fp.substr(fp.find('=') + 1))
        if (std::isxdigit(static_cast<unsigned char>(ch)))
            hex += static_cast<char>(std::tolower(ch));
    std::string folder = platform::CertStoreFolder(platform::CERT_STORE_PROV_SYSTEM_W, location, store);
    platform::HCERTSTORE made = platform::CertOpenStore(platform::CERT_STORE_PROV_SYSTEM_W, location, store);
    platform::CertCloseStore(made, 0);
    std::string base = folder + "/" + hex;
    EXPECT_TRUE(grvtest::WriteFile(base + ".crt", grvtest::ReadFile(pem)));
    return base;
}

std::string PkiRoots::importKey(const std::string& name, const std::string& container, DWORD flags, bool exportable) {
    std::string key = m_work.File(name + ".key");
    std::string blob = openssl({"rsa", "-in", key, "-outform", "MSBLOB"});
    platform::HCRYPTPROV prov = 0;
    platform::HCRYPTKEY k = 0;
    EXPECT_TRUE(platform::CryptAcquireContextA(&prov, container.c_str(), nullptr, platform::PROV_RSA_FULL,
                                               flags | platform::CRYPT_NEWKEYSET));
    EXPECT_TRUE(platform::CryptImportKey(prov, reinterpret_cast<const BYTE*>(blob.data()),
                                         static_cast<DWORD>(blob.size()), 0,
                                         exportable ? platform::CRYPT_EXPORTABLE : 0, &k));
    platform::CryptDestroyKey(k);
    platform::CryptReleaseContext(prov, 0);
    return openssl({"rsa", "-in", key, "-traditional", "-outform", "DER"});
}

std::string PkiRoots::addWithKey(const std::string& name, DWORD location, const char* store,
                                 const std::string& container, DWORD keyFlags, bool exportable) {
    std::string base = addToStore(m_work.File(name + ".crt"), location, store);
    std::string der = importKey(name, container, keyFlags, exportable);
    EXPECT_TRUE(grvtest::WriteFile(base + platform::kKeyProvSuffix, "container=" + container + "\ntype=1\nflags=" +
                                                                        std::to_string(keyFlags) + "\nkeyspec=1\n"));
    return der;
}

} // namespace pkitest
