#include "platform/QuietWrite.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace platform {

int WriteQuietly(int fd, const void* data, std::size_t size, std::size_t* written) {
    // A write into a pipe nobody reads raises SIGPIPE at the writing thread:
    // held back here, and taken away unless one was already waiting.
    sigset_t pipe, saved, pending;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &saved);
    sigemptyset(&pending);
    sigpending(&pending);
    const bool waiting = sigismember(&pending, SIGPIPE) == 1;
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
    if (error == EPIPE && !waiting) {
        const struct timespec now = {0, 0};
        while (sigtimedwait(&pipe, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    if (written)
        *written = done;
    return error;
}

} // namespace platform
