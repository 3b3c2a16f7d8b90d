#include <gtest/gtest.h>
#include <sys/stat.h>

#include <charconv>
#include <chrono>
#include <climits>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "tests/support/Files.h"
#include "tests/support/Process.h"
#include "tests/support/Workbook.h"

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

ProcessResult Krvo(std::vector<std::string> args) {
  args.insert(args.begin(), KrvoPath());
  return RunProcess(args, {"LC_ALL=C", "KRVO_DEBUG=0"});
}

std::string Num(double v) {
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

std::string Stamp(sys_seconds t) {
  const auto day = floor<days>(t);
  const year_month_day ymd{day};
  const hh_mm_ss hms{t - day};
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02ld:%02ld:%02ld", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<long>(hms.hours().count()), static_cast<long>(hms.minutes().count()),
                static_cast<long>(hms.seconds().count()));
  return buf;
}

sys_seconds At(int y, unsigned mo, unsigned d, int h = 0, int mi = 0) {
  return sys_days{year{y} / mo / d} + hours{h} + minutes{mi};
}

std::array<uint8_t, 6> TimeBytes(sys_seconds t) {
  const std::string s = Stamp(t);
  auto n = [&](size_t at) { return static_cast<uint8_t>(std::stoi(s.substr(at, 2))); };
  return {n(2), n(5), n(8), n(11), n(14), n(17)};
}

struct Rec {
  sys_seconds Time;
  std::vector<int32_t> Raw;
};

// A device folder: DataLogSetup.ini as the meter's setup and names leave it,
// and the group files written by the test.
struct Device {
  TempDir dir;
  std::string data = dir.Path() + "/data";
  std::string dataLog = data + "/Site/DataLog";

  Device() {
    fs::create_directories(dataLog);
    std::string ini =
        "[PanelName]\nDeviceName=Site\nMainsIName=Grid\nMainsIIName=Solar\nBranchName1=Pump Room\n"
        "[Group0]\nTimeInterval=900\nKeyNum=5\nkeyArr00=2010\nkeyArr01=205\nkeyArr02=22\nkeyArr03="
        "0\nkeyArr04=2011\n"
        "[Group1]\nTimeInterval=0\nKeyNum=2\nkeyArr00=2000\nkeyArr01=9\n"
        "[Group2]\nTimeInterval=60\nKeyNum=1\nkeyArr00=2001\n";  // no files
    WriteAll(dataLog + "/DataLogSetup.ini", ini);
  }
  void Write(int group, const std::string& file, const std::vector<Rec>& recs) {
    const std::string folder = dataLog + "/Group" + std::to_string(group);
    fs::create_directories(folder);
    for (const Rec& r : recs) AppendAll(folder + "/" + file, DatRecord(r.Raw, TimeBytes(r.Time)));
  }
};

// Group 1: a reading every 15 minutes from 2026-01-01 to 2026-02-03 23:45 of
// 1-Phase SM#01 kWh Export (the register grows by the day of the month in
// tenths), its Loading, Mains-I kW total, an empty slot and SM#01 kvarh.
std::vector<Rec> GroupOne() {
  std::vector<Rec> out;
  int32_t kwh = 100000, kvarh = 1000;
  int i = 0;
  for (sys_seconds t = At(2026, 1, 1); t < At(2026, 2, 4); t += minutes{15}, ++i) {
    if (t >= At(2026, 1, 10, 10) && t < At(2026, 1, 10, 13)) continue;  // a gap
    if (!out.empty())
      kwh += static_cast<int32_t>(
          static_cast<unsigned>(year_month_day{floor<days>(out.back().Time)}.day()));
    if (t == At(2026, 1, 15, 8)) kwh = 50;  // a reset
    int32_t loading = 300 + i % 96;
    if (t == At(2026, 1, 7, 6) || t == At(2026, 1, 7, 18)) loading = 850;
    if (t == At(2026, 1, 8, 12)) loading = 800;  // at the limit: no overload
    const int32_t kw = i % 97 == 0 ? INT32_MIN : static_cast<int32_t>((i * 7919L) % 10007);
    out.push_back({t, {t == At(2026, 1, 20, 5) ? INT32_MIN : kwh, loading, kw, 12345, kvarh++}});
    if (t == At(2026, 1, 25, 12)) {  // the same time again: file order holds
      kwh += 7;
      out.push_back({t, {kwh, 310, 9999, 0, kvarh++}});
    }
  }
  return out;
}

