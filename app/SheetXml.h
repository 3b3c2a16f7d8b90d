#pragma once
// A worksheet part (its SpreadsheetML XML) written straight from typed cells:
// numbers in their shortest exact form, text as inline strings. The sheet's
// size is known before its first row, so the file is written in one pass.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

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

 private:
  void Cell(int column, int style);
  void Flush();

  std::FILE* file_ = nullptr;
  std::string buf_;
  long row_ = 0;
  bool ok_ = true;
};

// The column letters of a 0-based column ("A", ..., "Z", "AA", ...).
std::string ColumnName(int column);
