#include "platform/CertStore.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <set>

#include "platform/ByteOrder.h"
#include "platform/WinErr.h"

namespace platform {

namespace fs = std::filesystem;

struct CertStoreState {
    bool inMemory = false;
    std::vector<std::string> ders;
    std::vector<std::string> keyProvFiles; // sidecar path, or empty
};

namespace {

constexpr const char* kPemBegin = "-----BEGIN CERTIFICATE-----";
constexpr const char* kPemEnd = "-----END CERTIFICATE-----";
constexpr BYTE kDerSequence = 0x30;
constexpr const char* kRootStoreName = "ROOT";

struct ContextImpl : CERT_CONTEXT {
    std::vector<BYTE> der;
    std::string keyProvFile;
    std::size_t index = 0;
};

struct Registry {
    std::mutex lock;
    std::set<const CERT_CONTEXT*> contexts;
    std::set<HCERTSTORE> stores;
};

Registry& registry() {
    static Registry r;
    return r;
}

ContextImpl* liveContext(PCCERT_CONTEXT context) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (!r.contexts.count(context))
        return nullptr;
    return static_cast<ContextImpl*>(const_cast<CERT_CONTEXT*>(context));
}

PCCERT_CONTEXT newContext(const BYTE* der, DWORD n, HCERTSTORE store, const std::string& keyProvFile,
                          std::size_t index) {
    auto* c = new ContextImpl;
    c->der.assign(der, der + n);
    c->dwCertEncodingType = X509_ASN_ENCODING;
    c->pbCertEncoded = c->der.data();
    c->cbCertEncoded = n;
    c->hCertStore = store;
    c->keyProvFile = keyProvFile;
    c->index = index;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.contexts.insert(c);
    return c;
}

// One DER item at the start of a range: its tag byte and where its content
// lies. Only what certificates use: one-byte tags, definite lengths.
struct Tlv {
    BYTE tag = 0;
    std::size_t header = 0;
    std::size_t length = 0;
    std::size_t size() const { return header + length; }
};

bool readTlv(const BYTE* p, std::size_t n, Tlv& out) {
    constexpr BYTE kLongForm = 0x80;
    constexpr std::size_t kMaxLengthBytes = 4;
    if (n < 2)
        return false;
    out.tag = p[0];
    out.header = 2;
    out.length = p[1];
    if (p[1] & kLongForm) {
        std::size_t count = p[1] & ~kLongForm;
        if (count == 0 || count > kMaxLengthBytes || n < 2 + count)
            return false;
        out.length = 0;
        for (std::size_t i = 0; i < count; ++i)
            out.length = (out.length << 8) | p[2 + i];
        out.header += count;
    }
    return out.length <= n - out.header;
}

// Whether the bytes are one DER SEQUENCE whose length covers them exactly.
bool wholeDerSequence(const BYTE* p, std::size_t n) {
    Tlv item;
    return readTlv(p, n, item) && item.tag == kDerSequence && item.size() == n;
}

} // namespace

