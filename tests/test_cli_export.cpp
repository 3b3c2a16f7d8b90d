#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/Files.h"
#include "tests/support/Process.h"
#include "tests/support/Workbook.h"

namespace fs = std::filesystem;

namespace {

ProcessResult Krvo(std::vector<std::string> args) {
  args.insert(args.begin(), KrvoPath());
  return RunProcess(args, {"LC_ALL=C", "KRVO_DEBUG=0"});
}

// A device folder as a download leaves it: the meter's setup and names
// (read from krvo-sim by krvo setup) and .dat files written here.
struct DeviceFolder {
  TempDir dir;
  std::string data = dir.Path() + "/data";
  std::string dataLog = data + "/Meter A/DataLog";

  explicit DeviceFolder(const std::vector<std::string>& groups) {
    std::vector<std::string> args = {"--device-name",      "Meter A",       "--branch-name",
                                     "22=Pump, \"North\"", "--branch-name", "84=Last one"};
    for (const std::string& g : groups) {
      args.push_back("--group");
      args.push_back(g);
    }
    SimProcess sim(args);
    const ProcessResult setup = Krvo({"setup", "--host", "127.0.0.1", "--port",
                                      std::to_string(sim.ModbusPort()), "--data-dir", data});
    if (setup.ExitCode != 0) throw std::runtime_error(setup.Err);
  }
  void Add(int group, const std::string& file, const std::vector<uint8_t>& bytes) {
    const std::string folder = dataLog + "/Group" + std::to_string(group);
    fs::create_directories(folder);
    AppendAll(folder + "/" + file, bytes);
  }
};

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace

TEST(CliExport, WorkbookCsvAndCopyOfAFolderWhereTwoGroupsHaveRecords) {
  // Group 2 logs Ua (hundredths), Ia (thousandths) and an empty slot; group 5 Ia.
  DeviceFolder dev({"2:60:1,10,0", "5:60:10"});
  dev.Add(2, "a.dat",
          Cat({DatRecord({22000, 5000, 7}, {26, 12, 7, 14, 3, 7}),
               DatRecord({22150, -1234, 7}, {26, 12, 7, 13, 0, 0})}));  // before the first: kept
  dev.Add(2, "b.dat",
          Cat({DatRecord({1, 1, 7}, {26, 2, 30, 10, 0, 0}),  // no such day
               DatRecord({23000, 1, 7}, {26, 12, 7, 15, 0, 0})}));
  // The first record's time can't be made: the pickers' error, and the group still lands.
  dev.Add(5, "x.dat",
          Cat({DatRecord({1000}, {26, 13, 1, 0, 0, 0}), DatRecord({2000}, {26, 12, 8, 0, 0, 0})}));

  const std::string out = dev.dir.Path() + "/copy.xlsx";
  WriteAll(out, "an older file");
  const std::string csv = dev.dir.Path() + "/csv";
  const ProcessResult r =
      Krvo({"export", dev.dataLog, "-o", out, "--csv", csv, "--data-dir", dev.data});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  const std::string workbook = dev.dataLog + "/template.xlsx";
  EXPECT_EQ(r.Out,
            "Group 01\t0\nGroup 02\t4\nGroup 03\t0\nGroup 04\t0\nGroup 05\t2\n"
            "Group 06\t0\nGroup 07\t0\nGroup 08\t0\nGroup 09\t0\nGroup 10\t0\n" +
                workbook + "\n");
  EXPECT_NE(r.Err.find("Loading logs of Group 05\nInvalid argument to date encode\n"),
            std::string::npos)
      << r.Err;
  EXPECT_NE(r.Err.find("Finished to load logs.\n"), std::string::npos);
  EXPECT_EQ(ReadAll(out), ReadAll(workbook));
  for (const auto& e : fs::directory_iterator(dev.dataLog))  // no temporary file stays
    EXPECT_EQ(e.path().filename().string().find(".~krvo"), std::string::npos) << e.path();

  const WorkbookDump d = DumpWorkbook(workbook);
  ASSERT_EQ(d.ExitCode, 0) << d.Error;
  EXPECT_EQ(d.Sheets, (std::vector<std::string>{"Panel Name", "Sheet2", "Data Log #02", "Sheet4",
                                                "Sheet5", "Data Log #05", "Sheet7", "Sheet8",
                                                "Sheet9", "Sheet10", "Sheet11"}));
  EXPECT_EQ(d.Active, "Panel Name");

  // The names sheet: captions as text, branch numbers as numbers.
  const std::string n = "Panel Name!";
  EXPECT_EQ(d.Cell(n + "A1").Value, "'Device Name: '");
  EXPECT_EQ(d.Cell(n + "B1").Value, "'Meter A'");  // from the folder's path
  EXPECT_EQ(d.Cell(n + "A3").Value, "'Mains-II Name: '");
  EXPECT_EQ(d.Size.at("Panel Name"), std::make_pair(26, 9));
  EXPECT_EQ(d.Cell(n + "A5").Value, "'Branch Name: '");
  EXPECT_EQ(d.Cell(n + "H5").Value, "'Branch D'");
  EXPECT_EQ(d.Cell(n + "I5").Value, "'Name'");
  EXPECT_EQ(d.Cell(n + "A6").Type, "");  // the first column of the branch rows is empty
  EXPECT_EQ(d.Cell(n + "B6").Value, "1");
  EXPECT_EQ(d.Cell(n + "D6").Type, "n");
  EXPECT_EQ(d.Cell(n + "D6").Value, "22");
  EXPECT_EQ(d.Cell(n + "E6").Value, "'Pump, \"North\"'");
  EXPECT_EQ(d.Cell(n + "H26").Value, "84");
  EXPECT_EQ(d.Cell(n + "I26").Value, "'Last one'");
  EXPECT_EQ(d.Cell(n + "B6").Align, "left");
  for (const char* col : {"A", "B"}) {  // 15 characters (the writer adds its padding)
    EXPECT_GE(d.Width.at(n + col), 15);
    EXPECT_LT(d.Width.at(n + col), 16);
  }

  // Group 2: every record in list order, numbered; typed cells.
  const std::string g = "Data Log #02!";
  EXPECT_EQ(d.Size.at("Data Log #02"), std::make_pair(5, 5));
  EXPECT_EQ(d.Cell(g + "A1").Value, "'No.'");
  EXPECT_EQ(d.Cell(g + "B1").Value, "'TimeStamp'");
  EXPECT_EQ(d.Cell(g + "C1").Value, "'Voltage-I Ua'");
  EXPECT_EQ(d.Cell(g + "D1").Value, "'Mains-I  Ia'");
  EXPECT_EQ(d.Cell(g + "E1").Value, "'None'");
  const WorkbookCell& no = d.Cell(g + "A2");
  EXPECT_EQ(no.Type, "n");
  EXPECT_EQ(no.Value, "1");
  EXPECT_EQ(no.Align, "center");
  const WorkbookCell& time = d.Cell(g + "B2");
  EXPECT_EQ(time.Type, "d");
  EXPECT_EQ(time.Value, "2026-12-07 14:03:07");
  EXPECT_EQ(time.Format, "yyyy-mm-dd hh:mm:ss");
  EXPECT_EQ(time.Align, "left");
  EXPECT_EQ(d.Cell(g + "C2").Value, "220");
  EXPECT_EQ(d.Cell(g + "D2").Value, "5");
  EXPECT_EQ(d.Cell(g + "E2").Value, "'--'");
  EXPECT_EQ(d.Cell(g + "B3").Value, "2026-12-07 13:00:00");
  EXPECT_EQ(d.Cell(g + "C3").Value, "221.5");
  EXPECT_EQ(d.Cell(g + "D3").Value, "-1.234");
  EXPECT_EQ(d.Cell(g + "B4").Value, "'Invalid Time'");
  EXPECT_EQ(d.Cell(g + "C4").Value, "0.01");
  EXPECT_EQ(d.Cell(g + "A5").Value, "4");
  EXPECT_EQ(d.Cell(g + "B5").Value, "2026-12-07 15:00:00");
  const std::pair<const char*, double> widths[] = {
      {"A", 6}, {"B", 25}, {"C", 12}, {"D", 11}, {"E", 4}};
  for (const auto& [col, w] : widths) {
    EXPECT_GE(d.Width.at(g + col), w) << col;
    EXPECT_LT(d.Width.at(g + col), w + 1) << col;
  }
  EXPECT_EQ(d.Cell("Data Log #05!B2").Value, "'Invalid Time'");
  EXPECT_EQ(d.Cell("Data Log #05!B3").Value, "2026-12-08 00:00:00");
  EXPECT_EQ(d.Cell("Data Log #05!C3").Value, "2");
  EXPECT_EQ(d.Size.at("Sheet2"), std::make_pair(1, 1));  // untouched sheets stay empty
  EXPECT_EQ(d.Cell("Sheet2!A1").Type, "");

  // CSV of the groups with records only.
  EXPECT_EQ(ReadAll(csv + "/Group02.csv"),
            "No.,TimeStamp,Voltage-I Ua,Mains-I  Ia,None\r\n"
            "1,2026-12-07 14:03:07.000,220,5,\r\n"
            "2,2026-12-07 13:00:00.000,221.5,-1.234,\r\n"
            "3,Invalid Time,0.01,0.001,\r\n"
            "4,2026-12-07 15:00:00.000,230,0.001,\r\n");
  EXPECT_EQ(ReadAll(csv + "/Group05.csv"),
            "No.,TimeStamp,Mains-I  Ia\r\n1,Invalid Time,1\r\n2,2026-12-08 00:00:00.000,2\r\n");
  EXPECT_FALSE(fs::exists(csv + "/Group01.csv"));

  // A range and the comma-decimal dialect: the CSV files hold the records in
  // [--from, --to) only, renumbered; the workbook still holds every one.
  const ProcessResult eu =
      Krvo({"export", dev.dataLog, "--csv", csv, "--csv-dialect", "excel-eu", "--from",
            "2026-12-07 13:30", "--to", "2026-12-08", "--data-dir", dev.data});
  ASSERT_EQ(eu.ExitCode, 0) << eu.Err;
  EXPECT_EQ(ReadAll(csv + "/Group02.csv"),
            "No.;TimeStamp;Voltage-I Ua;Mains-I  Ia;None\r\n"
            "1;2026-12-07 14:03:07.000;220;5;\r\n"
            "2;2026-12-07 15:00:00.000;230;0,001;\r\n");
  EXPECT_EQ(ReadAll(csv + "/Group05.csv"), "No.;TimeStamp;Mains-I  Ia\r\n");
  EXPECT_EQ(DumpWorkbook(workbook).Size.at("Data Log #02"), std::make_pair(5, 5));
}

TEST(CliExport, FoldersThatCannotBeLoadedAndUsage) {
  DeviceFolder dev({});
  // A path without "DataLog".
  ProcessResult r = Krvo({"export", dev.data + "/Meter A", "--data-dir", dev.data});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(
      r.Err,
      dev.data +
          "/Meter A/\n\nGet *.dat file failed.\nPlease select a path containing with 'DataLog'.\n");
  // A group folder opens its DataLog folder; a folder outside the data folder
  // takes its device name from the folder that holds DataLog.
  fs::create_directories(dev.dataLog + "/Group3");
  const std::string elsewhere = dev.dir.Path() + "/elsewhere/Site 7";
  fs::create_directories(elsewhere);
  fs::copy(dev.dataLog, elsewhere + "/DataLog", fs::copy_options::recursive);
  r = Krvo({"export", elsewhere + "/DataLog/Group3", "--data-dir", dev.data});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(DumpWorkbook(elsewhere + "/DataLog/template.xlsx").Cell("Panel Name!B1").Value,
            "'Site 7'");
  // The data folder's own DataLog: an empty device name.
  fs::create_directories(dev.data + "/DataLog");
  fs::copy(dev.dataLog + "/DataLogSetup.ini", dev.data + "/DataLog/DataLogSetup.ini");
  r = Krvo({"export", dev.data + "/DataLog", "--data-dir", dev.data});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("It not be found Device Name."), std::string::npos) << r.Err;
  EXPECT_FALSE(fs::exists(dev.data + "/DataLog/template.xlsx"));
  // A copy that can't be made.
  r = Krvo({"export", dev.dataLog, "-o", dev.dir.Path() + "/no/such/folder/x.xlsx", "--data-dir",
            dev.data});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("Exporting Logs Failed."), std::string::npos);
  for (const auto& args : std::vector<std::vector<std::string>>{{"export"},
                                                                {"export", dev.dataLog, "--bogus"},
                                                                {"export", dev.dataLog, "-o"},
                                                                {"export", "a", "b"}}) {
    r = Krvo(args);
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_NE(r.Err.find("usage: krvo export"), std::string::npos);
  }
}

