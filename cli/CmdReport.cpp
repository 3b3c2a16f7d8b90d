#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

#include "app/DeviceLock.h"
#include "app/OfflineLoad.h"
#include "app/report/Report.h"
#include "app/report/ReportCsv.h"
#include "app/report/ReportFolder.h"
#include "app/report/ReportLines.h"
#include "app/report/ReportSheets.h"
#include "app/report/ReportTenants.h"
#include "app/report/ReportXlsx.h"
#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "cli/DataDir.h"
#include "cli/FolderLock.h"
#include "cli/FtpSession.h"
#include "cli/TimeRangeArgs.h"
#include "meter/DataFolder.h"
#include "meter/ZelDef.h"

const char* const kReportUsage =
    "usage: krvo report FOLDER [--period day|week|month|total] [--from T] [--to T]\n"
    "                   [--loading-limit PCT] [--tenants FILE] [--price P]\n"
    "                   [-o REPORT.xlsx] [--csv DIR] [--json] [--data-dir DIR]\n"
    "  Energy consumption and demand per circuit of a device's DataLog folder, per\n"
    "  day (the default), Monday week, month or over the whole range [--from, --to)\n"
    "  (T: YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS]). Prints one TAB-separated line per\n"
    "  item, its kind first: energy, demand, tenant, reset, gap, overload (with\n"
    "  --json, one JSON object per line). Sub-meter loadings above PCT (80) are\n"
    "  overloads. --tenants sums energy registers per tenant (NAME = ID, ID, ...),\n"
    "  --price gives each kWh a cost. -o writes a workbook, --csv its sheets as CSV.\n";

namespace {

class CReportLoadView : public COfflineLoadView {
 public:
  void ShowStatus(const std::string&) override {}
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  void ShowError(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  bool Pump() override { return Interrupted(); }
  bool SelectGroup(int, std::string&) override { return true; }
  void ShowGroup(int, size_t) override {}
  void SetTimeRange() override {}
};

std::optional<double> NumberOption(const CliArgs& args, const std::string& name) {
  const auto v = args.Value(name);
  if (!v) return std::nullopt;
  double d = 0;
  const auto r = std::from_chars(v->data(), v->data() + v->size(), d);
  if (v->empty() || r.ec != std::errc() || r.ptr != v->data() + v->size() || !std::isfinite(d) ||
      d < 0)
    throw UsageError{name + " needs a number of at least 0"};
  return d;
}

}  // namespace

int CmdReport(int argc, char** argv) {
  CliArgs args(argc, argv, 2,
               {"--period", "--from", "--to", "--loading-limit", "--tenants", "--price", "-o",
                "--csv", "--csv-dialect", "--data-dir"},
               {"--json"});
  if (args.Help()) {
    std::fputs(kReportUsage, stdout);
    return 0;
  }
  if (args.Positional().size() != 1) throw UsageError{"one FOLDER is needed"};
  TReportOptions options;
  if (const auto p = args.Value("--period"); p && !ParseReportPeriod(*p, options.Period))
    throw UsageError{"--period must be day, week, month or total"};
  const TTimeRange range = RangeOptions(args);
  options.From = range.From;
  options.To = range.To;
  if (const auto limit = NumberOption(args, "--loading-limit")) options.LoadingLimit = *limit;
  const std::optional<double> price = NumberOption(args, "--price");
  const auto tenantsFile = args.Value("--tenants");
  if (tenantsFile && tenantsFile->empty()) throw UsageError{"--tenants needs a file"};
  if (price && !tenantsFile) throw UsageError{"--price needs --tenants"};
  const auto out = args.Value("-o");
  if (out && out->empty()) throw UsageError{"-o needs a file name"};
  const auto csv = args.Value("--csv");
  if (csv && csv->empty()) throw UsageError{"--csv needs a folder"};
  TCsvDialect dialect;
  if (const auto d = args.Value("--csv-dialect"); d && !ParseCsvDialect(*d, dialect))
    throw UsageError{"--csv-dialect must be rfc4180 or excel-eu"};
  ApplyDataDir(args);
  CatchInterrupt();

  CReportLoadView view;
  CReportBuilder builder(options);
  std::vector<TTenant> tenants;
  CDeviceLock lock;
  try {
    const std::string chosen = AbsoluteFolder(args.Positional()[0]);
    // Shared, as show: a sync changes the setup and the files together.
    if (!LockChosenFolder(lock, chosen, "report", TLockMode::Shared)) return 1;
    std::string folder;
    if (!OpenOfflineFolder(chosen, folder, view)) return 1;
    if (tenantsFile) tenants = ReadTenantsFile(*tenantsFile, GroupSetups);
    if (!AddFolderGroups(folder, builder, [] { return Interrupted(); })) {
      std::fprintf(stderr, "Interrupted.\n");
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  const TReport& report = builder.Finish();
  for (int g = 0; g < kGroupCount; ++g)
    if (report.InvalidTimes[static_cast<size_t>(g)] != 0)
      std::fprintf(stderr, "Group %.2d: %zu records without a valid time left out\n", g + 1,
                   report.InvalidTimes[static_cast<size_t>(g)]);
  const std::vector<TTenantPeriod> tenantPeriods = TenantConsumption(tenants, report);
  const bool written =
      WriteReportLines(stdout, report, tenants, tenantPeriods, price, args.Has("--json"));
  if (std::fflush(stdout) != 0 || !written) {
    std::fprintf(stderr, "Unable to write the report\n");
    return 1;
  }
  if (!out && !csv) return 0;
  const std::vector<TReportSheet> sheets =
      BuildReportSheets(report, tenants, tenantPeriods, price, tenantsFile.has_value());
  std::string error;
  if (out && !WriteReportWorkbook(*out, sheets, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  if (csv) {
    const std::string dir = AbsoluteFolder(*csv);
    if (!ForceFolders(dir)) {
      std::fprintf(stderr, "Unable to create the folder %s\n", dir.c_str());
      return 1;
    }
    if (!WriteReportCsv(dir, sheets, dialect, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  }
  return 0;
}