bool CertificateRsaKey(const BYTE* der, std::size_t n, std::vector<BYTE>& modulus, DWORD& exponent) {
    constexpr BYTE kBitString = 0x03, kInteger = 0x02, kVersionTag = 0xA0;
    constexpr std::size_t kSubjectKeyInfoIndex = 5;
    static const BYTE kRsaEncryptionOid[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
    Tlv cert, tbs, item;
    if (!readTlv(der, n, cert) || cert.tag != kDerSequence)
        return false;
    const BYTE* p = der + cert.header;
    if (!readTlv(p, cert.length, tbs) || tbs.tag != kDerSequence)
        return false;
    p += tbs.header;
    std::size_t left = tbs.length;
    if (readTlv(p, left, item) && item.tag == kVersionTag) {
        p += item.size();
        left -= item.size();
    }
    for (std::size_t i = 0; i < kSubjectKeyInfoIndex; ++i) {
        if (!readTlv(p, left, item))
            return false;
        p += item.size();
        left -= item.size();
    }
    Tlv keyInfo, algorithm, bits, key, field;
    if (!readTlv(p, left, keyInfo) || keyInfo.tag != kDerSequence)
        return false;
    p += keyInfo.header;
    if (!readTlv(p, keyInfo.length, algorithm) || algorithm.tag != kDerSequence ||
        algorithm.length < sizeof(kRsaEncryptionOid) ||
        std::memcmp(p + algorithm.header, kRsaEncryptionOid, sizeof(kRsaEncryptionOid)) != 0)
        return false;
    p += algorithm.size();
    if (!readTlv(p, keyInfo.length - algorithm.size(), bits) || bits.tag != kBitString || bits.length < 1 ||
        p[bits.header] != 0)
        return false;
    p += bits.header + 1;
    if (!readTlv(p, bits.length - 1, key) || key.tag != kDerSequence)
        return false;
    p += key.header;
    left = key.length;
    if (!readTlv(p, left, field) || field.tag != kInteger)
        return false;
    std::size_t skip = 0;
    while (skip < field.length && p[field.header + skip] == 0)
        ++skip;
    modulus.assign(p + field.header + skip, p + field.size());
    left -= field.size();
    p += field.size();
    if (!readTlv(p, left, field) || field.tag != kInteger || field.length == 0)
        return false;
    exponent = 0;
    for (std::size_t i = 0; i < field.length; ++i) {
        if (exponent > 0xFFFFFFu)
            return false;
        exponent = exponent << 8 | p[field.header + i];
    }
    return !modulus.empty();
}

namespace {

// Whether the container key's public half is the certificate's key.
bool keyMatchesCertificate(PCCERT_CONTEXT context, HCRYPTKEY key) {
    std::vector<BYTE> modulus;
    DWORD exponent = 0, size = 0;
    if (!CertificateRsaKey(context->pbCertEncoded, context->cbCertEncoded, modulus, exponent) ||
        !CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &size))
        return false;
    std::vector<BYTE> blob(size);
    if (!CryptExportKey(key, 0, PUBLICKEYBLOB, 0, blob.data(), &size) || size < kBlobHeaderSize + kRsaPubKeySize)
        return false;
    DWORD blobExponent = LoadLe32(blob.data() + kBlobHeaderSize + 8);
    std::vector<BYTE> blobModulus(blob.rbegin(), blob.rend() - kBlobHeaderSize - kRsaPubKeySize);
    std::size_t skip = 0;
    while (skip < blobModulus.size() && blobModulus[skip] == 0)
        ++skip;
    blobModulus.erase(blobModulus.begin(), blobModulus.begin() + static_cast<std::ptrdiff_t>(skip));
    return blobExponent == exponent && blobModulus == modulus;
}

int base64Value(char ch) {
    if (ch >= 'A' && ch <= 'Z')
        return ch - 'A';
    if (ch >= 'a' && ch <= 'z')
        return ch - 'a' + 26;
    if (ch >= '0' && ch <= '9')
        return ch - '0' + 52;
    if (ch == '+')
        return 62;
    if (ch == '/')
        return 63;
    return -1;
}

bool decodeBase64Body(std::string_view text, std::string& out) {
    out.clear();
    std::uint32_t acc = 0;
    int bits = 0;
    bool padded = false;
    for (char ch : text) {
        if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n')
            continue;
        if (ch == '=') {
            padded = true;
            continue;
        }
        int v = base64Value(ch);
        if (v < 0 || padded)
            return false;
        acc = (acc << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((acc >> bits) & 0xFF));
        }
    }
    return !out.empty();
}

bool readFile(const fs::path& path, std::string& out) {
    std::error_code ec;
    auto size = fs::file_size(path, ec);
    if (ec || size > kMaxCertFileSize)
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// One file: DER as it stands, else every PEM certificate in it.
void addCertificateFile(CertStoreState& store, const fs::path& path, bool withSidecar) {
    std::string bytes;
    if (!readFile(path, bytes) || bytes.empty())
        return;
    std::string sidecar;
    if (withSidecar) {
        fs::path side = path;
        side.replace_extension(kKeyProvSuffix);
        std::error_code ec;
        if (fs::is_regular_file(side, ec))
            sidecar = side.string();
    }
    if (wholeDerSequence(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size())) {
        store.ders.push_back(std::move(bytes));
        store.keyProvFiles.push_back(sidecar);
        return;
    }
    std::vector<std::string> ders;
    PemCertificatesToDer(bytes, ders);
    for (auto& der : ders) {
        store.ders.push_back(std::move(der));
        store.keyProvFiles.push_back(sidecar);
    }
}

void loadFolder(CertStoreState& store, const std::string& folder) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        std::error_code fe;
        if (!entry.is_regular_file(fe))
            continue;
        if (entry.path().extension() == kKeyProvSuffix)
            continue;
        files.push_back(entry.path());
    }
    // Thumbprint order keeps enumeration stable between runs.
    std::sort(files.begin(), files.end());
    for (const auto& f : files)
        addCertificateFile(store, f, true);
}

std::string rootFor(DWORD location) {
    return (location & CERT_SYSTEM_STORE_LOCAL_MACHINE) ? MachineCryptoRoot() : UserCryptoRoot();
}

// Store and key-path names become folder names: no "." or ".." parts.
bool safeRelativePath(const std::string& name) {
    if (name.empty() || name[0] == '/')
        return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos)
            end = name.size();
        std::string part = name.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        start = end + 1;
    }
    return true;
}

