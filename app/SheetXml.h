#pragma once
// A worksheet part (its SpreadsheetML XML) written straight from typed cells:
// numbers in their shortest exact form, text as inline strings. The sheet's
// size is known before its first row, so the file is written in one pass.
// The file holds the part raw-deflated, compressed on every core as the rows
// come, ready to go into the workbook as it is.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/ParallelDeflate.h"

struct TSheetColumn {
  double Width = 0;  // characters; 0: the default
  int Style = 0;     // the column's style index; 0: none
};

class CSheetXmlWriter {
 public:
  // Throws std::runtime_error when the file can't be opened.
  CSheetXmlWriter(const std::string& path, long rows, int columns, bool selected,
                  const std::vector<TSheetColumn>& layout);
  ~CSheetXmlWriter();
  CSheetXmlWriter(const CSheetXmlWriter&) = delete;
  CSheetXmlWriter& operator=(const CSheetXmlWriter&) = delete;

  void BeginRow();
  void Number(int column, double value, int style);
  void Text(int column, std::string_view text, int style);
  void EndRow();
  // Writes the end of the part and closes the file; false on a write error.
  bool Finish();
  // After Finish: the part's CRC and sizes, as its zip entry records them.
  const TDeflated& Deflated() const { return deflated_; }

 private:
  void Cell(int column, int style);
  void Flush();

  std::FILE* file_ = nullptr;
  std::unique_ptr<CParallelDeflate> deflate_;
  TDeflated deflated_;
  std::string buf_;
  std::string rowText_;                  // the current row's number
  std::vector<std::string> cellStarts_;  // "<c r=\"" and the column's letters
  long row_ = 0;
  bool ok_ = true;
};

// The column letters of a 0-based column ("A", ..., "Z", "AA", ...).
std::string ColumnName(int column);