using PeriodOf = std::function<std::string(sys_seconds)>;

std::string Day(sys_seconds t) { return Stamp(t).substr(0, 10); }

// Consumption per period of slot j, by the definition: increments of
// consecutive points (NoValue left out) to the earlier point's period,
// negative ones left out; only earlier points in [from, to).
std::map<std::string, double> Consumption(const std::vector<Rec>& recs, size_t j,
                                          const PeriodOf& period, sys_seconds from = At(2000, 1, 1),
                                          sys_seconds to = At(2100, 1, 1)) {
  std::map<std::string, double> out;
  const Rec* prev = nullptr;
  for (const Rec& r : recs) {
    if (r.Raw[j] == INT32_MIN) continue;
    if (r.Time >= from && r.Time < to) out[period(r.Time)] += 0;
    if (prev != nullptr && prev->Time >= from && prev->Time < to) {
      const double inc = r.Raw[j] / 10.0 - prev->Raw[j] / 10.0;
      if (inc >= 0) out[period(prev->Time)] += inc;
    }
    prev = &r;
  }
  return out;
}

std::vector<std::vector<std::string>> Lines(const std::string& out, const std::string& kind) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    std::string x;
    while (std::getline(fields, x, '\t')) f.push_back(x);
    if (line.back() == '\t') f.push_back("");
    if (!f.empty() && f[0] == kind) rows.push_back(f);
  }
  return rows;
}

// energy lines of one column: period -> consumption text.
std::map<std::string, std::string> EnergyOf(const std::string& out, const std::string& group,
                                            const std::string& caption) {
  std::map<std::string, std::string> m;
  for (const auto& f : Lines(out, "energy"))
    if (f.size() == 6 && f[2] == group && f[3] == caption) m[f[1]] = f[5];
  return m;
}

std::map<std::string, std::string> Texts(const std::map<std::string, double>& m) {
  std::map<std::string, std::string> out;
  for (const auto& [k, v] : m) out[k] = Num(v);
  return out;
}

}  // namespace

