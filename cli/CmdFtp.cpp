#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "cli/DataDir.h"
#include "cli/FtpSession.h"
#include "retrieval/FtpErrors.h"

const char* const kLsUsage =
    "usage: krvo ls --host HOST [--ftp-port N] [--timeout SECONDS] [--low-speed BYTES] "
    "[--verbose]\n"
    "               REMOTE_FOLDER\n"
    "  Lists a folder of the meter's FTP server: kind (d, - or l), size and name,\n"
    "  TAB-separated, one entry per line. Control characters and backslashes in\n"
    "  names are printed escaped (\\t, \\x1b, \\\\).\n"
    "  --timeout bounds every connect and wait (60 s by default); a transfer slower\n"
    "  than --low-speed bytes/s (1024; 0: no limit) over that time fails.\n";

const char* const kGetUsage =
    "usage: krvo get --host HOST [--ftp-port N] [--timeout SECONDS] [--low-speed BYTES] "
    "[--verbose]\n"
    "                REMOTE_FILE LOCAL_PATH\n"
    "  Fetches one file (a full remote path) from the meter's FTP server in binary mode.\n"
    "  LOCAL_PATH is replaced only when the whole file arrived.\n"
    "  --timeout bounds every connect and wait (60 s by default); a transfer slower\n"
    "  than --low-speed bytes/s (1024; 0: no limit) over that time fails.\n";

namespace {

mode_t CurrentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

const std::set<std::string> kFtpOptions = {"--host", "--ftp-port", "--timeout", "--low-speed",
                                           "--data-dir"};

// A name as the terminal may show it: no control character reaches it raw
// (C0, DEL, and C1 in its UTF-8 form), and a backslash is doubled so the
// escapes stay unambiguous.
std::string EscapedName(const std::string& name) {
  std::string out;
  char hex[16];
  for (size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    const bool c1 = c == 0xC2 && i + 1 < name.size() &&
                    static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(name[i + 1]) <= 0x9F;
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else if (c1) {
      std::snprintf(hex, sizeof hex, "\\x%02x\\x%02x", c, static_cast<unsigned char>(name[++i]));
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

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
                  EscapedName(e.Name).c_str());
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
  // Fetch beside the target and rename on success: a failed fetch leaves an
  // existing file as it was.
  const std::string local = args.Positional()[1];
  TFtpClient client;
  ConfigureFtpClient(client, args);  // its usage errors come before any file is made
  std::string temp = local + ".krvo-XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    std::fprintf(stderr, "Cannot create file \"%s\". %s\n", temp.c_str(), std::strerror(errno));
    return 1;
  }
  struct stat st {};
  const mode_t mode = stat(local.c_str(), &st) == 0 && S_ISREG(st.st_mode)
                          ? (st.st_mode & 07777)
                          : (0666 & ~CurrentUmask());
  fchmod(fd, mode);
  close(fd);
  const int rc = RunFtp(client, [&] {
    if (!folder.empty()) client.ChangeFolder(folder);
    client.SetTransferType(TFtpTransferType::ftBinary);
    client.FetchFile(name, temp);
    if (std::rename(temp.c_str(), local.c_str()) != 0)
      throw std::runtime_error("Cannot write file \"" + local + "\". " + std::strerror(errno));
  });
  if (rc != 0) unlink(temp.c_str());
  return rc;
}
