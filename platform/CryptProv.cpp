#include "platform/CryptProv.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/PartFile.h"
#include "platform/QuietWrite.h"
#include "platform/WinErr.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

constexpr const char* kExchangeKeyFile = "exchange.key";
constexpr const char* kSignatureKeyFile = "signature.key";
// Present beside a key file when the key may not be exported.
constexpr const char* kNoExportSuffix = ".noexport";
constexpr const char* kDefaultMachineRoot = "/var/lib/Gorvane/crypto";
constexpr mode_t kOwnerOnlyFile = S_IRUSR | S_IWUSR;

struct Context {
    bool verify = false;
    bool machine = false;
    std::string container;
    std::string provider;
    DWORD type = 0;
    std::size_t nextAlg = 0;
};

struct Key {
    HCRYPTPROV prov = 0;
    std::vector<BYTE> blob;
    bool exportable = false;
};

struct Contexts {
    std::mutex lock;
    std::map<HCRYPTPROV, Context> open;
    std::map<HCRYPTKEY, Key> keys;
    HCRYPTPROV next = 1;
    HCRYPTKEY nextKey = 1;
    std::string machineRoot;
};

Contexts& contexts() {
    static Contexts c;
    return c;
}

bool isOpen(HCRYPTPROV prov) {
    Contexts& c = contexts();
    std::lock_guard<std::mutex> guard(c.lock);
    return c.open.count(prov) != 0;
}

bool findContext(HCRYPTPROV prov, Context& out) {
    Contexts& c = contexts();
    std::lock_guard<std::mutex> guard(c.lock);
    auto it = c.open.find(prov);
    if (it == c.open.end())
        return false;
    out = it->second;
    return true;
}

struct ProviderName {
    const char* name;
    DWORD type;
};

// The names this provider answers to, in enumeration order.
constexpr ProviderName kProviders[] = {
    {kBaseCryptProvider, PROV_RSA_FULL},
    {kEnhancedCryptProvider, PROV_RSA_FULL},
    {kStrongCryptProvider, PROV_RSA_FULL},
    {kAesCryptProvider, PROV_RSA_AES},
};

constexpr PROV_ENUMALGS kAlgorithms[] = {
    {0x6602, 128, 4, "RC2"},       {0x6801, 128, 4, "RC4"},
    {0x6601, 56, 4, "DES"},        {0x6609, 112, 13, "3DES TWO KEY"},
    {0x6603, 168, 5, "3DES"},      {0x8004, 160, 6, "SHA-1"},
    {0x8001, 128, 4, "MD2"},       {0x8002, 128, 4, "MD4"},
    {0x8003, 128, 4, "MD5"},       {0x8009, 0, 5, "HMAC"},
    {0x2400, 1024, 9, "RSA_SIGN"}, {0xA400, 1024, 9, "RSA_KEYX"},
};
constexpr PROV_ENUMALGS kAesAlgorithms[] = {
    {0x660E, 128, 8, "AES 128"}, {0x660F, 192, 8, "AES 192"}, {0x6610, 256, 8, "AES 256"},
    {0x800C, 256, 8, "SHA-256"}, {0x800D, 384, 8, "SHA-384"}, {0x800E, 512, 8, "SHA-512"},
};

bool knownProvider(const char* name) {
    for (const auto& p : kProviders)
        if (std::strcmp(name, p.name) == 0)
            return true;
    return false;
}

std::string containerFolder(const std::string& container, bool machine) {
    return (machine ? MachineCryptoRoot() : UserCryptoRoot()) + "/keys/" + container;
}

// Container names become folder names: no separators, no dot folders.
bool validContainerName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos;
}

