#include "platform/NetAdapters.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>

#include <cstring>

namespace platform {

bool FirstAdapterHardwareAddress(std::uint8_t out[kHardwareAddressSize]) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    bool found = false;
    for (const ifaddrs* a = list; a != nullptr && !found; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_PACKET || (a->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        const auto* link = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
        if (link->sll_halen != kHardwareAddressSize)
            continue;
        std::memcpy(out, link->sll_addr, kHardwareAddressSize);
        found = true;
    }
    freeifaddrs(list);
    return found;
}

} // namespace platform
