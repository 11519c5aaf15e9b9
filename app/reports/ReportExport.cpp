#include "app/reports/ReportExport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/reports/ReportQueries.h"

namespace reports {

namespace {

constexpr const char* kLineEnd = "\r\n";

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

bool WriteReportFile(const std::string& path, const std::string& bytes, std::string& error) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        error = std::strerror(errno);
        return false;
    }
    const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), f);
    int savedErrno = written == bytes.size() ? 0 : errno;
    if (std::fflush(f) != 0 && savedErrno == 0)
        savedErrno = errno ? errno : EIO;
    if (std::fclose(f) != 0 && savedErrno == 0)
        savedErrno = errno ? errno : EIO;
    if (written != bytes.size() && savedErrno == 0)
        savedErrno = EIO;
    if (savedErrno != 0) {
        error = std::strerror(savedErrno);
        return false;
    }
    return true;
}

} // namespace reports
