#pragma once
// The report's sheets as an .xlsx workbook: typed cells (numbers, dates,
// date-times, shares as percentages) and, on a sheet that names chart
// columns, a column chart of them per period.
#include <string>
#include <vector>

#include "app/report/ReportSheets.h"

// Writes path (replaced in one step); false, with why, when it can't.
bool WriteReportWorkbook(const std::string& path, const std::vector<TReportSheet>& sheets,
                         std::string& error);
