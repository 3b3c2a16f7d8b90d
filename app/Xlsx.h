#pragma once
// The .xlsx format behind one small interface: a workbook built sheet by
// sheet beside the file it is to replace, each sheet handed over as typed
// cells in row order. Worksheet XML, styles, part names and the zip package
// are known here (Xlsx*.cpp) and nowhere else.
//
// A build writes its package once: each sheet's part goes into it,
// compressed, as its rows come, and the commit adds the small parts and the
// directory and renames it over the target. No sheet is read or copied
// again, whatever the number of sheets.
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class EWorkbookError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Rows of one worksheet.
constexpr long kSheetRows = 1048576;

enum class TCellStyle { Plain, Centre, Left, DateTime };

struct TXlsxColumn {
  double Width = 0;  // characters; 0: the default
  TCellStyle Style = TCellStyle::Plain;
};

// The cells of one worksheet, row after row. A number cell in DateTime
// style holds days since 1899-12-30.
class CXlsxSheet {
 public:
  virtual ~CXlsxSheet() = default;
  virtual void BeginRow() = 0;
  virtual void Number(int column, double value, TCellStyle style) = 0;
  virtual void Text(int column, std::string_view text, TCellStyle style) = 0;
  virtual void EndRow() = 0;
};

class CXlsxBuild {
 public:
  // A workbook that is to replace target, with at least minSheets sheets;
  // dateTimePattern ("yyyy-MM-dd HH:mm:ss" and the like) is the format of
  // DateTime cells. Creates nothing yet.
  CXlsxBuild(std::string target, const std::string& dateTimePattern, size_t minSheets);
  ~CXlsxBuild();  // discards what was not committed
  CXlsxBuild(const CXlsxBuild&) = delete;
  CXlsxBuild& operator=(const CXlsxBuild&) = delete;

  // Starts the sheet at a 0-based position not written yet (the first
  // position is the active sheet), of rows x columns cells: the size is
  // known before the first row. Ends the sheet begun before. Throws
  // EWorkbookError.
  CXlsxSheet& BeginSheet(size_t position, const std::string& name, long rows, int columns,
                         const std::vector<TXlsxColumn>& layout);
  // Makes the sheets begun since the last save part of the build; throws
  // EWorkbookError when they can't be written (they are dropped then).
  void Save();
  // Drops the sheets begun since the last save.
  void Drop();
  // Positions in use, at least minSheets: each holds a sheet begun or saved,
  // or gets an empty one named as a spreadsheet names a new sheet.
  size_t Positions() const;

  // Puts the workbook at target in one step (flushed, then renamed); false
  // when nothing was saved or it can't be put there: the file at target then
  // stays as it was.
  bool Commit();
  void Discard();
  const std::string& Target() const { return target_; }

  struct Impl;

 private:
  std::string target_;
  std::unique_ptr<Impl> impl_;
};
