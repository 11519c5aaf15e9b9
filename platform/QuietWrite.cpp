#include "platform/QuietWrite.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <initializer_list>

namespace platform {

namespace {

sigset_t WriteSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    sigaddset(&set, SIGXFSZ);
    return set;
}

} // namespace

WriteSignalsAsErrors::WriteSignalsAsErrors() {
    const sigset_t quiet = WriteSignals();
    ::pthread_sigmask(SIG_BLOCK, &quiet, &m_oldMask);
    sigemptyset(&m_wasPending);
    ::sigpending(&m_wasPending);
}

WriteSignalsAsErrors::~WriteSignalsAsErrors() {
    // Such a write raises its signal at the writing thread: taken away here
    // unless one was already waiting when the scope began.
    sigset_t pending;
    if (::sigpending(&pending) != 0)
        sigemptyset(&pending);
    for (const int raised : {SIGPIPE, SIGXFSZ}) {
        if (sigismember(&m_wasPending, raised) == 1 || sigismember(&pending, raised) != 1)
            continue;
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, raised);
        const struct timespec now = {0, 0};
        while (::sigtimedwait(&one, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &m_oldMask, nullptr);
}

int WriteQuietly(int fd, const void* data, std::size_t size, std::size_t* written) {
    const WriteSignalsAsErrors quiet;
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    int error = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (written)
        *written = done;
    return error;
}

} // namespace platform
