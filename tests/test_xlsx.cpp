// The .xlsx writer through its own interface: a build's sheets reach the
// file at its target only by the commit, each position is written once, and
// a stop drops what it was writing; its zip package holds what no 32-bit
// field can.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <string>

#include "app/Xlsx.h"
#include "app/XlsxPackage.h"
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
    book.Save();
    WriteSheet(book, 0, "First", 2.5);
    book.Save();
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
    book.Save();
    ASSERT_TRUE(book.Commit());
  }
  const std::string before = ReadAll(target);
  {
    CXlsxBuild book(target, "yyyy-MM-dd HH:mm:ss", 1);
    WriteSheet(book, 0, "First", 2);
    book.Drop();                      // what a stop in the middle of a sheet does
    WriteSheet(book, 0, "First", 3);  // the position is free again
    book.Save();
  }
  EXPECT_EQ(ReadAll(target), before);
  EXPECT_EQ(FilesIn(dir.Path()), 1u);
}

TEST(Xlsx, PackageSizesAndCountsBeyondThirtyTwoBitsGoToZip64) {
  TempDir dir;
  const std::string path = dir.Path() + "/big.zip";
  {
    CZipWriter zip(path);
    // A few deflated bytes that stand for 5 GiB of text: the headers must
    // carry the size, no reader here inflates it.
    CParallelDeflate deflate(zip.BeginDeflated("big.xml"), 1, 1);
    deflate.Add("<sheetData/>");
    TDeflated stream;
    ASSERT_TRUE(deflate.Finish(stream));
    stream.Size = 5ull << 30;
    ASSERT_TRUE(zip.EndDeflated(stream));
    // More entries than the 16-bit count holds; one dropped again.
    for (int i = 0; i < 70000; ++i) {
      std::string name = "e";
      name += std::to_string(i);  // (not "e" + ...: GCC 12 warns falsely at -O3)
      ASSERT_TRUE(zip.Add(name, 0, 0, 0, ""));
    }
    CParallelDeflate dropped(zip.BeginDeflated("dropped.xml"), 1, 1);
    dropped.Add(std::string(100000, 'x'));
    ASSERT_TRUE(dropped.Finish(stream));
    ASSERT_TRUE(zip.Truncate(70001));
    const std::string hello = "hello";
    ASSERT_TRUE(zip.Add("last.txt", 0,
                        static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(hello.data()),
                                                    static_cast<uInt>(hello.size()))),
                        hello.size(), hello));
    ASSERT_TRUE(zip.Finish());
  }
  const ProcessResult r = RunProcess({"/usr/bin/python3", "-c",
                                      "import sys, zipfile\n"
                                      "z = zipfile.ZipFile(sys.argv[1])\n"
                                      "i = z.infolist()\n"
                                      "print(len(i), i[0].file_size, 'dropped.xml' in "
                                      "z.namelist(), z.read('last.txt').decode())\n",
                                      path});
  EXPECT_EQ(r.Out, "70002 5368709120 False hello\n") << r.Err;
}
