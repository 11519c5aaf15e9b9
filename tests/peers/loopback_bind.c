// Preloaded into a peer that cannot be told a listen address (gnutls-serv):
// its binds to every IPv4 interface bind 127.0.0.1 instead, and its binds to
// every IPv6 interface fail, so that nothing it serves is reachable from
// beyond this machine.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>

typedef int (*BindFunction)(int, const struct sockaddr*, socklen_t);

int bind(int fd, const struct sockaddr* address, socklen_t length) {
    static BindFunction next;
    if (next == NULL)
        next = (BindFunction)dlsym(RTLD_NEXT, "bind");
    if (address != NULL && address->sa_family == AF_INET && length >= sizeof(struct sockaddr_in)) {
        struct sockaddr_in in;
        memcpy(&in, address, sizeof in);
        if (in.sin_addr.s_addr == htonl(INADDR_ANY)) {
            in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            return next(fd, (const struct sockaddr*)&in, sizeof in);
        }
    }
    if (address != NULL && address->sa_family == AF_INET6 && length >= sizeof(struct sockaddr_in6)) {
        struct sockaddr_in6 in6;
        memcpy(&in6, address, sizeof in6);
        if (IN6_IS_ADDR_UNSPECIFIED(&in6.sin6_addr)) {
            errno = EADDRNOTAVAIL;
            return -1;
        }
    }
    return next(fd, address, length);
}
