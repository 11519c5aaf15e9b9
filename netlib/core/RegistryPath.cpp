#include "netlib/core/RegistryPath.h"

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/WinUtil.h"

namespace tessik {

namespace {

// KEY_READ with KEY_SET_VALUE and KEY_CREATE_SUB_KEY.
constexpr DWORD kKeyReadWrite = 0x2001F;

bool isPredefined(platform::HKEY key) {
    return key == platform::HKEY_CLASSES_ROOT || key == platform::HKEY_CURRENT_USER ||
           key == platform::HKEY_LOCAL_MACHINE || key == platform::HKEY_USERS;
}

} // namespace

void regCloseKeyUnlessPredefined(platform::HKEY key) {
    if (key && !isPredefined(key))
        platform::RegCloseKey(key);
}

platform::HKEY openRegistryKeyPath(platform::HKEY root, const char* path, bool readOnly) {
    if (!path)
        return 0;
    ExtPtrArray parts;
    parts.setOwnsObjects(true);
    StringBuffer(path).split(parts, '/', false, false);
    int count = parts.getCount();
    if (count == 0)
        return 0;

    // Only non-empty names open a level; the last of them may be writable.
    int lastNamed = -1;
    for (int i = 0; i < count; ++i)
        if (static_cast<StringBuffer*>(parts.elementAt(i))->getSize() > 0)
            lastNamed = i;

    platform::HKEY key = root;
    for (int i = 0; i <= lastNamed; ++i) {
        const auto* name = static_cast<StringBuffer*>(parts.elementAt(i));
        if (name->getSize() == 0)
            continue;
        DWORD access = (i == lastNamed && !readOnly) ? kKeyReadWrite : platform::KEY_READ;
        platform::HKEY next = 0;
        LONG rc = regOpenKey(key, name->getString(), 0, access, &next);
        // The caller's root stays the caller's to close.
        if (key != root)
            regCloseKeyUnlessPredefined(key);
        if (rc != 0)
            return 0;
        key = next;
    }
    return key;
}

platform::HKEY regOpenKeyPathLocalMachine(const char* path, bool readOnly) {
    return openRegistryKeyPath(platform::HKEY_LOCAL_MACHINE, path, readOnly);
}

platform::HKEY regOpenKeyPathCurrentUser(const char* path, bool readOnly) {
    return openRegistryKeyPath(platform::HKEY_CURRENT_USER, path, readOnly);
}

} // namespace tessik