TEST(CliExport, AGroupBeyondOneWorksheetContinuesOnFurtherSheets) {
  DeviceFolder dev({"1:1:1"});
  // One record a second from 2026-01-01: two more than a worksheet holds
  // below its header row.
  const long total = 1048575 + 2;
  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<size_t>(total) * 10);
  for (long i = 0; i < total; ++i) {
    const long day = i / 86400, sec = i % 86400;
    const auto rec =
        DatRecord({static_cast<int32_t>(i)},
                  {26, 1, static_cast<uint8_t>(1 + day), static_cast<uint8_t>(sec / 3600),
                   static_cast<uint8_t>(sec / 60 % 60), static_cast<uint8_t>(sec % 60)});
    bytes.insert(bytes.end(), rec.begin(), rec.end());
  }
  dev.Add(1, "big.dat", bytes);
  const ProcessResult r = Krvo({"export", dev.dataLog, "--data-dir", dev.data});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_NE(r.Err.find("Data Log #01 (2)"), std::string::npos) << r.Err;  // the status says so
  const WorkbookDump d = DumpWorkbook(dev.dataLog + "/template.xlsx", 3, true);
  ASSERT_EQ(d.ExitCode, 0) << d.Error;
  ASSERT_EQ(d.Sheets.size(), 12u);
  EXPECT_EQ(d.Sheets[1], "Data Log #01");
  EXPECT_EQ(d.Sheets[11], "Data Log #01 (2)");
  EXPECT_EQ(d.Size.at("Data Log #01").first, 1048576);
  EXPECT_EQ(d.Size.at("Data Log #01 (2)"), std::make_pair(3, 3));
  const std::string s = "Data Log #01 (2)!";
  EXPECT_EQ(d.Cell(s + "A1").Value, "'No.'");
  EXPECT_EQ(d.Cell(s + "A2").Value, "1048576");  // the numbering goes on
  EXPECT_EQ(d.Cell(s + "C2").Value, "10485.75");
  EXPECT_EQ(d.Cell(s + "A3").Value, "1048577");
  // 1048576 seconds after 2026-01-01 00:00:00 is 2026-01-13 03:16:16.
  EXPECT_EQ(d.Cell(s + "B3").Value, "2026-01-13 03:16:16");

  // Killed while the workbook is being rebuilt: the workbook at its place is
  // the one of the export before, whole; the next run clears every
  // temporary file the killed run left.
  auto temps = [&] {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dev.dataLog))
      if (e.path().filename().string().find(".~krvo-") != std::string::npos)
        out.push_back(e.path());
    return out;
  };
  const auto before = fs::file_size(dev.dataLog + "/template.xlsx");
  const pid_t pid = StartProcess({KrvoPath(), "export", dev.dataLog, "--data-dir", dev.data});
  bool seen = false;
  while (!seen && !ProcessEnded(pid)) {
    // The rebuild is under way once the new workbook's names stand beside the old one.
    for (const std::string& t : temps()) {
      std::error_code ec;
      seen = seen || (t.find("/.template.xlsx.~krvo-") != std::string::npos &&
                      fs::file_size(t, ec) > 0 && !ec);
    }
  }
  ASSERT_TRUE(seen) << "the export ended before its rebuild could be seen";
  KillProcess(pid);
  // Whenever the kill landed (on a busy machine possibly after the rename),
  // the workbook in place is a whole one with every sheet.
  const WorkbookDump killed = DumpWorkbook(dev.dataLog + "/template.xlsx", 2, true);
  ASSERT_EQ(killed.ExitCode, 0) << killed.Error;
  EXPECT_EQ(killed.Sheets.size(), 12u);
  EXPECT_EQ(killed.Cell("Panel Name!B1").Value, "'Meter A'");
  EXPECT_EQ(fs::file_size(dev.dataLog + "/template.xlsx"), before);
  // What the killed run left is cleared by the next one (a leftover of the
  // same dead process is made when the kill left none).
  if (temps().empty())
    WriteAll(dev.dataLog + "/.template.xlsx.~krvo-" + std::to_string(pid) + "-left", "x");
  ASSERT_EQ(Krvo({"export", dev.dataLog, "--data-dir", dev.data}).ExitCode, 0);
  EXPECT_TRUE(temps().empty());
}
