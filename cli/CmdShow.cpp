#include <cstdio>
#include <exception>
#include <string>

#include "app/GroupFiles.h"
#include "app/LogTable.h"
#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "cli/DataDir.h"
#include "cli/ErrorText.h"
#include "cli/FolderLock.h"
#include "cli/TimeRangeArgs.h"
#include "meter/DataFolder.h"
#include "meter/ZelDef.h"

const char* const kShowUsage =
    "usage: krvo show FOLDER --group N [--sort oldest|newest] [--from T] [--to T]\n"
    "                 [--data-dir DIR]\n"
    "  Prints the log table of group N (1-10) of a device's DataLog folder:\n"
    "  a header line of column captions, then one line per record, TAB-separated;\n"
    "  with --from/--to (T: YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS]) only the records\n"
    "  in [--from, --to), numbered from 1.\n";

namespace {

void PrintRow(const std::vector<std::string>& cells) {
  std::string line;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i != 0) line += '\t';
    line += cells[i];
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stdout);
}

}  // namespace

int CmdShow(int argc, char** argv) {
  CliArgs args(argc, argv, 2, {"--group", "--sort", "--from", "--to", "--data-dir"}, {});
  if (args.Help()) {
    std::fputs(kShowUsage, stdout);
    return 0;
  }
  if (args.Positional().size() != 1) throw UsageError{"one FOLDER is needed"};
  const int group = static_cast<int>(args.Number("--group", 1, 10, 0));
  if (group == 0) throw UsageError{"missing --group"};
  const auto sort = args.Value("--sort");
  if (sort && *sort != "oldest" && *sort != "newest")
    throw UsageError{"--sort must be oldest or newest"};
  const TTimeRange range = RangeOptions(args);
  ApplyDataDir(args);

  const std::string folder = WithSeparator(args.Positional()[0]);
  const int g = group - 1;
  // Shared: a sync's changes wait until the table is read, other readers
  // don't. Only a device's folder gets a lock file beside it: one without a
  // setup is no device's, and the load reports it.
  CDeviceLock lock;
  if (FileExists(folder + kSetupFileName) &&
      !LockDeviceFolder(lock, folder, ProcessOwner("show"), TLockMode::Shared))
    return 1;
  try {
    if (!CZELMeterObj::LoadDataLogSetup(folder)) return 1;
    std::vector<std::string> files;
    FindFiles(folder + "Group" + std::to_string(group) + "/", ".dat", files);
    LogRecords.Clear();
    for (const std::string& f : files) CZELMeterObj::ReadDataLogFile(g, f);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", ErrorText(e).c_str());
    return 1;
  }
  if (sort) SortRecordsByTime(LogRecords, *sort == "newest");

  const std::vector<TLogColumn> columns = LogColumns(g);
  std::vector<std::string> cells;
  for (const TLogColumn& c : columns) cells.push_back(c.Caption);
  PrintRow(cells);
  const int keys = static_cast<int>(columns.size()) - 2;
  size_t shown = 0;
  for (size_t row = 0; row < LogRecords.Count(); ++row) {
    if (range.Bounded() && !range.Holds(LogRecords[row].Stamp())) continue;
    for (size_t c = 0; c < columns.size(); ++c)
      cells[c] = LogCellText(LogRecords[row], shown, static_cast<int>(c), keys);
    ++shown;
    PrintRow(cells);
  }
  std::fflush(stdout);
  return 0;
}
