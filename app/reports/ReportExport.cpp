#include "app/reports/ReportExport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "app/reports/ReportQueries.h"
#include "platform/File.h"

namespace reports {

namespace {

constexpr const char* kLineEnd = "\r\n";
// The unfinished file beside the one it becomes (mkstemp's pattern).
constexpr const char* kPartSuffix = ".part-XXXXXX";
constexpr mode_t kNewFileMode = 0666;

// 0, or the error number of the write that failed.
int WriteAll(int fd, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += static_cast<size_t>(n);
    }
    return ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS ? errno : 0;
}

std::string QuotedLine(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i)
            line += ',';
        line += QuoteCsvField(fields[i]);
    }
    return line + kLineEnd;
}

} // namespace

std::string QuoteCsvField(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

std::string FormatReportCsv(int kind, const ReportRows& rows) {
    const ReportKindInfo& info = KindInfo(kind);
    std::string out = std::string(info.exportTitle) + kLineEnd;
    out += kLineEnd;
    out += kLineEnd;
    out += QuotedLine(std::vector<std::string>(info.exportHeadings.begin(), info.exportHeadings.end()));
    // A row holds as many fields as the heading names: the texts the data
    // store pads rows with are not columns of the report.
    const size_t fields = info.exportHeadings.size();
    for (const ReportRow& row : rows) {
        ReportRow line(row.begin(), row.begin() + std::min(fields, row.size()));
        line.resize(fields);
        out += QuotedLine(line);
    }
    return out;
}

int WriteReportFile(const std::string& path, const std::string& bytes) {
    struct stat st {};
    const bool existed = ::stat(path.c_str(), &st) == 0;
    if (existed && S_ISDIR(st.st_mode))
        return EISDIR;
    if (existed && !S_ISREG(st.st_mode)) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0)
            return errno;
        const int written = WriteAll(fd, bytes);
        return ::close(fd) != 0 && written == 0 ? errno : written;
    }
    // The file a link names is the one replaced.
    std::string target = path;
    if (existed) {
        std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
        if (real)
            target = real.get();
    }
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string part = folder + "." + target.substr(slash + 1) + kPartSuffix;
    const int fd = ::mkstemp(part.data());
    if (fd < 0)
        return errno;
    ::fchmod(fd, existed ? st.st_mode & 07777 : kNewFileMode & ~platform::CurrentUmask());
    int error = WriteAll(fd, bytes);
    if (::close(fd) != 0 && error == 0)
        error = errno ? errno : EIO;
    if (error == 0 && ::rename(part.c_str(), target.c_str()) != 0)
        error = errno;
    if (error != 0)
        ::unlink(part.c_str());
    return error;
}

} // namespace reports
