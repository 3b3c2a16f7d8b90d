// Names and homes met end to end through krvo: names that XML can't hold
// raw, in the workbook and in folder names, and an account with no home.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "tests/support/CliRun.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"
#include "tests/support/Workbook.h"

namespace fs = std::filesystem;

namespace {

// The text cells of a workbook's names sheet as a spreadsheet reads them
// (openpyxl, and the format's _xHHHH_ escapes decoded), cell -> UTF-8 in hex.
std::map<std::string, std::string> NameCells(const std::string& workbook, std::string& error) {
  const char* script =
      "import sys, openpyxl\n"
      "from openpyxl.utils.escape import unescape\n"
      "ws = openpyxl.load_workbook(sys.argv[1])['Panel Name']\n"
      "for row in ws.iter_rows():\n"
      "    for c in row:\n"
      "        if isinstance(c.value, str):\n"
      "            print(c.coordinate, unescape(c.value).encode('utf-8', 'surrogatepass').hex())\n";
  const ProcessResult r = RunProcess({"/usr/bin/python3", "-c", script, workbook});
  error = r.ExitCode == 0 ? "" : r.Err.empty() ? "python failed" : r.Err;
  std::map<std::string, std::string> cells;
  std::istringstream in(r.Out);
  for (std::string cell, hex; in >> cell >> hex;) cells[cell] = hex;
  return cells;
}

// A device folder below data holding only a hand-edited DataLogSetup.ini.
std::string SetupOnlyFolder(const std::string& data, const std::string& device,
                            const std::string& ini) {
  const std::string dataLog = data + "/" + device + "/DataLog";
  fs::create_directories(dataLog);
  WriteAll(dataLog + "/DataLogSetup.ini", ini);
  return dataLog;
}

}  // namespace

// ---- Names that XML can't hold raw ----

TEST(CliGuards, EveryNameOfAnEditedSetupReadsBackFromTheWorkbook) {
  TempDir dir;
  const std::string data = dir.Path() + "/data";
  // What an edited setup may hold: markup characters, U+FFFF, a control
  // character, a text that looks like the format's own escape, a name that
  // is Windows-1252, and plain names after every one of them.
  std::map<int, std::string> branch = {{1, "A \xEF\xBF\xBF B"},    // U+FFFF
                                       {2, "bell\x07here"},        // a C0 control
                                       {3, "after the bad ones"},  //
                                       {4, "_x0041_ stays"},       // not an escape
                                       {5, "x <y> & \"z\" 'w'"},   //
                                       {6, "\xEF\xBF\xBE"},        // U+FFFE alone
                                       {7, "M\xFChle"},  // Windows-1252: Muehle with u-umlaut
                                       {84, "Last & least"}};
  std::string ini =
      "[PanelName]\nDeviceName=ignored: the path names the device\n"
      "MainsIName=Mains <I> & co\nMainsIIName=a\x01start\n";
  for (int n = 1; n <= 84; ++n)
    ini += "BranchName" + std::to_string(n) + "=" +
           (branch.count(n) ? branch[n] : "Branch " + std::to_string(n)) + "\n";
  const std::string dataLog = SetupOnlyFolder(data, "Pump & Fan", ini);
  const ProcessResult r = Krvo({"export", dataLog, "--data-dir", data});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  std::string error;
  std::map<std::string, std::string> cells = NameCells(dataLog + "/template.xlsx", error);
  ASSERT_EQ(error, "");
  EXPECT_EQ(cells["B1"], Hex("Pump & Fan"));
  EXPECT_EQ(cells["B2"], Hex("Mains <I> & co"));
  EXPECT_EQ(cells["B3"], Hex("a\x01start"));
  branch[7] = "M\xC3\xBChle";  // as UTF-8
  // Branch n stands in row 6 + (n - 1) % 21, column C, E, G or I by its block.
  for (int n = 1; n <= 84; ++n) {
    const std::string at = std::string(1, static_cast<char>('C' + 2 * ((n - 1) / 21))) +
                           std::to_string(6 + (n - 1) % 21);
    EXPECT_EQ(cells[at], Hex(branch.count(n) ? branch[n] : "Branch " + std::to_string(n)))
        << "branch " << n;
  }
}

