// The .xlsx writer through its own interface: a build's sheets reach the
// file at its target only by the commit, each position is written once, and
// a stop drops what it was writing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/Xlsx.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"
#include "tests/support/Workbook.h"

namespace {

void WriteSheet(CXlsxBuild& book, size_t position, const std::string& name, double value) {
  CXlsxSheet& s = book.BeginSheet(position, name, 2, 2, {{12, TCellStyle::Left}});
  s.BeginRow();
  s.Text(0, "a & <b>", TCellStyle::Plain);
  s.Text(1, "when", TCellStyle::Left);
  s.EndRow();
  s.BeginRow();
  s.Number(0, value, TCellStyle::Centre);
  s.Number(1, 46000.5, TCellStyle::DateTime);
  s.EndRow();
}

size_t FilesIn(const std::string& folder) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

}  // namespace

TEST(Xlsx, SheetsReachTheTargetOnlyByTheCommit) {
  TempDir dir;
  const std::string target = dir.Path() + "/book.xlsx";
  {
    CXlsxBuild book(target, "yyyy-MM-dd HH:mm:ss", 3);
    WriteSheet(book, 2, "Third", 1.5);
    ASSERT_TRUE(book.Save());
    WriteSheet(book, 0, "First", 2.5);
    ASSERT_TRUE(book.Save());
    EXPECT_EQ(book.Positions(), 3u);
    EXPECT_THROW(book.BeginSheet(2, "Again", 1, 1, {}), EWorkbookError);
    EXPECT_FALSE(std::filesystem::exists(target));
    ASSERT_TRUE(book.Commit());
  }
  EXPECT_EQ(FilesIn(dir.Path()), 1u);  // no part or temporary left beside it
  const WorkbookDump d = DumpWorkbook(target);
  ASSERT_EQ(d.ExitCode, 0) << d.Error;
  EXPECT_EQ(d.Sheets, (std::vector<std::string>{"First", "Sheet2", "Third"}));
  EXPECT_EQ(d.Active, "First");
  EXPECT_EQ(d.Cell("Third!A1").Value, "'a & <b>'");
  EXPECT_EQ(d.Cell("Third!A2").Value, "1.5");
  EXPECT_EQ(d.Cell("Third!A2").Align, "center");
  EXPECT_EQ(d.Cell("First!A2").Value, "2.5");
  EXPECT_EQ(d.Cell("First!B2").Type, "d");
  EXPECT_EQ(d.Cell("First!B2").Format, "yyyy-mm-dd hh:mm:ss");
  EXPECT_EQ(d.Cell("First!B1").Align, "left");
}

TEST(Xlsx, ADroppedSheetAndAnUncommittedBuildLeaveTheTargetAsItWas) {
  TempDir dir;
  const std::string target = dir.Path() + "/book.xlsx";
  EXPECT_FALSE(CXlsxBuild(target, "yyyy-MM-dd", 1).Commit());  // nothing saved
  {
    CXlsxBuild book(target, "yyyy-MM-dd HH:mm:ss", 1);
    WriteSheet(book, 0, "First", 1);
    ASSERT_TRUE(book.Save());
    ASSERT_TRUE(book.Commit());
  }
  const std::string before = ReadAll(target);
  {
    CXlsxBuild book(target, "yyyy-MM-dd HH:mm:ss", 1);
    WriteSheet(book, 0, "First", 2);
    book.Drop();                      // what a stop in the middle of a sheet does
    WriteSheet(book, 0, "First", 3);  // the position is free again
    ASSERT_TRUE(book.Save());
  }
  EXPECT_EQ(ReadAll(target), before);
  EXPECT_EQ(FilesIn(dir.Path()), 1u);
}
