#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <fstream>
#include <string>

#include "app/DeviceLock.h"
#include "app/LogDownload.h"
#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "cli/DataDir.h"
#include "cli/DatabaseOption.h"
#include "cli/ErrorText.h"
#include "cli/FtpSession.h"
#include "cli/MeterSession.h"
#include "cli/TerminalDownloadView.h"
#include "meter/DataFolder.h"

const char* const kDownloadUsage =
    "usage: krvo download --host HOST [--port N] [--ftp-port N] [--data-dir DIR]\n"
    "                     [--pace-ms MS] [--timeout S] [--low-speed BYTES] [--other-meter]\n"
    "                     [--db URL]\n"
    "  Reads the meter's identity, names and setup as the window's Connect does,\n"
    "  then downloads every data log group into DEVICE/DataLog/ as \"Download All\n"
    "  Group\" does (the earlier copy is replaced) and rebuilds the workbook.\n"
    "  Prints 'Group NN<TAB>FILES<TAB>RECORDS' per group, the final line, and the\n"
    "  workbook's path. --pace-ms: the pause after each file (1000).\n"
    "  Each file arrives under a temporary name; the earlier copy stays until\n"
    "  its replacement is whole. --other-meter: go on when the device folder\n"
    "  holds the logs of a meter with another serial number. --timeout bounds\n"
    "  every wait (60 s); a transfer slower than --low-speed bytes/s (1024; 0: no\n"
    "  limit) over that time fails.\n";

const char* const kSyncUsage =
    "usage: krvo sync --host HOST [--port N] [--ftp-port N] [--data-dir DIR]\n"
    "                 [--pace-ms MS] [--timeout S] [--low-speed BYTES] [--no-workbook]\n"
    "                 [--other-meter] [--db URL]\n"
    "  As download, but keeps the files fetched earlier: only files missing\n"
    "  locally or of another size are fetched (under a temporary name until\n"
    "  complete), every other local file stays, and each group is read from all\n"
    "  its local files. A group whose logged keys changed has its older files\n"
    "  moved aside to GroupN.YYYYMMDD-HHMM. Prints\n"
    "  'Group NN<TAB>FETCHED<TAB>RECORDS<TAB>KEPT' per group, then the\n"
    "  workbook's path (none with --no-workbook).\n";

namespace {

// Claims the device name for this meter within one fleet run: the first to
// create the claim owns the name. Empty on success, else the error.
std::string ClaimDeviceName(const std::string& claimDir, const std::string& device,
                            const std::string& owner) {
  const std::string path =
      WithSeparator(claimDir) + SafePathComponent(device.empty() ? "(empty)" : device);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd >= 0) {
    const std::string line = owner + "\n";
    const bool ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::close(fd);
    return ok ? "" : "Cannot write the claim " + path;
  }
  std::ifstream in(path);
  std::string holder;
  std::getline(in, holder);
  if (holder == owner) return "";
  return "The device name \"" + device + "\" of " + owner + " is already taken in this run by " +
         (holder.empty() ? "another meter" : holder) + ".";
}

