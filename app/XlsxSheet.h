#pragma once
// Inside the .xlsx writer (app/Xlsx.h): a worksheet part (its SpreadsheetML
// XML) written straight from typed cells: numbers in their shortest exact
// form, text as inline strings. The sheet's size is known before its first
// row, so the part is written in one pass as the rows come, ready to go into
// the package as it is. The caller's thread only records the cells; worker
// threads turn runs of rows into XML and raw-deflate them, in order.
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/ParallelDeflate.h"
#include "app/Xlsx.h"

// The style index of each TCellStyle in the workbook's styles part.
using TStyleIndex = std::array<int, 4>;

class CSheetXmlWriter final : public CXlsxSheet {
 public:
  // Writes to out from where it stands; out stays the caller's.
  CSheetXmlWriter(std::FILE* out, long rows, int columns, bool selected,
                  const std::vector<TXlsxColumn>& layout, const TStyleIndex& styles);
  ~CSheetXmlWriter() override;
  CSheetXmlWriter(const CSheetXmlWriter&) = delete;
  CSheetXmlWriter& operator=(const CSheetXmlWriter&) = delete;

  void BeginRow() override;
  void Number(int column, double value, TCellStyle style) override;
  void Text(int column, std::string_view text, TCellStyle style) override;
  void EndRow() override;
  // Writes the end of the part and flushes it; false on a write error.
  bool Finish();
  // After Finish: the part's CRC and sizes, as its zip entry records them.
  const TDeflated& Deflated() const { return deflated_; }

 private:
  struct Cells;
  void Cell(char kind, int column, TCellStyle style);
  void Raw(std::string_view xml);
  void Flush();

  std::shared_ptr<const Cells> cells_;  // what the workers format with
  std::unique_ptr<CParallelDeflate> deflate_;
  TDeflated deflated_;
  std::string tape_;  // the cells recorded since the last flush
  long tapeRow_ = 1;  // the number of the tape's first row
  long row_ = 0;
  bool ok_ = true;
};

// The column letters of a 0-based column ("A", ..., "Z", "AA", ...).
std::string ColumnName(int column);
