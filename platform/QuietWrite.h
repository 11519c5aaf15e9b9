#pragma once
// Writing to a descriptor that may be a pipe: a reader that went away is the
// error EPIPE, never a SIGPIPE that ends the process, and a file-size limit
// is EFBIG, never a SIGXFSZ (a library cannot ask the whole process to
// ignore the signals).
#include <cstddef>

namespace platform {

// Writes all of data, retrying after EINTR. 0, else the errno of the write
// that failed; *written (when given) says how much went out before it.
int WriteQuietly(int fd, const void* data, std::size_t size, std::size_t* written = nullptr);

} // namespace platform
