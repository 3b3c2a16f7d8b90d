#pragma once
// A workbook as a spreadsheet user sees it, read back by openpyxl
// (tests/support/dump_workbook.py).
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Process.h"

struct WorkbookCell {
  std::string Type;  // n number, s text, d date-time
  std::string Value;
  std::string Format;
  std::string Align;
};

struct WorkbookDump {
  int ExitCode = -1;
  std::string Error;
  std::vector<std::string> Sheets;
  std::string Active;
  std::map<std::string, std::pair<int, int>> Size;  // sheet: rows, columns
  std::map<std::string, double> Width;              // "Sheet!A"
  std::map<std::string, WorkbookCell> Cells;        // "Sheet!A1"

  const WorkbookCell& Cell(const std::string& at) const {
    static const WorkbookCell kEmpty;
    auto it = Cells.find(at);
    return it == Cells.end() ? kEmpty : it->second;
  }
};

inline WorkbookDump DumpWorkbook(const std::string& path, int rows = 30, bool readOnly = false) {
  std::vector<std::string> argv = {"/usr/bin/python3",
                                   TestSourceDir() + "/support/dump_workbook.py", path,
                                   std::to_string(rows)};
  if (readOnly) argv.push_back("--read-only");
  const ProcessResult r = RunProcess(argv);
  WorkbookDump d;
  d.ExitCode = r.ExitCode;
  d.Error = r.Err;
  std::istringstream in(r.Out);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    std::string x;
    while (std::getline(fields, x, '\t')) f.push_back(x);
    if (f.size() == 2 && f[0] == "sheets") {
      std::istringstream names(f[1]);
      while (std::getline(names, x, '|')) d.Sheets.push_back(x);
    } else if (f.size() == 2 && f[0] == "active") {
      d.Active = f[1];
    } else if (f.size() == 4 && f[0] == "size") {
      d.Size[f[1]] = {std::stoi(f[2]), std::stoi(f[3])};
    } else if (f.size() == 3 && f[0] == "width") {
      d.Width[f[1]] = std::stod(f[2]);
    } else if (f.size() >= 5 && f[0] == "cell") {
      d.Cells[f[1]] = {f[2], f[3], f[4], f.size() > 5 ? f[5] : ""};
    }
  }
  return d;
}
