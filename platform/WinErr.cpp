#include "platform/WinErr.h"

#include <cerrno>
#include <cstdio>

namespace platform {
namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

DWORD GetLastError() {
    return t_lastError;
}
void SetLastError(DWORD code) {
    t_lastError = code;
}

DWORD WinErrorFromErrno(int err) {
    switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENXIO:
    case ENODEV: return ERROR_NOT_READY;
    case EIO: return ERROR_WRITE_FAULT;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EAGAIN: return ERROR_LOCK_VIOLATION;
    case ENOSYS:
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EISDIR: return ERROR_DIRECTORY;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    case ECANCELED: return ERROR_OPERATION_ABORTED;
    case EFBIG: return ERROR_DISK_FULL;
    default: return ERROR_INVALID_FUNCTION;
    }
}

DWORD WsaErrorFromErrno(int err) {
    switch (err) {
    case 0: return ERROR_SUCCESS;
    case EINTR: return WSAEINTR;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EINVAL: return WSAEINVAL;
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEINPROGRESS;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK:
    case EBADF: return WSAENOTSOCK;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EFAULT: return WSAEFAULT;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE: return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WinErrorFromErrno(err);
    }
}

DWORD SetLastErrorFromErrno(int err) {
    DWORD code = WinErrorFromErrno(err);
    t_lastError = code;
    return code;
}

std::string WinErrorText(DWORD code) {
    switch (code) {
    case ERROR_SUCCESS: return "The operation completed successfully.";
    case ERROR_INVALID_FUNCTION: return "Incorrect function.";
    case ERROR_FILE_NOT_FOUND: return "The system cannot find the file specified.";
    case ERROR_PATH_NOT_FOUND: return "The system cannot find the path specified.";
    case ERROR_TOO_MANY_OPEN_FILES: return "The system cannot open the file.";
    case ERROR_ACCESS_DENIED: return "Access is denied.";
    case ERROR_INVALID_HANDLE: return "The handle is invalid.";
    case ERROR_NOT_ENOUGH_MEMORY: return "Not enough storage is available to process this command.";
    case ERROR_OUTOFMEMORY: return "Not enough storage is available to complete this operation.";
    case ERROR_NOT_READY: return "The device is not ready.";
    case ERROR_WRITE_FAULT: return "The system cannot write to the specified device.";
    case ERROR_READ_FAULT: return "The system cannot read from the specified device.";
    case ERROR_SHARING_VIOLATION:
        return "The process cannot access the file because it is being used by another process.";
    case ERROR_LOCK_VIOLATION:
        return "The process cannot access the file because another process has locked a portion of the file.";
    case ERROR_HANDLE_EOF: return "Reached the end of the file.";
    case ERROR_NOT_SUPPORTED: return "The request is not supported.";
    case ERROR_FILE_EXISTS: return "The file exists.";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect.";
    case ERROR_BROKEN_PIPE: return "The pipe has been ended.";
    case ERROR_DISK_FULL: return "There is not enough space on the disk.";
    case ERROR_INSUFFICIENT_BUFFER: return "The data area passed to a system call is too small.";
    case ERROR_INVALID_NAME: return "The filename, directory name, or volume label syntax is incorrect.";
    case ERROR_NEGATIVE_SEEK: return "An attempt was made to move the file pointer before the beginning of the file.";
    case ERROR_DIR_NOT_EMPTY: return "The directory is not empty.";
    case ERROR_BUSY: return "The requested resource is in use.";
    case ERROR_ALREADY_EXISTS: return "Cannot create a file when that file already exists.";
    case ERROR_FILENAME_EXCED_RANGE: return "The filename or extension is too long.";
    case ERROR_DIRECTORY: return "The directory name is invalid.";
    case ERROR_OPERATION_ABORTED:
        return "The I/O operation has been aborted because of either a thread exit or an application request.";
    case ERROR_CANT_RESOLVE_FILENAME: return "The name of the file cannot be resolved by the system.";
    case WSAEINTR: return "A blocking operation was interrupted.";
    case WSAEACCES: return "An attempt was made to access a socket in a way forbidden by its access permissions.";
    case WSAEINVAL: return "An invalid argument was supplied.";
    case WSAEWOULDBLOCK: return "A non-blocking socket operation could not be completed immediately.";
    case WSAEINPROGRESS: return "A blocking operation is currently executing.";
    case WSAEALREADY:
        return "An operation was attempted on a non-blocking socket that already had an operation in progress.";
    case WSAENOTSOCK: return "An operation was attempted on something that is not a socket.";
    case WSAEMSGSIZE: return "A message sent on a datagram socket was larger than the internal message buffer.";
    case WSAEADDRINUSE: return "Only one usage of each socket address is normally permitted.";
    case WSAEADDRNOTAVAIL: return "The requested address is not valid in its context.";
    case WSAENETDOWN: return "A socket operation encountered a dead network.";
    case WSAENETUNREACH: return "A socket operation was attempted to an unreachable network.";
    case WSAECONNABORTED: return "An established connection was aborted by the software in your host machine.";
    case WSAECONNRESET: return "An existing connection was forcibly closed by the remote host.";
    case WSAENOBUFS:
        return "An operation on a socket could not be performed because the system lacked sufficient buffer space.";
    case WSAEISCONN: return "A connect request was made on an already connected socket.";
    case WSAENOTCONN: return "A request to send or receive data was disallowed because the socket is not connected.";
    case WSAESHUTDOWN:
        return "A request to send or receive data was disallowed because the socket had already been shut down.";
    case WSAETIMEDOUT:
        return "A connection attempt failed because the connected party did not properly respond after a period of "
               "time.";
    case WSAECONNREFUSED: return "No connection could be made because the target machine actively refused it.";
    case WSAEHOSTUNREACH: return "A socket operation was attempted to an unreachable host.";
    case WSAHOST_NOT_FOUND: return "No such host is known.";
    default: {
        char buf[48];
        std::snprintf(buf, sizeof buf, "Unknown error %u.", static_cast<unsigned>(code));
        return buf;
    }
    }
}

} // namespace platform
