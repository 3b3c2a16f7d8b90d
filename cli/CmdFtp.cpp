#include <cstdio>
#include <exception>

#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "cli/DataDir.h"
#include "cli/FtpSession.h"
#include "retrieval/FtpErrors.h"

const char* const kLsUsage =
    "usage: krvo ls --host HOST [--ftp-port N] [--timeout SECONDS] [--verbose] REMOTE_FOLDER\n"
    "  Lists a folder of the meter's FTP server: kind (d, - or l), size and name,\n"
    "  TAB-separated, one entry per line.\n";

const char* const kGetUsage =
    "usage: krvo get --host HOST [--ftp-port N] [--timeout SECONDS] [--verbose] REMOTE_FILE "
    "LOCAL_PATH\n"
    "  Fetches one file (a full remote path) from the meter's FTP server in binary mode.\n";

namespace {

const std::set<std::string> kFtpOptions = {"--host", "--ftp-port", "--timeout", "--data-dir"};

char KindOf(TFtpItemType t) {
  return t == TFtpItemType::ditDirectory ? 'd' : t == TFtpItemType::ditSymbolicLink ? 'l' : '-';
}

// Runs an FTP job; an FTP error's message goes to stderr with exit code 1.
template <typename F>
int RunFtp(TFtpClient& client, F job) {
  try {
    client.OpenSession();
    job();
    client.CloseSession();
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", Interrupted() ? "Interrupted." : e.what());
    if (client.IsConnected()) client.Disconnect();
    return 1;
  }
}

}  // namespace

int CmdLs(int argc, char** argv) {
  CliArgs args(argc, argv, 2, kFtpOptions, {"--verbose"});
  if (args.Help()) {
    std::fputs(kLsUsage, stdout);
    return 0;
  }
  if (args.Positional().size() != 1) throw UsageError{"one REMOTE_FOLDER is needed"};
  ApplyDataDir(args);
  TFtpClient client;
  ConfigureFtpClient(client, args);
  return RunFtp(client, [&] {
    client.ChangeFolder(args.Positional()[0]);
    client.SetTransferType(TFtpTransferType::ftASCII);
    client.ListFolder(nullptr, "", true);
    for (const TFtpListEntry& e : client.Listing())
      std::printf("%c\t%lld\t%s\n", KindOf(e.ItemType), static_cast<long long>(e.Size),
                  e.Name.c_str());
    std::fflush(stdout);
  });
}

int CmdGet(int argc, char** argv) {
  CliArgs args(argc, argv, 2, kFtpOptions, {"--verbose"});
  if (args.Help()) {
    std::fputs(kGetUsage, stdout);
    return 0;
  }
  if (args.Positional().size() != 2) throw UsageError{"REMOTE_FILE and LOCAL_PATH are needed"};
  ApplyDataDir(args);
  const std::string remote = args.Positional()[0];
  const size_t slash = remote.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "" : (slash == 0 ? "/" : remote.substr(0, slash));
  const std::string name = slash == std::string::npos ? remote : remote.substr(slash + 1);
  if (name.empty()) throw UsageError{"REMOTE_FILE must name a file"};
  TFtpClient client;
  ConfigureFtpClient(client, args);
  return RunFtp(client, [&] {
    if (!folder.empty()) client.ChangeFolder(folder);
    client.SetTransferType(TFtpTransferType::ftBinary);
    client.FetchFile(name, args.Positional()[1]);
  });
}
