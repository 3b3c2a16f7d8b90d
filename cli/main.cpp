// krvo: the headless companion of KRVO Log Viewer.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "cli/DataDir.h"
#include "cli/NearestName.h"
#include "meter/DataFolder.h"

namespace {

const char* const kUsage =
    "usage: krvo SUBCOMMAND [options] [arguments]\n"
    "\n"
    "subcommands:\n"
    "  info      read the meter's clock and identity\n"
    "  setup     read the meter's names and data log setup into DataLogSetup.ini\n"
    "  show      print the log table of one group of a device's DataLog folder\n"
    "  keyname   print the column names of parameter key ids\n"
    "  ls        list a folder of the meter's FTP server\n"
    "  get       fetch one file from the meter's FTP server\n"
    "  download  fetch every data log group of the meter and build the workbook\n"
    "  sync      fetch only the meter's new and grown files, keep the rest\n"
    "  fleet     sync many meters, a few at a time, with a table of the results\n"
    "  export    rebuild a device folder's workbook (and CSV files) offline\n"
    "  report    energy consumption, demand, resets, gaps and overloads per period\n"
    "  db        create or count the tables of the logs' database (--db URL)\n"
    "\n"
    "options:\n"
    "  -h, --help     print this help and exit\n"
    "  -V, --version  print the version and exit\n"
    "Run 'krvo SUBCOMMAND --help' for the options of one subcommand.\n";

struct Command {
  const char* name;
  int (*run)(int, char**);
  const char* const* usage;
};

const Command kCommands[] = {
    {"info", CmdInfo, &kInfoUsage},
    {"setup", CmdSetup, &kSetupUsage},
    {"show", CmdShow, &kShowUsage},
    {"keyname", CmdKeyName, &kKeyNameUsage},
    {"ls", CmdLs, &kLsUsage},
    {"get", CmdGet, &kGetUsage},
    {"export", CmdExport, &kExportUsage},
    {"download", CmdDownload, &kDownloadUsage},
    {"sync", CmdSync, &kSyncUsage},
    {"fleet", CmdFleet, &kFleetUsage},
    {"report", CmdReport, &kReportUsage},
    {"db", CmdDb, &kDbUsage},
};

}  // namespace

void ApplyDataDir(const CliArgs& args) {
  if (auto dir = args.Value("--data-dir")) {
    if (dir->empty()) throw UsageError{"--data-dir needs a folder"};
    setenv("KRVO_DATA_DIR", dir->c_str(), 1);
  }
}

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string sub = argv[1];
  if (sub == "--help" || sub == "-h" || sub == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (sub == "--version" || sub == "-V") {
    std::printf("krvo %s\n", KRVO_VERSION);
    return 0;
  }
  for (const Command& c : kCommands) {
    if (sub != c.name) continue;
    try {
      return c.run(argc, argv);
    } catch (const UsageError& e) {
      std::fprintf(stderr, "krvo %s: %s\n%s", c.name, e.Message.c_str(), *c.usage);
      return 2;
    } catch (const ENoDataFolder& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
  }
  std::vector<std::string> names;
  for (const Command& c : kCommands) names.push_back(c.name);
  const std::string guess = NearestName(sub, names);
  if (!guess.empty()) {
    // A near miss needs the one name, not the whole list.
    std::fprintf(
        stderr,
        "krvo: unknown subcommand '%s'; did you mean '%s'?\nRun 'krvo --help' for the list.\n",
        sub.c_str(), guess.c_str());
    return 2;
  }
  std::fprintf(stderr, "krvo: unknown subcommand '%s'\n%s", sub.c_str(), kUsage);
  return 2;
}
