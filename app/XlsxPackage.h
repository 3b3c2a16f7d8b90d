#pragma once
// Inside the .xlsx writer (app/Xlsx.h): the zip package. A sheet's part is
// found the way a reader finds it, through the workbook part and its
// relationships, not by a name pattern of the writer that made the file.
#include <string>
#include <utility>
#include <vector>

#include "app/ParallelDeflate.h"

// A sheet part compressed already (raw deflate in the file at Path).
struct TDeflatedPart {
  int Position = 0;  // 1-based
  std::string Path;
  TDeflated Stream;
};

// Completes the workbook fresh: its sheet parts at the first position of each
// carried pair are replaced by the previous workbook's parts at the second
// (1-based positions), copied without recompressing them; the parts at the
// positions of inserted are replaced by the raw deflate files named there.
// Both workbooks must be written with the same styles. Returns an error
// text, empty on success.
std::string AssembleWorkbook(const std::string& fresh, const std::string& previous,
                             const std::vector<std::pair<int, int>>& carried,
                             const std::vector<TDeflatedPart>& inserted);