TEST(CliGuards, AFolderNameInWindows1252ReadsAsItsCharacters) {
  TempDir dir;
  const std::string data = dir.Path() + "/data";
  // A folder unpacked from an archive made on Windows: "Cafe" with e-acute as one byte.
  const std::string dataLog =
      SetupOnlyFolder(data, "Caf\xE9", "[PanelName]\nBranchName1=one\nBranchName84=last\n");
  const ProcessResult r = Krvo({"export", dataLog, "--data-dir", data});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  std::string error;
  std::map<std::string, std::string> cells = NameCells(dataLog + "/template.xlsx", error);
  ASSERT_EQ(error, "");
  EXPECT_EQ(cells["B1"], Hex("Caf\xC3\xA9"));
  EXPECT_EQ(cells["C6"], Hex("one"));
  EXPECT_EQ(cells["I26"], Hex("last"));
}

// ---- No home ----

namespace {

// krvo run as another account with no HOME, XDG_DATA_HOME or KRVO_DATA_DIR
// (setpriv changes the account; env clears the variables), plus env.
ProcessResult KrvoAs(uid_t uid, gid_t gid, const std::vector<std::string>& args,
                     std::vector<std::string> env = {}) {
  std::vector<std::string> argv = {"/usr/bin/setpriv",
                                   "--reuid=" + std::to_string(uid),
                                   "--regid=" + std::to_string(gid),
                                   "--clear-groups",
                                   "/usr/bin/env",
                                   "-u",
                                   "HOME",
                                   "-u",
                                   "XDG_DATA_HOME",
                                   "-u",
                                   "KRVO_DATA_DIR",
                                   "LC_ALL=C"};
  argv.insert(argv.end(), env.begin(), env.end());
  argv.push_back(KrvoPath());
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv);
}

}  // namespace

TEST(CliGuards, WithoutHomeTheDataGoesToTheAccountsHomeOrNowhere) {
  if (geteuid() != 0) GTEST_SKIP() << "running krvo as another account needs root";
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) GTEST_SKIP() << "no account 'nobody'";
  const uid_t nobodyUid = nobody->pw_uid;
  const gid_t nobodyGid = nobody->pw_gid;
  const std::string home = nobody->pw_dir;
  uid_t stranger = 54321;
  while (getpwuid(stranger) != nullptr) ++stranger;

  // An account with a home in the password database: the data folder is in
  // that home (here one that doesn't exist, so nothing is made).
  if (!fs::exists(home)) {
    const ProcessResult r = KrvoAs(nobodyUid, nobodyGid, {"fleet", "/dev/null"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "Cannot make a folder in " + home +
                         "/.local/share/KRVOLogViewer/: " + std::strerror(EACCES) + "\n");
  }

  // An account without one: a clear error naming both ways to give a folder.
  ProcessResult r = KrvoAs(stranger, stranger, {"fleet", "/dev/null"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("--data-dir"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("KRVO_DATA_DIR"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Out, "");
  // Commands that need no data folder don't ask for one.
  r = KrvoAs(stranger, stranger, {"keyname", "1"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;

  // Either way out named in the message works.
  TempDir dir;
  ASSERT_EQ(chmod(dir.Path().c_str(), 0711), 0);
  const std::string data = dir.Path() + "/data";
  fs::create_directories(data);
  ASSERT_EQ(chown(data.c_str(), stranger, stranger), 0);
  r = KrvoAs(stranger, stranger, {"fleet", "/dev/null", "--data-dir", data});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_TRUE(fs::is_directory(data + "/logs"));
  fs::remove_all(data + "/logs");
  r = KrvoAs(stranger, stranger, {"fleet", "/dev/null"}, {"KRVO_DATA_DIR=" + data});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_TRUE(fs::is_directory(data + "/logs"));
}