TEST(CliReport, DaysOfAMonthWithResetGapNoValueAndEqualTimes) {
  Device dev;
  const std::vector<Rec> one = GroupOne();
  // Later readings in the file read first: the report orders by time.
  std::vector<Rec> early, late;
  for (const Rec& r : one) (r.Time < At(2026, 1, 16) ? early : late).push_back(r);
  dev.Write(1, "a.dat", late);
  dev.Write(1, "b.dat", early);
  // Group 2 logs every two hours or so with no interval: never a gap.
  dev.Write(2, "a.dat",
            {{At(2026, 1, 31, 22), {5000, 5000}},
             {At(2026, 1, 31, 23), {5010, 4990}},
             {At(2026, 2, 1, 1), {5030, 5010}}});
  AppendAll(dev.dataLog + "/Group2/a.dat",
            DatRecord({1, 1}, {26, 13, 1, 0, 0, 0}));  // no such month: left out

  const ProcessResult r = Krvo({"report", dev.dataLog, "--data-dir", dev.data});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Err, "Group 02: 1 records without a valid time left out\n");

  // A day is the register at the next day's first reading minus the day's first.
  const auto kwh = EnergyOf(r.Out, "Group 01", "1-Phase SM#01 kWh Export");
  EXPECT_EQ(kwh, Texts(Consumption(one, 0, Day)));
  ASSERT_EQ(kwh.size(), 34u);
  EXPECT_NEAR(std::stod(kwh.at("2026-01-03")), 96 * 0.3, 1e-9);
  EXPECT_NEAR(std::stod(kwh.at("2026-01-31")), 96 * 3.1, 1e-9);
  EXPECT_NEAR(std::stod(kwh.at("2026-01-10")), (96 - 12) * 1.0, 1e-9);  // across the gap too
  EXPECT_EQ(EnergyOf(r.Out, "Group 01", "1-Phase SM#01 kvarh Import"),
            Texts(Consumption(one, 4, Day)));
  EXPECT_EQ(EnergyOf(r.Out, "Group 02", "Mains-I kWh Import"),
            (std::map<std::string, std::string>{{"2026-01-31", "3"}, {"2026-02-01", "0"}}));
  for (const auto& f : Lines(r.Out, "energy"))
    EXPECT_EQ(f[4], f[2] == "Group 01" ? "Pump Room" : "Grid") << f[3];

  // Demand of Mains-I kW total: maximum, its first time, mean; NoValue left out.
  std::map<std::string, std::vector<std::string>> demand;
  for (const auto& f : Lines(r.Out, "demand"))
    if (f[2] == "Group 01" && f[3] == "Mains-I  kW total") demand[f[1]] = {f[4], f[5], f[6], f[7]};
  std::map<std::string, std::vector<std::string>> want;
  std::map<std::string, std::pair<double, size_t>> sums;
  for (const Rec& x : one) {
    if (x.Raw[2] == INT32_MIN) continue;
    const double v = x.Raw[2] / 1000.0;
    auto& w = want[Day(x.Time)];
    if (w.empty() || v > std::stod(w[1])) w = {"Grid", Num(v), Stamp(x.Time)};
    sums[Day(x.Time)].first += v;
    ++sums[Day(x.Time)].second;
  }
  for (auto& [day, w] : want)
    w.push_back(Num(sums[day].first / static_cast<double>(sums[day].second)));
  EXPECT_EQ(demand, want);
  const auto freq = Lines(r.Out, "demand");
  EXPECT_NE(
      std::find(freq.begin(), freq.end(),
                std::vector<std::string>{"demand", "2026-01-31", "Group 02", "Frequency", "Grid",
                                         "50", "2026-01-31 22:00:00", Num((50 + 49.9) / 2)}),
      freq.end());

  size_t reset = 0;
  while (one[reset].Time != At(2026, 1, 15, 8)) ++reset;
  // Events: the reset, the gap of group 1 only, the one loading above 80 %.
  EXPECT_EQ(Lines(r.Out, "reset"),
            (std::vector<std::vector<std::string>>{{"reset", "Group 01", "1-Phase SM#01 kWh Export",
                                                    "2026-01-15 08:00:00",
                                                    Num(one[reset - 1].Raw[0] / 10.0), "5"}}));
  EXPECT_EQ(Lines(r.Out, "gap"),
            (std::vector<std::vector<std::string>>{
                {"gap", "Group 01", "2026-01-10 09:45:00", "2026-01-10 13:00:00"}}));
  EXPECT_EQ(Lines(r.Out, "overload"),
            (std::vector<std::vector<std::string>>{{"overload", "2026-01-07", "Group 01",
                                                    "1-Phase SM#01 Loading", "Pump Room", "85",
                                                    "2026-01-07 06:00:00"}}));
  EXPECT_TRUE(Lines(r.Out, "tenant").empty());
  // The empty slot is no series, nor is a group without records.
  EXPECT_EQ(r.Out.find("None"), std::string::npos);
  EXPECT_EQ(r.Out.find("Group 03"), std::string::npos);
}