bool parseKeyProv(const std::string& text, std::string& container, std::string& provider, DWORD& type, DWORD& flags,
                  DWORD& keySpec) {
    std::size_t pos = 0;
    bool haveContainer = false;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string name = line.substr(0, eq), value = line.substr(eq + 1);
        if (name == "container") {
            container = value;
            haveContainer = true;
        } else if (name == "provider") {
            provider = value;
        } else if (name == "type" || name == "flags" || name == "keyspec") {
            DWORD v = static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 0));
            (name == "type" ? type : name == "flags" ? flags : keySpec) = v;
        }
    }
    return haveContainer;
}

bool readKeyProv(PCCERT_CONTEXT context, std::string& container, std::string& provider, DWORD& type, DWORD& flags,
                 DWORD& keySpec) {
    ContextImpl* c = liveContext(context);
    if (!c) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::string text;
    type = PROV_RSA_FULL;
    flags = 0;
    keySpec = AT_KEYEXCHANGE;
    if (c->keyProvFile.empty() || !readFile(c->keyProvFile, text) ||
        !parseKeyProv(text, container, provider, type, flags, keySpec)) {
        SetLastError(CRYPT_E_NOT_FOUND);
        return false;
    }
    return true;
}

} // namespace

bool PemCertificatesToDer(const std::string& text, std::vector<std::string>& out) {
    std::size_t pos = 0;
    bool any = false;
    while ((pos = text.find(kPemBegin, pos)) != std::string::npos) {
        std::size_t body = pos + std::strlen(kPemBegin);
        std::size_t end = text.find(kPemEnd, body);
        if (end == std::string::npos)
            break;
        std::string der;
        if (decodeBase64Body(std::string_view(text).substr(body, end - body), der) &&
            wholeDerSequence(reinterpret_cast<const BYTE*>(der.data()), der.size())) {
            out.push_back(std::move(der));
            any = true;
        }
        pos = end + std::strlen(kPemEnd);
    }
    return any;
}

std::string CertStoreFolder(DWORD storeProvider, DWORD location, const std::string& name) {
    const char* kind = storeProvider == CERT_STORE_PROV_REG ? "/registry/" : "/stores/";
    return rootFor(location) + kind + name;
}

namespace {

HCERTSTORE registerStore(std::unique_ptr<CertStoreState> store) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.stores.insert(store.get());
    return store.release();
}

} // namespace

HCERTSTORE CertOpenStore(DWORD storeProvider, DWORD flags, const char* name) {
    if (storeProvider == CERT_STORE_PROV_MEMORY) {
        auto store = std::make_unique<CertStoreState>();
        store->inMemory = true;
        return registerStore(std::move(store));
    }
    if (!name || !safeRelativePath(name) ||
        (storeProvider != CERT_STORE_PROV_SYSTEM_W && storeProvider != CERT_STORE_PROV_REG)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    DWORD location = flags & (CERT_SYSTEM_STORE_CURRENT_USER | CERT_SYSTEM_STORE_LOCAL_MACHINE);
    if (location != CERT_SYSTEM_STORE_CURRENT_USER && location != CERT_SYSTEM_STORE_LOCAL_MACHINE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    bool readOnly = (flags & CERT_STORE_READONLY_FLAG) != 0;
    std::string folder = CertStoreFolder(storeProvider, location, name);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        if (storeProvider == CERT_STORE_PROV_REG) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return nullptr;
        }
        if (!readOnly) {
            fs::create_directories(folder, ec);
            if (ec) {
                SetLastErrorFromErrno(ec.value());
                return nullptr;
            }
        }
    }
    auto store = std::make_unique<CertStoreState>();
    loadFolder(*store, folder);
    if (storeProvider == CERT_STORE_PROV_SYSTEM_W && location == CERT_SYSTEM_STORE_LOCAL_MACHINE &&
        std::strcmp(name, kRootStoreName) == 0)
        addCertificateFile(*store, kSystemCaBundle, false);
    return registerStore(std::move(store));
}

