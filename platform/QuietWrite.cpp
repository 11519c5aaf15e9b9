#include "platform/QuietWrite.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace platform {

int WriteQuietly(int fd, const void* data, std::size_t size, std::size_t* written) {
    // Such a write raises its signal at the writing thread: held back here,
    // and taken away unless one was already waiting.
    sigset_t quiet, saved, pending;
    sigemptyset(&quiet);
    sigaddset(&quiet, SIGPIPE);
    sigaddset(&quiet, SIGXFSZ);
    pthread_sigmask(SIG_BLOCK, &quiet, &saved);
    sigemptyset(&pending);
    sigpending(&pending);
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
    const int raised = error == EPIPE ? SIGPIPE : error == EFBIG ? SIGXFSZ : 0;
    if (raised != 0 && sigismember(&pending, raised) != 1) {
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, raised);
        const struct timespec now = {0, 0};
        while (sigtimedwait(&one, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    if (written)
        *written = done;
    return error;
}

} // namespace platform