bool readWholeFile(const std::string& path, std::vector<BYTE>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Key files are their owner's alone, whatever the umask or an older file's
// mode; a key that cannot be written whole (a full disk, a file-size limit)
// leaves the older one as it was.
bool writeWholeFile(const std::string& path, const BYTE* data, std::size_t n) {
    PartFile file;
    return file.Open(path, kOwnerOnlyFile, false) == 0 && WriteQuietly(file.Fd(), data, n) == 0 && file.Commit() == 0;
}

// A PRIVATEKEYBLOB of an RSA key: header, "RSA2" key header, then modulus,
// two primes, two exponents, coefficient and private exponent.
bool validPrivateKeyBlob(const BYTE* blob, DWORD n, ALG_ID& alg) {
    if (!blob || n < kBlobHeaderSize + kRsaPubKeySize)
        return false;
    if (blob[0] != PRIVATEKEYBLOB || blob[1] != CUR_BLOB_VERSION)
        return false;
    alg = platform::LoadLe32(blob + 4);
    if (alg != CALG_RSA_KEYX && alg != CALG_RSA_SIGN)
        return false;
    if (platform::LoadLe32(blob + kBlobHeaderSize) != kRsa2Magic)
        return false;
    DWORD bits = platform::LoadLe32(blob + kBlobHeaderSize + 4);
    if (bits == 0 || bits % 16 != 0 || bits > kMaxRsaKeyBits)
        return false;
    DWORD body = bits / 8 * 2 + bits / 16 * 5;
    return n == kBlobHeaderSize + kRsaPubKeySize + body;
}

const char* keyFileName(DWORD keySpec) {
    return keySpec == AT_SIGNATURE ? kSignatureKeyFile : kExchangeKeyFile;
}

bool answerBytes(const void* value, DWORD size, BYTE* data, DWORD* dataLen) {
    if (!data) {
        *dataLen = size;
        return true;
    }
    if (*dataLen < size) {
        *dataLen = size;
        SetLastError(ERROR_MORE_DATA);
        return false;
    }
    std::memcpy(data, value, size);
    *dataLen = size;
    return true;
}

} // namespace

std::string UserCryptoRoot() {
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (data && *data) {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home ? home : "") + "/.local/share";
    }
    return base + "/Gorvane/crypto";
}

std::string MachineCryptoRoot() {
    Contexts& c = contexts();
    std::lock_guard<std::mutex> guard(c.lock);
    return c.machineRoot.empty() ? std::string(kDefaultMachineRoot) : c.machineRoot;
}

void SetMachineCryptoRoot(const std::string& path) {
    Contexts& c = contexts();
    std::lock_guard<std::mutex> guard(c.lock);
    c.machineRoot = path;
}

bool KeyContainerExists(const std::string& container, DWORD flags) {
    std::error_code ec;
    return validContainerName(container) &&
           fs::is_directory(containerFolder(container, (flags & CRYPT_MACHINE_KEYSET) != 0), ec);
}

