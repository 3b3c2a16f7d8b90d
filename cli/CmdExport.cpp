#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "app/CsvExport.h"
#include "app/DeviceLock.h"
#include "app/LogTable.h"
#include "app/OfflineLoad.h"
#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "cli/DataDir.h"
#include "cli/DatabaseOption.h"
#include "cli/ErrorText.h"
#include "cli/FolderLock.h"
#include "cli/FtpSession.h"
#include "cli/TimeRangeArgs.h"
#include "meter/DataFolder.h"
#include "meter/FileReplace.h"
#include "meter/ZelDef.h"

const char* const kExportUsage =
    "usage: krvo export FOLDER [-o OUT.xlsx] [--csv DIR] [--csv-dialect rfc4180|excel-eu]\n"
    "                   [--from T] [--to T] [--db URL] [--data-dir DIR]\n"
    "  Loads a device's DataLog folder as the window's offline load does and\n"
    "  rebuilds its working workbook FOLDER/template.xlsx: the names sheet and\n"
    "  one sheet per group. Prints 'Group NN<TAB>RECORDS' for the ten groups,\n"
    "  then the workbook's path. -o copies the workbook to OUT (replacing it);\n"
    "  --csv writes DIR/GroupNN.csv for each group with records; with --from/--to\n"
    "  (T: YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS]) only the records in [--from, --to)\n"
    "  (the workbook keeps every record). excel-eu: ';' between fields, ',' decimals.\n";

namespace {

class CTerminalLoadView : public COfflineLoadView {
 public:
  CTerminalLoadView(std::string csvDir, const TCsvDialect& dialect, const TTimeRange& range)
      : csvDir_(std::move(csvDir)), dialect_(dialect), range_(range) {}
  void ShowStatus(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  void ShowError(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  bool Pump() override { return Interrupted(); }
  bool SelectGroup(int group, std::string& caption) override {
    char text[32];
    std::snprintf(text, sizeof text, "Group %.2d", group + 1);
    caption = text;
    return true;
  }
  void ShowGroup(int group, size_t records) override {
    Records[group] = records;
    if (csvDir_.empty() || records == 0) return;
    char name[32];
    std::snprintf(name, sizeof name, "Group%.2d.csv", group + 1);
    const std::string path = csvDir_ + name;
    if (!WriteGroupCsv(path, group, dialect_, range_)) {
      std::fprintf(stderr, "Unable to write %s\n", path.c_str());
      Failed = true;
    }
  }
  void SetTimeRange() override {
    TDateTime start = 0, end = 0;
    RecordsTimeSpan(LogRecords, start, end);
  }

  size_t Records[kGroupCount] = {};
  bool Failed = false;

 private:
  std::string csvDir_;
  TCsvDialect dialect_;
  TTimeRange range_;
};

}  // namespace

int CmdExport(int argc, char** argv) {
  CliArgs args(argc, argv, 2,
               {"-o", "--csv", "--csv-dialect", "--from", "--to", "--db", "--data-dir"}, {});
  if (args.Help()) {
    std::fputs(kExportUsage, stdout);
    std::fputs(kDatabaseOptionUsage, stdout);
    return 0;
  }
  const auto db = DatabaseOption(args);
  if (args.Positional().size() != 1) throw UsageError{"one FOLDER is needed"};
  const auto out = args.Value("-o");
  if (out && out->empty()) throw UsageError{"-o needs a file name"};
  const auto csv = args.Value("--csv");
  if (csv && csv->empty()) throw UsageError{"--csv needs a folder"};
  TCsvDialect dialect;
  if (const auto d = args.Value("--csv-dialect"); d && !ParseCsvDialect(*d, dialect))
    throw UsageError{"--csv-dialect must be rfc4180 or excel-eu"};
  const TTimeRange range = RangeOptions(args);
  ApplyDataDir(args);
  CatchInterrupt();

  std::string csvDir;
  if (csv) {
    csvDir = AbsoluteFolder(*csv);
    if (!ForceFolders(csvDir)) {
      std::fprintf(stderr, "Unable to create the folder %s\n", csvDir.c_str());
      return 1;
    }
  }
  CTerminalLoadView view(csvDir, dialect, range);
  std::string folder;
  CDeviceLock lock;
  try {
    const std::string chosen = AbsoluteFolder(args.Positional()[0]);
    // The lock comes before anything of the folder is read: a sync holding
    // it changes the setup and the files together, and files read with the
    // setup of before give wrong numbers.
    if (!LockChosenFolder(lock, chosen, "export", TLockMode::Exclusive)) return 1;
    if (!OpenOfflineFolder(chosen, folder, view)) return 1;
    if (!LoadAllGroups(folder, view)) {
      std::fprintf(stderr, "Interrupted.\n");
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", ErrorText(e).c_str());
    return 1;
  }
  for (int g = 0; g < kGroupCount; ++g) std::printf("Group %.2d\t%zu\n", g + 1, view.Records[g]);
  const std::string workbook = WorkbookPathOf(folder);
  std::printf("%s\n", workbook.c_str());
  std::fflush(stdout);
  bool failed = view.Failed;
  if (out && !CopyFileReplacing(workbook, *out, false)) {
    std::fprintf(stderr, "Exporting Logs Failed.\n");
    failed = true;
  }
  // Still under the folder's lock: the files fed are the ones just read.
  if (db && FeedDatabase(*db, folder, PanelNames.DeviceName, std::nullopt, 0) != 0) failed = true;
  return failed ? 1 : 0;
}
