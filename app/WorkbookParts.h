#pragma once
// The parts of a saved workbook that a later save keeps: its sheet names,
// and the compressed sheet parts, copied into a new file as they are.
#include <string>
#include <utility>
#include <vector>

struct TWorkbookParts {
  std::vector<std::string> SheetNames;  // in workbook order
};

// Throws EWorkbookError when path is no workbook that this program can update.
TWorkbookParts ReadWorkbookParts(const std::string& path);

// Replaces, in the new workbook fresh, the sheet parts at the first position
// of each pair with the previous workbook's parts at the second (1-based
// positions), without recompressing them. The two files' styles must be
// equal, or the copied cells would point at other formats. Returns an error
// text, empty on success.
std::string CarrySheets(const std::string& fresh, const std::string& previous,
                        const std::vector<std::pair<int, int>>& carried);
