#pragma once
// The parts of a saved workbook that a later save keeps: its sheet names,
// and the compressed sheet parts, copied into a new file as they are.
#include <string>
#include <utility>
#include <vector>

#include "app/ParallelDeflate.h"

struct TWorkbookParts {
  std::vector<std::string> SheetNames;  // in workbook order
};

// Throws EWorkbookError when path is no workbook that this program can update.
TWorkbookParts ReadWorkbookParts(const std::string& path);

// Completes the new workbook fresh: the sheet parts at the first position of
// each carried pair are replaced by the previous workbook's parts at the
// second (1-based positions), copied without recompressing them (the two
// files' styles must be equal, or the copied cells would point at other
// formats); the parts at the positions of inserted are replaced by the
// raw deflate files named there, taken as they are. Returns an error text,
// empty on success.
struct TDeflatedPart {
  int Position = 0;  // 1-based
  std::string Path;
  TDeflated Stream;
};
std::string AssembleWorkbook(const std::string& fresh, const std::string& previous,
                             const std::vector<std::pair<int, int>>& carried,
                             const std::vector<TDeflatedPart>& inserted);