int Run(int argc, char** argv, bool sync) {
  std::set<std::string> values = {"--host",    "--port",    "--ftp-port",  "--data-dir",
                                  "--pace-ms", "--timeout", "--low-speed", "--db"};
  std::set<std::string> flags = {"--other-meter"};
  if (sync) {
    values.insert({"--claim-dir", "--report"});
    flags.insert("--no-workbook");
  }
  CliArgs args(argc, argv, 2, values, flags);
  if (args.Help()) {
    std::fputs(sync ? kSyncUsage : kDownloadUsage, stdout);
    std::fputs(kDatabaseOptionUsage, stdout);
    return 0;
  }
  const auto db = DatabaseOption(args);
  if (!args.Positional().empty()) throw UsageError{"unexpected argument " + args.Positional()[0]};
  const std::string host = args.Require("--host");
  const int port = args.Port("--port", 502);
  const int pace = static_cast<int>(args.Number("--pace-ms", 0, 600000, 1000));
  const bool workbook = !args.Has("--no-workbook");
  TFtpClient ftp;
  ConfigureFtpClient(ftp, args);
  ApplyDataDir(args);
  const std::string owner = host + ":" + std::to_string(port);

  MeterSession session(host, port);
  if (!session.Open()) return 1;
  // The names are saved only once this run owns the device's folder.
  session.Meter().SetSaveNames(false);
  if (!session.ReadDeviceInfo(false)) return 1;
  const std::string device = PanelNames.DeviceName;
  if (const auto report = args.Value("--report")) {
    std::ofstream(*report) << "device\t" << (session.Meter().NamesRead() ? "1" : "0") << "\t"
                           << device << "\n";
  }
  if (const auto claims = args.Value("--claim-dir"); claims && session.Meter().NamesRead()) {
    const std::string error = ClaimDeviceName(*claims, device, owner);
    if (!error.empty()) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  }
  CDeviceLock lock;
  if (session.Meter().NamesRead()) {
    std::string error;
    const bool locked = lock.Acquire(
        DeviceDataLogFolder(device), owner,
        [&](const std::string& holder) {
          std::fprintf(stderr, "Waiting for the folder of \"%s\": %s is writing it.\n",
                       device.c_str(), holder.c_str());
        },
        error);
    if (!locked) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  }

  CTerminalDownloadView view(isatty(STDERR_FILENO) == 1);
  view.SetFinalLineOnStdout(!sync);
  ftp.OnWorkBegin = [&view](TWorkMode, int32_t maximum) { view.WorkBegin(maximum); };
  ftp.OnWork = [&view](TWorkMode, int32_t count) { view.Work(count); };
  CLogDownload download(ftp, view, pace);
  download.MeterSerial = session.Meter().DeviceInfo().SerialNumber;
  download.ReplaceOtherMeter = args.Has("--other-meter");
  download.DeviceNameRead = session.Meter().NamesRead();
  download.ReadMeterSetup = [&session] { return session.Meter().ReadSnapShotSetup(); };
  TDownloadResult result;
  try {
    result = sync ? download.mniDownloadNewClick(workbook) : download.mniDownload1Click();
  } catch (const std::exception& e) {
    view.EndLine();
    std::fprintf(stderr, "%s\n", ErrorText(e).c_str());
    return 1;
  }
  view.EndLine();
  if (!result.Finished) {
    if (result.OtherMeter) {
      std::fputs("Use --other-meter to replace them.\n", stderr);
    } else if (session.Meter().NamesRead()) {
      std::fprintf(stderr, "%s\n", Interrupted() ? "Interrupted." : "The download did not finish.");
    }
    return 1;
  }
  for (int g = 0; g < kGroupCount; ++g) {
    if (sync) {
      std::printf("Group %.2d\t%zu\t%zu\t%zu\n", g + 1, result.Files[g], result.Records[g],
                  result.Kept[g]);
    } else {
      std::printf("Group %.2d\t%zu\t%zu\n", g + 1, result.Files[g], result.Records[g]);
    }
  }
  if (!sync) std::printf("%s\n", result.FinalText.c_str());
  if (workbook)
    std::printf("%s\n", (DeviceDataLogFolder(PanelNames.DeviceName) + "template.xlsx").c_str());
  if (result.Failed != 0 && sync)
    std::fprintf(stderr, "%zu %s could not be fetched.\n", result.Failed,
                 result.Failed == 1 ? "file" : "files");
  // The reasons were said with the final line.
  bool ok = result.Failed == 0 && result.ListFailed == 0 && !result.SetupFailed;
  // What the folder holds goes in even when some files failed: they come next time.
  if (db && FeedDatabase(*db, DeviceDataLogFolder(device), device, host, port) != 0) ok = false;
  return ok ? 0 : 1;
}

}  // namespace

int CmdDownload(int argc, char** argv) { return Run(argc, argv, false); }
int CmdSync(int argc, char** argv) { return Run(argc, argv, true); }
