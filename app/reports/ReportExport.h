#pragma once
// A report's detail rows as comma-separated text: the kind's title, two
// empty lines, the quoted heading fields, then one quoted line per row,
// every line ended by CR LF. Qt-free.
#include <sys/types.h>

#include <cerrno>
#include <string>

#include "app/store/JournalTypes.h"

class CJournalDb;

namespace reports {

// One field between double quotes; a double quote inside is doubled so
// that readers of comma-separated text get the field back unchanged.
std::string QuoteCsvField(const std::string& text);

// The whole file's bytes for rows of the kind, in the rows' order; every
// row has exactly the fields the heading names.
std::string FormatReportCsv(int kind, const ReportRows& rows);

// What WriteReportFile answers for a path that is (or links to) the
// journal the report is made from, or a side file SQLite keeps beside a
// database (platform::DatabaseTargetOf): no system call's error number, so
// each means only that.
inline constexpr int kOntoItsJournal = -1;
inline constexpr int kOntoSideFile = -2;

// Writes the bytes as the file at path, as platform::PartFile writes, no
// more readable than readers allows, and never over source, the journal the
// report is made from, nor a side file: 0, kOntoItsJournal, kOntoSideFile, or the
// system's error number (ENOSPC for a full disk).
int WriteReportFile(const std::string& path, const std::string& bytes, mode_t readers = 07777,
                    const std::string& source = {});

// The permission bits a report or a print of the journal open in db may
// have at most: they hold the same health data (platform::ReadersOf).
mode_t ReadersOfJournal(const CJournalDb* db);
// The path of the journal open in db, which a report or print is never
// written over; empty with none open.
std::string JournalOf(const CJournalDb* db);

} // namespace reports