BOOL CryptAcquireContextA(HCRYPTPROV* prov, const char* container, const char* provider, DWORD provType, DWORD flags) {
    if (!prov) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *prov = 0;
    if (provider && !knownProvider(provider)) {
        SetLastError(NTE_KEYSET_NOT_DEF);
        return FALSE;
    }
    if (provType != PROV_RSA_FULL && provType != PROV_RSA_AES) {
        SetLastError(NTE_BAD_PROV_TYPE);
        return FALSE;
    }
    if (flags & ~(CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_MACHINE_KEYSET | CRYPT_SILENT)) {
        SetLastError(NTE_BAD_FLAGS);
        return FALSE;
    }
    Context ctx;
    ctx.provider = provider ? provider : kBaseCryptProvider;
    ctx.type = provType;
    ctx.machine = (flags & CRYPT_MACHINE_KEYSET) != 0;
    if ((flags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT) {
        if (container && *container) {
            SetLastError(NTE_BAD_KEYSET);
            return FALSE;
        }
        ctx.verify = true;
    } else {
        ctx.container = container && *container ? container : kDefaultKeyContainer;
        if (!validContainerName(ctx.container)) {
            SetLastError(NTE_BAD_KEYSET);
            return FALSE;
        }
        std::string folder = containerFolder(ctx.container, ctx.machine);
        std::error_code ec;
        bool exists = fs::is_directory(folder, ec);
        if (flags & CRYPT_NEWKEYSET) {
            if (exists) {
                SetLastError(NTE_EXISTS);
                return FALSE;
            }
            fs::create_directories(folder, ec);
            if (!ec)
                fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
            if (ec) {
                SetLastErrorFromErrno(ec.value());
                return FALSE;
            }
        } else if (!exists) {
            SetLastError(NTE_BAD_KEYSET);
            return FALSE;
        }
    }
    Contexts& c = contexts();
    std::lock_guard<std::mutex> guard(c.lock);
    *prov = c.next++;
    c.open.emplace(*prov, std::move(ctx));
    return TRUE;
}

BOOL CryptReleaseContext(HCRYPTPROV prov, DWORD flags) {
    if (flags != 0) {
        SetLastError(NTE_BAD_FLAGS);
        return FALSE;
    }
    Contexts& c = contexts();
    std::lock_guard<std::mutex> guard(c.lock);
    if (!c.open.erase(prov)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL CryptGenRandom(HCRYPTPROV prov, DWORD count, BYTE* buffer) {
    if (!isOpen(prov)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return SystemRandomBytes(buffer, count) ? TRUE : FALSE;
}

bool SystemRandomBytes(std::uint8_t* out, std::size_t count) {
    if (!out && count) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::size_t done = 0;
    while (done < count) {
        ssize_t r = ::getrandom(out + done, count - done, 0);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            SetLastErrorFromErrno(errno);
            return false;
        }
        done += static_cast<std::size_t>(r);
    }
    return true;
}

BOOL CryptGetProvParam(HCRYPTPROV prov, DWORD param, BYTE* data, DWORD* dataLen, DWORD flags) {
    if (!dataLen) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Context ctx;
    if (!findContext(prov, ctx)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    switch (param) {
    case PP_CONTAINER:
        if (ctx.verify) {
            SetLastError(NTE_BAD_KEYSET);
            return FALSE;
        }
        return answerBytes(ctx.container.c_str(), static_cast<DWORD>(ctx.container.size() + 1), data, dataLen);
    case PP_NAME: return answerBytes(ctx.provider.c_str(), static_cast<DWORD>(ctx.provider.size() + 1), data, dataLen);
    case PP_IMPTYPE: {
        DWORD v = CRYPT_IMPL_SOFTWARE;
        return answerBytes(&v, sizeof v, data, dataLen);
    }
    case PP_VERSION: {
        DWORD v = kProviderVersion;
        return answerBytes(&v, sizeof v, data, dataLen);
    }
    case PP_ENUMALGS: {
        std::vector<PROV_ENUMALGS> all(std::begin(kAlgorithms), std::end(kAlgorithms));
        if (ctx.type == PROV_RSA_AES)
            all.insert(all.end(), std::begin(kAesAlgorithms), std::end(kAesAlgorithms));
        std::size_t index = (flags & CRYPT_FIRST) ? 0 : ctx.nextAlg;
        if (index >= all.size()) {
            SetLastError(ERROR_NO_MORE_ITEMS);
            return FALSE;
        }
        if (!answerBytes(&all[index], sizeof(PROV_ENUMALGS), data, dataLen))
            return FALSE;
        if (data) {
            Contexts& c = contexts();
            std::lock_guard<std::mutex> guard(c.lock);
            auto it = c.open.find(prov);
            if (it != c.open.end())
                it->second.nextAlg = index + 1;
        }
        return TRUE;
    }
    default: SetLastError(NTE_BAD_TYPE); return FALSE;
    }
}

BOOL CryptEnumProvidersA(DWORD index, DWORD* reserved, DWORD flags, DWORD* provType, char* name, DWORD* nameLen) {
    if (reserved || flags || !nameLen) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (index >= std::size(kProviders)) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    const ProviderName& p = kProviders[index];
    if (provType)
        *provType = p.type;
    return answerBytes(p.name, static_cast<DWORD>(std::strlen(p.name) + 1), reinterpret_cast<BYTE*>(name), nameLen);
}

BOOL CryptImportKey(HCRYPTPROV prov, const BYTE* blob, DWORD blobLen, HCRYPTKEY pubKey, DWORD flags, HCRYPTKEY* key) {
    if (!key || pubKey != 0 || (flags & ~CRYPT_EXPORTABLE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *key = 0;
    Context ctx;
    if (!findContext(prov, ctx)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ALG_ID alg = 0;
    if (!validPrivateKeyBlob(blob, blobLen, alg)) {
        SetLastError(NTE_BAD_DATA);
        return FALSE;
    }
    bool exportable = (flags & CRYPT_EXPORTABLE) != 0;
    if (!ctx.verify) {
        std::string file = containerFolder(ctx.container, ctx.machine) + "/" +
                           keyFileName(alg == CALG_RSA_SIGN ? AT_SIGNATURE : AT_KEYEXCHANGE);
        std::error_code ec;
        bool written = writeWholeFile(file, blob, blobLen);
        if (written && exportable) {
            fs::remove(file + kNoExportSuffix, ec);
        } else if (written) {
            written = writeWholeFile(file + kNoExportSuffix, nullptr, 0);
        }
        if (!written) {
            SetLastError(ERROR_WRITE_FAULT);
            return FALSE;
        }
    }
    Contexts& c = contexts();
    std::lock_guard<std::mutex> guard(c.lock);
    *key = c.nextKey++;
    c.keys.emplace(*key, Key{prov, std::vector<BYTE>(blob, blob + blobLen), exportable});
    return TRUE;
}

BOOL CryptGetUserKey(HCRYPTPROV prov, DWORD keySpec, HCRYPTKEY* key) {
    if (!key) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *key = 0;
    Context ctx;
    if (!findContext(prov, ctx)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (keySpec != AT_KEYEXCHANGE && keySpec != AT_SIGNATURE) {
        SetLastError(NTE_BAD_KEY);
        return FALSE;
    }
    if (ctx.verify) {
        SetLastError(NTE_NO_KEY);
        return FALSE;
    }
    std::string file = containerFolder(ctx.container, ctx.machine) + "/" + keyFileName(keySpec);
    Key k;
    k.prov = prov;
    ALG_ID alg = 0;
    if (!readWholeFile(file, k.blob)) {
        SetLastError(NTE_NO_KEY);
        return FALSE;
    }
    if (!validPrivateKeyBlob(k.blob.data(), static_cast<DWORD>(k.blob.size()), alg)) {
        SetLastError(NTE_BAD_KEY);
        return FALSE;
    }
    std::error_code ec;
    k.exportable = !fs::exists(file + kNoExportSuffix, ec);
    Contexts& c = contexts();
    std::lock_guard<std::mutex> guard(c.lock);
    *key = c.nextKey++;
    c.keys.emplace(*key, std::move(k));
    return TRUE;
}

BOOL CryptExportKey(HCRYPTKEY key, HCRYPTKEY expKey, DWORD blobType, DWORD flags, BYTE* data, DWORD* dataLen) {
    if (!dataLen || expKey != 0 || flags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Contexts& c = contexts();
    std::lock_guard<std::mutex> guard(c.lock);
    auto it = c.keys.find(key);
    if (it == c.keys.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const std::vector<BYTE>& blob = it->second.blob;
    if (blobType == PUBLICKEYBLOB) {
        // The header with its type and magic changed, and the modulus.
        DWORD bits = platform::LoadLe32(blob.data() + kBlobHeaderSize + 4);
        std::vector<BYTE> pub(blob.begin(), blob.begin() + kBlobHeaderSize + kRsaPubKeySize + bits / 8);
        pub[0] = PUBLICKEYBLOB;
        StoreLe32(pub.data() + kBlobHeaderSize, kRsa1Magic);
        return answerBytes(pub.data(), static_cast<DWORD>(pub.size()), data, dataLen);
    }
    if (blobType != PRIVATEKEYBLOB) {
        SetLastError(NTE_BAD_TYPE);
        return FALSE;
    }
    if (!it->second.exportable) {
        SetLastError(NTE_BAD_KEY_STATE);
        return FALSE;
    }
    return answerBytes(blob.data(), static_cast<DWORD>(blob.size()), data, dataLen);
}

bool ProviderKeyBlob(HCRYPTKEY key, std::vector<BYTE>& blob) {
    blob.clear();
    Contexts& c = contexts();
    std::lock_guard<std::mutex> guard(c.lock);
    auto it = c.keys.find(key);
    if (it == c.keys.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    blob = it->second.blob;
    return true;
}

BOOL CryptDestroyKey(HCRYPTKEY key) {
    Contexts& c = contexts();
    std::lock_guard<std::mutex> guard(c.lock);
    auto it = c.keys.find(key);
    if (it == c.keys.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::fill(it->second.blob.begin(), it->second.blob.end(), 0);
    c.keys.erase(it);
    return TRUE;
}

int CryptOpenKeyCount() {
    Contexts& c = contexts();
    std::lock_guard<std::mutex> guard(c.lock);
    return static_cast<int>(c.keys.size());
}

int CryptOpenContextCount() {
    Contexts& c = contexts();
    std::lock_guard<std::mutex> guard(c.lock);
    return static_cast<int>(c.open.size());
}

} // namespace platform