TEST(CliReport, WeeksMonthsRangeJsonTenantsAndErrors) {
  Device dev;
  const std::vector<Rec> one = GroupOne();
  dev.Write(1, "a.dat", one);
  dev.Write(2, "a.dat", {{At(2026, 1, 31, 22), {5000, 5000}}, {At(2026, 2, 1, 1), {5030, 5010}}});

  // Weeks from Monday: 2026-01-26 runs into February.
  ProcessResult r = Krvo({"report", dev.dataLog, "--period", "week", "--data-dir", dev.data});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  const PeriodOf week = [](sys_seconds t) {
    const sys_days d = floor<days>(t);
    return Day(d - (weekday{d} - Monday));
  };
  const auto weeks = EnergyOf(r.Out, "Group 01", "1-Phase SM#01 kWh Export");
  EXPECT_EQ(weeks, Texts(Consumption(one, 0, week)));
  EXPECT_EQ(weeks.begin()->first, "2025-12-29");
  EXPECT_EQ(weeks.count("2026-01-26"), 1u);
  EXPECT_EQ(EnergyOf(r.Out, "Group 02", "Mains-I kWh Import"),
            (std::map<std::string, std::string>{{"2026-01-26", "3"}}));

  // Months, with tenants: a register of each group in one, kvarh in another.
  const std::string tenants = dev.dir.Path() + "/tenants.txt";
  WriteAll(tenants, "# who pays what\n\nShop A = 2010, 2000  # pump and mains\nOffice=2011\n");
  r = Krvo({"report", dev.dataLog, "--period", "month", "--tenants", tenants, "--price", "0.25",
            "--data-dir", dev.data});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  const PeriodOf month = [](sys_seconds t) { return Day(t).substr(0, 8) + "01"; };
  const auto months = Consumption(one, 0, month);
  EXPECT_EQ(EnergyOf(r.Out, "Group 01", "1-Phase SM#01 kWh Export"), Texts(months));
  const auto kvarh = Consumption(one, 4, month);
  EXPECT_EQ(Lines(r.Out, "tenant"),
            (std::vector<std::vector<std::string>>{
                {"tenant", "2026-01-01", "Shop A", Num(months.at("2026-01-01") + 3), "0", "0",
                 Num((months.at("2026-01-01") + 3) * 0.25)},
                {"tenant", "2026-02-01", "Shop A", Num(months.at("2026-02-01") + 0), "0", "0",
                 Num(months.at("2026-02-01") * 0.25)},
                {"tenant", "2026-01-01", "Office", "0", Num(kvarh.at("2026-01-01")), "0", "0"},
                {"tenant", "2026-02-01", "Office", "0", Num(kvarh.at("2026-02-01")), "0", "0"}}));

  // The whole of a range: the pair into the day after still counts; events
  // outside it don't; a limit of 39 % leaves one loading above it.
  r = Krvo({"report", dev.dataLog, "--period", "total", "--from", "2026-01-10", "--to",
            "2026-01-12 00:00", "--loading-limit", "39", "--data-dir", dev.data});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(EnergyOf(r.Out, "Group 01", "1-Phase SM#01 kWh Export"),
            Texts(Consumption(
                one, 0, [](sys_seconds) { return std::string("total"); }, At(2026, 1, 10),
                At(2026, 1, 12))));
  EXPECT_NEAR(std::stod(EnergyOf(r.Out, "Group 01", "1-Phase SM#01 kWh Export").at("total")),
              84 * 1.0 + 96 * 1.1, 1e-9);
  EXPECT_TRUE(EnergyOf(r.Out, "Group 02", "Mains-I kWh Import").empty());
  EXPECT_EQ(Lines(r.Out, "gap").size(), 1u);
  EXPECT_TRUE(Lines(r.Out, "reset").empty());
  EXPECT_EQ(Lines(r.Out, "overload"), (std::vector<std::vector<std::string>>{
                                          {"overload", "total", "Group 01", "1-Phase SM#01 Loading",
                                           "Pump Room", "39.5", "2026-01-10 23:45:00"}}));

  // JSON: the same items, one object a line.
  r = Krvo({"report", dev.dataLog, "--json", "--from", "2026-01-15 07:45", "--to",
            "2026-01-15 08:00:01", "--data-dir", dev.data});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  size_t at = 0;
  while (one[at].Time != At(2026, 1, 15, 7, 45)) ++at;
  EXPECT_NE(r.Out.find(
                "{\"kind\":\"reset\",\"group\":1,\"caption\":\"1-Phase SM#01 kWh Export\",\"time\":"
                "\"2026-01-15 08:00:00\",\"before\":" +
                Num(one[at].Raw[0] / 10.0) + ",\"after\":5}\n"),
            std::string::npos)
      << r.Out;
  EXPECT_NE(
      r.Out.find(
          "{\"kind\":\"energy\",\"period\":\"2026-01-15\",\"group\":1,\"caption\":\"1-Phase SM#01 "
          "kvarh Import\",\"circuit\":\"Pump Room\",\"consumption\":" +
          Num(one[at + 2].Raw[4] / 10.0 - one[at + 1].Raw[4] / 10.0 +
              (one[at + 1].Raw[4] / 10.0 - one[at].Raw[4] / 10.0)) +
          "}\n"),
      std::string::npos)
      << r.Out;

  // A tenants line with a power id, or an id nobody logs, names its line.
  WriteAll(tenants, "Shop A = 2010\n# fine so far\nOffice = 2011, 22\n");
  r = Krvo({"report", dev.dataLog, "--tenants", tenants, "--data-dir", dev.data});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Err, tenants + ":3: key id 22 is no energy register (2000 to 2581)\n");
  EXPECT_EQ(r.Out, "");
  WriteAll(tenants, "Shop A = 2010, 2005\n");
  r = Krvo({"report", dev.dataLog, "--tenants", tenants, "--data-dir", dev.data});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Err, tenants + ":1: no group logs key id 2005\n");
  const std::string fifo = dev.dir.Path() + "/fifo";  // refused, not waited on
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  r = Krvo({"report", dev.dataLog, "--tenants", fifo, "--data-dir", dev.data});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Err, "Unable to read the tenants file " + fifo + "\n");

  r = Krvo({"report", dev.data + "/nowhere", "--data-dir", dev.data});
  EXPECT_EQ(r.ExitCode, 1);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"report"},
           {"report", dev.dataLog, "--period", "year"},
           {"report", dev.dataLog, "--from", "2026-01-02", "--to", "2026-01-01"},
           {"report", dev.dataLog, "--from", "2026-02-30"},
           {"report", dev.dataLog, "--loading-limit", "x"},
           {"report", dev.dataLog, "--price", "1"}}) {
    r = Krvo(args);
    EXPECT_EQ(r.ExitCode, 2) << args.back();
    EXPECT_NE(r.Err.find("usage: krvo report"), std::string::npos);
  }
}

