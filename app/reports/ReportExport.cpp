#include "app/reports/ReportExport.h"

#include <algorithm>

#include "app/reports/ReportQueries.h"
#include "app/store/JournalDb.h"
#include "platform/File.h"
#include "platform/PartFile.h"

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

int WriteReportFile(const std::string& path, const std::string& bytes, mode_t readers, const std::string& source) {
    switch (platform::DatabaseTargetOf(path, source)) {
    case platform::DatabaseTarget::Database: return kOntoItsJournal;
    case platform::DatabaseTarget::SideFile: return kOntoSideFile;
    case platform::DatabaseTarget::None: break;
    }
    platform::PartFile file;
    int error = file.Open(path, readers);
    // What an export onto this name that was stopped left goes too.
    file.RemoveLeftovers();
    if (error == 0)
        error = file.Write(bytes.data(), bytes.size());
    return error != 0 ? error : file.Commit();
}

mode_t ReadersOfJournal(const CJournalDb* db) {
    constexpr mode_t kAnyReaders = 07777;
    return db && db->IsOpen() ? platform::ReadersOf(db->GetFullPath()) : kAnyReaders;
}

std::string JournalOf(const CJournalDb* db) {
    return db && db->IsOpen() ? db->GetFullPath() : std::string();
}

} // namespace reports
