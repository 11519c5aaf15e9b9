#include "platform/CryptProv.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/WinErr.h"

namespace platform {

namespace {

struct Contexts {
    std::mutex lock;
    std::set<HCRYPTPROV> open;
    HCRYPTPROV next = 1;
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

} // namespace

BOOL CryptAcquireContextA(HCRYPTPROV* prov, const char* container, const char* provider, DWORD provType, DWORD flags) {
    if (!prov) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *prov = 0;
    if (provider && std::strcmp(provider, kBaseCryptProvider) != 0 &&
        std::strcmp(provider, kEnhancedCryptProvider) != 0) {
        SetLastError(NTE_KEYSET_NOT_DEF);
        return FALSE;
    }
    if (provType != PROV_RSA_FULL && provType != PROV_RSA_AES) {
        SetLastError(NTE_BAD_PROV_TYPE);
        return FALSE;
    }
    if (flags & ~(CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_MACHINE_KEYSET)) {
        SetLastError(NTE_BAD_FLAGS);
        return FALSE;
    }
    if ((flags & CRYPT_VERIFYCONTEXT) != CRYPT_VERIFYCONTEXT || (container && *container)) {
        SetLastError(NTE_BAD_KEYSET);
        return FALSE;
    }
    Contexts& c = contexts();
    std::lock_guard<std::mutex> guard(c.lock);
    *prov = c.next++;
    c.open.insert(*prov);
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

int CryptOpenContextCount() {
    Contexts& c = contexts();
    std::lock_guard<std::mutex> guard(c.lock);
    return static_cast<int>(c.open.size());
}

} // namespace platform