TEST(CliReport, WorkbookWithTypedCellsAndChartAndCsvFiles) {
  Device dev;
  const std::vector<Rec> one = GroupOne();
  dev.Write(1, "a.dat", one);
  dev.Write(2, "a.dat", {{At(2026, 1, 31, 22), {5000, 5000}}, {At(2026, 2, 1, 1), {5030, 5010}}});
  const std::string tenants = dev.dir.Path() + "/tenants.txt";
  WriteAll(tenants, "Shop A = 2010, 2000\n");
  const std::string book = dev.dir.Path() + "/report.xlsx", csv = dev.dir.Path() + "/csv";
  ProcessResult r = Krvo({"report", dev.dataLog, "--period", "month", "--tenants", tenants,
                          "--price", "2", "-o", book, "--csv", csv, "--data-dir", dev.data});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  const WorkbookDump d = DumpWorkbook(book);
  ASSERT_EQ(d.ExitCode, 0) << d.Error;
  EXPECT_EQ(d.Sheets,
            (std::vector<std::string>{"Summary", "Energy", "Demand", "Tenants", "Events"}));

  const PeriodOf month = [](sys_seconds t) { return Day(t).substr(0, 8) + "01"; };
  const auto months = Consumption(one, 0, month);
  const auto total =
      Consumption(one, 0, [](sys_seconds) { return std::string("total"); }).at("total");
  // Summary: a row per series over the whole range, in the group's key order.
  EXPECT_EQ(d.Cell("Summary!A2").Value, "'Group 01'");
  EXPECT_EQ(d.Cell("Summary!B2").Value, "'1-Phase SM#01 kWh Export'");
  EXPECT_EQ(d.Cell("Summary!C2").Value, "'Pump Room'");
  EXPECT_EQ(d.Cell("Summary!D2").Value, "2010");
  EXPECT_EQ(d.Cell("Summary!F2").Value, "'kWh'");
  EXPECT_EQ(d.Cell("Summary!G2").Type, "n");
  EXPECT_EQ(d.Cell("Summary!G2").Value, Num(total));
  EXPECT_EQ(d.Cell("Summary!L2").Value, "1");  // resets
  EXPECT_EQ(d.Cell("Summary!M2").Value, "1");  // gaps
  EXPECT_EQ(d.Cell("Summary!N2").Format, "0.0%");
  EXPECT_EQ(d.Cell("Summary!B3").Value, "'1-Phase SM#01 Loading'");
  EXPECT_EQ(d.Cell("Summary!H3").Value, "85");
  EXPECT_EQ(d.Cell("Summary!I3").Type, "d");
  EXPECT_EQ(d.Cell("Summary!I3").Value, "2026-01-07 06:00:00");
  EXPECT_EQ(d.Cell("Summary!I3").Format, "yyyy-mm-dd hh:mm:ss");
  EXPECT_EQ(d.Cell("Summary!B6").Value, "'Mains-I kWh Import'");
  EXPECT_EQ(d.Cell("Summary!C6").Value, "'Grid'");

  // Energy: a row per month, a column per register.
  EXPECT_EQ(d.Size.at("Energy").first, 3);
  EXPECT_EQ(d.Cell("Energy!B1").Value, "'Group 01 1-Phase SM#01 kWh Export (Pump Room) kWh'");
  EXPECT_EQ(d.Cell("Energy!A2").Type, "d");
  EXPECT_EQ(d.Cell("Energy!A2").Value, "2026-01-01 00:00:00");
  EXPECT_EQ(d.Cell("Energy!A2").Format, "yyyy-mm-dd");
  EXPECT_EQ(d.Cell("Energy!B2").Value, Num(months.at("2026-01-01")));
  EXPECT_EQ(d.Cell("Energy!B3").Value, Num(months.at("2026-02-01")));
  EXPECT_EQ(d.Cell("Energy!D2").Value, "3");
  EXPECT_EQ(d.Cell("Demand!B1").Value, "'Group 01 1-Phase SM#01 Loading (Pump Room) Maximum'");
  EXPECT_EQ(d.Cell("Demand!B2").Value, "85");
  EXPECT_EQ(d.Cell("Demand!C2").Type, "d");
  EXPECT_EQ(d.Cell("Tenants!C2").Value, Num(months.at("2026-01-01") + 3));
  EXPECT_EQ(d.Cell("Tenants!F2").Value, Num((months.at("2026-01-01") + 3) * 2));
  EXPECT_EQ(d.Cell("Events!A2").Value, "'reset'");
  EXPECT_EQ(d.Cell("Events!F2").Value, "2026-01-15 08:00:00");
  EXPECT_EQ(d.Cell("Events!H2").Value, "5");
  EXPECT_EQ(d.Cell("Events!A3").Value, "'gap'");
  EXPECT_EQ(d.Cell("Events!A4").Value, "'overload'");

  // The chart: the kWh registers' columns, the biggest first.
  const ProcessResult chart =
      RunProcess({"/usr/bin/python3", "-c",
                  "import openpyxl, sys\nws = openpyxl.load_workbook(sys.argv[1])['Energy']\n"
                  "for c in ws._charts:\n  print(type(c).__name__, c.type, [s.val.numRef.f for s "
                  "in c.series])",
                  book});
  EXPECT_EQ(chart.Out, "BarChart col ['Energy!$B$2:$B$3', 'Energy!$D$2:$D$3']\n") << chart.Err;

  // CSV: the same sheets; then with semicolons and decimal commas.
  const std::string energy = ReadAll(csv + "/Energy.csv");
  EXPECT_EQ(energy.substr(0, energy.find("\r\n")),
            "Period,Group 01 1-Phase SM#01 kWh Export (Pump Room) kWh,"
            "Group 01 1-Phase SM#01 kvarh Import (Pump Room) kvarh,Group 02 Mains-I kWh Import "
            "(Grid) kWh");
  EXPECT_NE(energy.find("\r\n2026-01-01," + Num(months.at("2026-01-01")) + ","), std::string::npos)
      << energy;
  for (const char* name : {"Summary", "Demand", "Tenants", "Events"})
    EXPECT_TRUE(fs::exists(csv + "/" + name + ".csv")) << name;
  r = Krvo({"report", dev.dataLog, "--period", "month", "--csv", csv, "--csv-dialect", "excel-eu",
            "--data-dir", dev.data});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  std::string eu = Num(months.at("2026-01-01"));
  std::replace(eu.begin(), eu.end(), '.', ',');
  EXPECT_NE(ReadAll(csv + "/Energy.csv").find("\r\n2026-01-01;" + eu + ";"), std::string::npos);
  // A workbook that can't be written.
  r = Krvo(
      {"report", dev.dataLog, "-o", dev.dir.Path() + "/no/such/r.xlsx", "--data-dir", dev.data});
  EXPECT_EQ(r.ExitCode, 1);
}
