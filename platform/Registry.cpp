#include "platform/Registry.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WinErr.h"

namespace platform {

namespace {

struct Value {
    DWORD type = REG_SZ;
    std::vector<BYTE> data;
};

struct Store {
    std::mutex lock;
    // Full key path in lower case → its values (names in lower case).
    std::map<std::string, std::map<std::string, Value>> keys;
    // Open handle → full key path and the access it was opened with.
    struct OpenKey {
        std::string path;
        DWORD access;
    };
    std::map<HKEY, OpenKey> open;
    HKEY nextHandle = 0x1000;
};

Store& store() {
    static Store s;
    return s;
}

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

const char* rootName(HKEY key) {
    switch (key) {
    case HKEY_CLASSES_ROOT: return "hkcr";
    case HKEY_CURRENT_USER: return "hkcu";
    case HKEY_LOCAL_MACHINE: return "hklm";
    case HKEY_USERS: return "hku";
    default: return nullptr;
    }
}

// The full path of key\subKey, or false for an unknown handle. Caller locks.
bool resolve(Store& s, HKEY key, const char* subKey, std::string& out) {
    if (const char* root = rootName(key)) {
        out = root;
    } else {
        auto it = s.open.find(key);
        if (it == s.open.end())
            return false;
        out = it->second.path;
    }
    std::string sub = subKey ? subKey : "";
    for (char& c : sub)
        if (c == '/')
            c = '\\';
    std::string::size_type i = 0;
    while (i < sub.size()) {
        std::string::size_type j = sub.find('\\', i);
        if (j == std::string::npos)
            j = sub.size();
        if (j > i)
            out += "\\" + lower(sub.substr(i, j - i));
        i = j + 1;
    }
    return true;
}

// A proxy set without a value names none.
const char* envValue(const char* name) {
    const char* v = std::getenv(name);
    return (v && *v) ? v : nullptr;
}

const char* envEither(const char* lowerName, const char* upperName) {
    const char* v = envValue(lowerName);
    return v ? v : envValue(upperName);
}

// "http://user:pw@host:3128/" → "user:pw@host:3128": the credentials stay
// for the reader, a ';' or '=' escaped so the list keeps its entries. A
// proxy of another scheme (socks5://, https://) keeps its scheme, for the
// reader of the value to take or refuse. A value whose host part, which
// ends at a path, a query or a fragment, is empty ("http://", "//host")
// stays whole, and is refused: a proxy set is never none.
std::string hostPort(const char* url) {
    std::string s = url;
    std::string scheme;
    constexpr std::string_view kPlain = "http://";
    constexpr std::string_view kSchemeEnd = "://";
    if (lower(s.substr(0, kPlain.size())) == kPlain) {
        s.erase(0, kPlain.size());
    } else if (const std::string::size_type at = s.find(kSchemeEnd); at != std::string::npos) {
        scheme = s.substr(0, at + kSchemeEnd.size());
        s.erase(0, scheme.size());
    }
    const std::string::size_type end = s.find_first_of("/?#");
    if (s.empty() || end == 0) {
        s = url;
        scheme.clear();
    } else if (end != std::string::npos) {
        s.erase(end);
    }
    std::string out = scheme;
    for (const char c : s)
        out += c == ';' ? std::string("%3B") : c == '=' ? std::string("%3D") : std::string(1, c);
    return out;
}

Value textValue(const std::string& text) {
    Value v;
    v.type = REG_SZ;
    v.data.assign(text.begin(), text.end());
    v.data.push_back(0);
    return v;
}

// The proxy values of the Internet Settings key; false for other names.
bool proxyValue(const std::string& name, Value& out) {
    // Only the lower-case name for plain HTTP: in a CGI program HTTP_PROXY
    // is the client's "Proxy:" request field. all_proxy serves a scheme
    // that has none of its own.
    const char* all = envEither("all_proxy", "ALL_PROXY");
    const char* http = envValue("http_proxy");
    const char* https = envEither("https_proxy", "HTTPS_PROXY");
    http = http != nullptr ? http : all;
    https = https != nullptr ? https : all;
    if (name == "proxyenable") {
        DWORD on = (http || https) ? 1 : 0;
        out.type = REG_DWORD;
        out.data.assign(reinterpret_cast<BYTE*>(&on), reinterpret_cast<BYTE*>(&on) + 4);
        return true;
    }
    if (name == "proxyserver") {
        if (!http && !https)
            return false;
        std::string server;
        if (http)
            server = "http=" + hostPort(http);
        if (https)
            server += std::string(server.empty() ? "" : ";") + "https=" + hostPort(https);
        out = textValue(server);
        return true;
    }
    if (name == "proxyoverride") {
        const char* no = envEither("no_proxy", "NO_PROXY");
        if (!no)
            return false;
        out = textValue(no);
        return true;
    }
    return false;
}

const std::string& internetSettingsPath() {
    static const std::string path = [] {
        std::string p;
        Store unused;
        resolve(unused, HKEY_CURRENT_USER, kInternetSettingsKey, p);
        return p;
    }();
    return path;
}

// The Internet Settings key and the keys above it are always there, as on
// any Windows machine, so a path can be opened to it level by level.
bool exists(Store& s, const std::string& path) {
    const std::string& settings = internetSettingsPath();
    if (path == settings || (settings.compare(0, path.size() + 1, path + "\\") == 0))
        return true;
    return s.keys.count(path) != 0;
}

HKEY openHandle(Store& s, const std::string& path, DWORD access) {
    HKEY h = s.nextHandle++;
    s.open[h] = Store::OpenKey{path, access};
    return h;
}

} // namespace

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, DWORD samDesired, HKEY* result) {
    if (!result)
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    *result = 0;
    Store& s = store();
    std::lock_guard<std::mutex> guard(s.lock);
    std::string path;
    if (!resolve(s, key, subKey, path))
        return static_cast<LONG>(ERROR_INVALID_HANDLE);
    if (!rootName(key) || path != rootName(key)) {
        if (!exists(s, path))
            return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    }
    *result = openHandle(s, path, samDesired);
    return static_cast<LONG>(ERROR_SUCCESS);
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD, char*, DWORD, DWORD samDesired, const void*, HKEY* result,
                     DWORD* disposition) {
    if (!result)
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    *result = 0;
    Store& s = store();
    std::lock_guard<std::mutex> guard(s.lock);
    std::string path;
    if (!resolve(s, key, subKey, path))
        return static_cast<LONG>(ERROR_INVALID_HANDLE);
    bool existed = exists(s, path) || (rootName(key) && path == rootName(key));
    // Every missing level comes into being, as a created key's parents do.
    for (std::string::size_type i = path.find('\\'); i != std::string::npos; i = path.find('\\', i + 1))
        s.keys[path.substr(0, i)];
    s.keys[path];
    if (disposition)
        *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *result = openHandle(s, path, samDesired);
    return static_cast<LONG>(ERROR_SUCCESS);
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
    Store& s = store();
    std::lock_guard<std::mutex> guard(s.lock);
    std::string path;
    if (!resolve(s, key, nullptr, path))
        return static_cast<LONG>(ERROR_INVALID_HANDLE);
    std::string name = lower(valueName ? valueName : "");
    Value v;
    if (path == internetSettingsPath() && proxyValue(name, v)) {
        // The environment decides.
    } else {
        auto k = s.keys.find(path);
        if (k == s.keys.end())
            return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
        auto it = k->second.find(name);
        if (it == k->second.end())
            return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
        v = it->second;
    }
    if (type)
        *type = v.type;
    DWORD need = static_cast<DWORD>(v.data.size());
    if (!size)
        return static_cast<LONG>(data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS);
    if (!data) {
        *size = need;
        return static_cast<LONG>(ERROR_SUCCESS);
    }
    if (*size < need) {
        *size = need;
        return static_cast<LONG>(ERROR_MORE_DATA);
    }
    if (need)
        std::memcpy(data, v.data.data(), need);
    *size = need;
    return static_cast<LONG>(ERROR_SUCCESS);
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data, DWORD size) {
    if (!data && size)
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    Store& s = store();
    std::lock_guard<std::mutex> guard(s.lock);
    if (rootName(key))
        return static_cast<LONG>(ERROR_ACCESS_DENIED);
    std::string path;
    if (!resolve(s, key, nullptr, path))
        return static_cast<LONG>(ERROR_INVALID_HANDLE);
    // A key opened only for reading refuses writes, as Windows does.
    if (!(s.open[key].access & KEY_SET_VALUE))
        return static_cast<LONG>(ERROR_ACCESS_DENIED);
    Value v;
    v.type = type;
    if (size)
        v.data.assign(data, data + size);
    s.keys[path][lower(valueName ? valueName : "")] = std::move(v);
    return static_cast<LONG>(ERROR_SUCCESS);
}

LONG RegCloseKey(HKEY key) {
    if (rootName(key))
        return static_cast<LONG>(ERROR_SUCCESS);
    Store& s = store();
    std::lock_guard<std::mutex> guard(s.lock);
    return static_cast<LONG>(s.open.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
}

void RegResetForTest() {
    Store& s = store();
    std::lock_guard<std::mutex> guard(s.lock);
    s.keys.clear();
    s.open.clear();
}

} // namespace platform
