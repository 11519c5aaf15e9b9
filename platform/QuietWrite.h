#pragma once
// Writing to a descriptor that may be a pipe: a reader that went away is the
// error EPIPE, never a SIGPIPE that ends the process, and a file-size limit
// is EFBIG, never a SIGXFSZ (a library cannot ask the whole process to
// ignore the signals).
#include <signal.h>

#include <cstddef>

namespace platform {

// While alive, a write on this thread that would raise SIGPIPE or SIGXFSZ
// fails with EPIPE or EFBIG instead; a signal the scope's writes raised is
// taken before the thread's signal mask is restored, one that was already
// waiting is left. For writers that write a descriptor themselves.
class WriteSignalsAsErrors {
public:
    WriteSignalsAsErrors();
    ~WriteSignalsAsErrors();
    WriteSignalsAsErrors(const WriteSignalsAsErrors&) = delete;
    WriteSignalsAsErrors& operator=(const WriteSignalsAsErrors&) = delete;

private:
    sigset_t m_oldMask;
    sigset_t m_wasPending;
};

// Writes all of data, retrying after EINTR, under WriteSignalsAsErrors. 0,
// else the errno of the write that failed; *written (when given) says how
// much went out before it.
int WriteQuietly(int fd, const void* data, std::size_t size, std::size_t* written = nullptr);

} // namespace platform