BOOL CertAddEncodedCertificateToStore(HCERTSTORE store, DWORD encoding, const BYTE* encoded, DWORD length,
                                      DWORD disposition, PCCERT_CONTEXT* added) {
    if (added)
        *added = nullptr;
    if (disposition != CERT_STORE_ADD_ALWAYS || !(encoding & X509_ASN_ENCODING) || !encoded || length == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> guard(r.lock);
        if (!r.stores.count(store) || !store->inMemory) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    if (!wholeDerSequence(encoded, length)) {
        SetLastError(CRYPT_E_ASN1_EOD);
        return FALSE;
    }
    store->ders.emplace_back(reinterpret_cast<const char*>(encoded), length);
    store->keyProvFiles.emplace_back();
    if (added)
        *added = newContext(encoded, length, store, std::string(), store->ders.size() - 1);
    return TRUE;
}

BOOL CertCloseStore(HCERTSTORE store, DWORD flags) {
    (void)flags;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (!r.stores.erase(store)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete store;
    return TRUE;
}

PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE store, PCCERT_CONTEXT previous) {
    std::size_t next = 0;
    if (previous) {
        ContextImpl* p = liveContext(previous);
        if (!p || p->hCertStore != store) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        next = p->index + 1;
        CertFreeCertificateContext(previous);
    }
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> guard(r.lock);
        if (!r.stores.count(store)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
    }
    if (next >= store->ders.size()) {
        SetLastError(CRYPT_E_NOT_FOUND);
        return nullptr;
    }
    const std::string& der = store->ders[next];
    return newContext(reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()), store,
                      store->keyProvFiles[next], next);
}

PCCERT_CONTEXT CertCreateCertificateContext(DWORD encoding, const BYTE* encoded, DWORD length) {
    if (!(encoding & X509_ASN_ENCODING) || !encoded || length == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (encoded[0] != kDerSequence) {
        SetLastError(CRYPT_E_ASN1_BADTAG);
        return nullptr;
    }
    if (!wholeDerSequence(encoded, length)) {
        SetLastError(CRYPT_E_ASN1_EOD);
        return nullptr;
    }
    return newContext(encoded, length, nullptr, std::string(), 0);
}

PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT context) {
    ContextImpl* c = liveContext(context);
    if (!c)
        return nullptr;
    return newContext(c->der.data(), static_cast<DWORD>(c->der.size()), c->hCertStore, c->keyProvFile, c->index);
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT context) {
    if (!context)
        return TRUE;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (!r.contexts.erase(context)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete static_cast<const ContextImpl*>(context);
    return TRUE;
}

BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT context, DWORD propId, void* data, DWORD* dataLen) {
    if (!dataLen) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (propId != CERT_KEY_PROV_INFO_PROP_ID) {
        SetLastError(CRYPT_E_NOT_FOUND);
        return FALSE;
    }
    std::string container, provider;
    DWORD type = 0, flags = 0, keySpec = 0;
    if (!readKeyProv(context, container, provider, type, flags, keySpec))
        return FALSE;
    DWORD need = static_cast<DWORD>(sizeof(CRYPT_KEY_PROV_INFO) + container.size() + 1 + provider.size() + 1);
    if (!data) {
        *dataLen = need;
        return TRUE;
    }
    if (*dataLen < need) {
        *dataLen = need;
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    auto* info = static_cast<CRYPT_KEY_PROV_INFO*>(data);
    char* text = static_cast<char*>(data) + sizeof(CRYPT_KEY_PROV_INFO);
    std::memcpy(text, container.c_str(), container.size() + 1);
    info->pwszContainerName = text;
    text += container.size() + 1;
    std::memcpy(text, provider.c_str(), provider.size() + 1);
    info->pwszProvName = text;
    info->dwProvType = type;
    info->dwFlags = flags;
    info->dwKeySpec = keySpec;
    *dataLen = need;
    return TRUE;
}

BOOL CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT context, DWORD flags, void* reserved, HCRYPTPROV* prov,
                                       DWORD* keySpec, BOOL* callerMustFree) {
    if (!prov || reserved) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *prov = 0;
    std::string container, provider;
    DWORD type = 0, provFlags = 0, keyKind = 0;
    if (!readKeyProv(context, container, provider, type, provFlags, keyKind)) {
        SetLastError(CRYPT_E_NO_KEY_PROPERTY);
        return FALSE;
    }
    HCRYPTPROV h = 0;
    if (!CryptAcquireContextA(&h, container.c_str(), provider.empty() ? nullptr : provider.c_str(), type,
                              provFlags & (CRYPT_MACHINE_KEYSET | CRYPT_SILENT)))
        return FALSE;
    HCRYPTKEY key = 0;
    if (!CryptGetUserKey(h, keyKind, &key)) {
        DWORD err = GetLastError();
        CryptReleaseContext(h, 0);
        SetLastError(err);
        return FALSE;
    }
    bool matches = !(flags & CRYPT_ACQUIRE_COMPARE_KEY_FLAG) || keyMatchesCertificate(context, key);
    CryptDestroyKey(key);
    if (!matches) {
        CryptReleaseContext(h, 0);
        SetLastError(NTE_BAD_PUBLIC_KEY);
        return FALSE;
    }
    *prov = h;
    if (keySpec)
        *keySpec = keyKind;
    if (callerMustFree)
        *callerMustFree = TRUE;
    return TRUE;
}

int CertOpenContextCount() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return static_cast<int>(r.contexts.size());
}

} // namespace platform
