#pragma once
// The report's sheets as CSV files DIR/NAME.csv, written as the group
// exports are: UTF-8, CR LF, quoted fields where needed, shortest numbers,
// dates YYYY-MM-DD and times YYYY-MM-DD HH:MM:SS, shares as fractions.
#include <string>
#include <vector>

#include "app/CsvExport.h"
#include "app/report/ReportSheets.h"

// folder ends in "/". False, with the file named in error, when one can't
// be written.
bool WriteReportCsv(const std::string& folder, const std::vector<TReportSheet>& sheets,
                    const TCsvDialect& dialect, std::string& error);
