// The logs' database end to end: krvo sync, fleet and export feeding a SQLite
// file and a PostgreSQL server of the test's own, read back with Python's
// sqlite3 and with psql, against what krvo show prints of the same folders.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>

#include "tests/support/Files.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/Process.h"

namespace fs = std::filesystem;

namespace {

struct Backend {
  std::string Url;
  std::vector<std::string> Env;                            // what krvo runs with
  std::function<ProcessResult(const std::string&)> Query;  // rows, TAB-separated
};

ProcessResult Krvo(std::vector<std::string> args, const Backend& db) {
  args.insert(args.begin(), KrvoPath());
  std::vector<std::string> env = {"LC_ALL=C", "KRVO_DEBUG=0"};
  env.insert(env.end(), db.Env.begin(), db.Env.end());
  return RunProcess(args, env);
}

std::vector<std::string> Rows(const Backend& db, const std::string& sql) {
  const ProcessResult r = db.Query(sql);
  EXPECT_EQ(r.ExitCode, 0) << sql << "\n" << r.Err;
  std::vector<std::string> rows;
  std::istringstream in(r.Out);
  for (std::string line; std::getline(in, line);) rows.push_back(line);
  return rows;
}

long Count(const Backend& db, const std::string& sql) {
  const auto rows = Rows(db, sql);
  return rows.size() == 1 ? std::stol(rows[0]) : -1;
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> f;
  std::istringstream in(line);
  for (std::string x; std::getline(in, x, '\t');) f.push_back(x);
  return f;
}

struct Value {
  int Group;
  std::string Time;
  int Key;
  double V;
  bool operator<(const Value& o) const {
    return std::tie(Group, Time, Key, V) < std::tie(o.Group, o.Time, o.Key, o.V);
  }
};

// What krvo show prints of a group, as stored rows: one per value that is
// not "--", none for a record of "Invalid Time".
std::vector<Value> ShownValues(const std::string& folder, int group, const std::vector<int>& keys) {
  const ProcessResult r =
      RunProcess({KrvoPath(), "show", folder, "--group", std::to_string(group)}, {"LC_ALL=C"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  std::vector<Value> out;
  std::istringstream in(r.Out);
  std::string line;
  std::getline(in, line);  // the captions
  while (std::getline(in, line)) {
    const auto f = Split(line);
    if (f.size() != keys.size() + 2 || f[1] == "Invalid Time") continue;
    for (size_t j = 0; j < keys.size(); ++j)
      if (f[j + 2] != "--") out.push_back({group, f[1], keys[j], std::stod(f[j + 2])});
  }
  return out;
}

// The stored rows of the device's latest key generation of each group.
std::vector<Value> StoredValues(const Backend& db, const std::string& device) {
  std::vector<Value> out;
  for (const std::string& row :
       Rows(db,
            "SELECT v.group_no, v.time, v.key_id, v.value FROM log_value v "
            "JOIN log_file f ON f.id = v.file_id JOIN key_generation g ON g.id = f.generation_id "
            "JOIN device d ON d.id = v.device_id WHERE d.name = '" +
                device +
                "' AND g.generation = (SELECT max(generation) FROM key_generation h "
                "WHERE h.device_id = g.device_id AND h.group_no = g.group_no)")) {
    const auto f = Split(row);
    if (f.size() == 4) out.push_back({std::stoi(f[0]), f[1], std::stoi(f[2]), std::stod(f[3])});
  }
  return out;
}

// The database holds exactly what show prints: no record lost, none twice.
void ExpectSameAsShown(const Backend& db, const std::string& folder, const std::string& device,
                       const std::vector<std::vector<int>>& keys) {
  std::vector<Value> shown;
  for (size_t g = 0; g < keys.size(); ++g) {
    const auto v = ShownValues(folder, static_cast<int>(g + 1), keys[g]);
    shown.insert(shown.end(), v.begin(), v.end());
  }
  std::vector<Value> stored = StoredValues(db, device);
  ASSERT_EQ(stored.size(), shown.size());
  std::sort(shown.begin(), shown.end());
  std::sort(stored.begin(), stored.end());
  for (size_t i = 0; i < shown.size(); ++i) {
    ASSERT_EQ(stored[i].Group, shown[i].Group);
    ASSERT_EQ(stored[i].Time, shown[i].Time);
    ASSERT_EQ(stored[i].Key, shown[i].Key);
    // show gives 15 significant digits.
    ASSERT_NEAR(stored[i].V, shown[i].V, 1e-12 * std::max(1.0, std::fabs(shown[i].V)));
  }
}

std::string DatabaseLine(const std::string& out) {
  const size_t at = out.find("Database\t");
  return at == std::string::npos ? "" : out.substr(at, out.find('\n', at) - at);
}

std::vector<std::string> Meter(const std::string& root, const std::string& group1) {
  std::vector<std::string> args = {"--data-root", root,           "--records", "300",
                                   "--log-start", "2026-01-01",   "--group",   group1,
                                   "--group",     "2:1800:9,0,10"};
  for (int g = 3; g <= 6; ++g) args.insert(args.end(), {"--group", std::to_string(g) + ":60:"});
  return args;
}

void FeedAndCheck(const Backend& db) {
  TempDir dir;
  const std::string root = dir.Path() + "/meter", data = dir.Path() + "/data";
  const std::string local = data + "/Panel A/DataLog/";
  const std::string count = "SELECT count(*) FROM log_value";
  auto sync = [&](const SimProcess& sim) {
    std::vector<std::string> a = MeterCommand("sync", sim, data);
    a.insert(a.end(), {"--db", db.Url});
    return Krvo(a, db);
  };
  std::vector<std::vector<int>> keys = {{1, 2, 3}, {9, 0, 10}};
  long before = 0;
  {
    SimProcess sim(Meter(root, "1:900:1,2,3"));
    ProcessResult r = sync(sim);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    // 300 records a group; group 2's second slot logs nothing.
    EXPECT_EQ(DatabaseLine(r.Out),
              "Database\t11 files loaded\t0 unchanged\t1500 values\t0 records "
              "without a valid time");
    ExpectSameAsShown(db, local, "Panel A", keys);
    EXPECT_EQ(Rows(db, "SELECT host, port FROM device"),
              std::vector<std::string>{"127.0.0.1\t" + std::to_string(sim.ModbusPort())});
    EXPECT_EQ(Rows(db,
                   "SELECT slot, key_id, caption FROM group_key g JOIN key_generation k "
                   "ON k.id = g.generation_id WHERE k.group_no = 2 ORDER BY slot")
                  .size(),
              3u);

    // Again, through the fleet: nothing new.
    const std::string list = dir.Path() + "/fleet.txt";
    WriteAll(list, "127.0.0.1 " + std::to_string(sim.ModbusPort()) + " " +
                       std::to_string(sim.FtpPort()) + "\n");
    r = Krvo({"fleet", list, "--data-dir", data, "--pace-ms", "0", "--db", db.Url}, db);
    ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_EQ(Count(db, count), 1500);

    // A grown file adds its new records only.
    const std::string last =
        root + "/DataLog/Group1/" + FolderNames(root + "/DataLog/Group1").back();
    AppendAll(last, DatRecord({100, 200, 300}, {26, 1, 4, 23, 58, 0}));
    AppendAll(last, DatRecord({101, 201, 301}, {26, 1, 4, 23, 59, 0}));
    r = sync(sim);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(Count(db, count), 1506);
    ExpectSameAsShown(db, local, "Panel A", keys);

    // A file rewritten shorter, with other bytes and one record of no real
    // date: its rows are replaced, the bad record counted.
    const std::string first = root + "/DataLog/Group2/" + FolderNames(root + "/DataLog/Group2")[0];
    std::string bytes = ReadAll(first).substr(0, 3 * 18);
    bytes[0] = static_cast<char>(bytes[0] + 1);
    bytes[18 + 12 + 1] = 13;  // month 13
    WriteAll(first, bytes);
    r = sync(sim);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(DatabaseLine(r.Out).find("\t1 records without a valid time"), std::string::npos)
        << r.Out;
    ExpectSameAsShown(db, local, "Panel A", keys);
    before = Count(db, count);
    EXPECT_EQ(Count(db,
                    "SELECT count(*) FROM (SELECT DISTINCT file_id, time, key_id FROM "
                    "log_value) d"),
              before);
  }
  // The meter logs other keys in group 1: the old rows stay, a second generation starts.
  const long group2 = Count(db, "SELECT count(*) FROM log_value WHERE group_no = 2");
  {
    SimProcess sim(Meter(root, "1:900:1,2,4"));
    const ProcessResult r = sync(sim);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    keys[0] = {1, 2, 4};
    ExpectSameAsShown(db, local, "Panel A", keys);
    EXPECT_EQ(Rows(db, "SELECT generation FROM key_generation WHERE group_no = 1 ORDER BY 1"),
              (std::vector<std::string>{"1", "2"}));
    // Key 3 is the old generation's only: its 302 records are still there.
    EXPECT_EQ(Count(db, "SELECT count(*) FROM log_value WHERE group_no = 1 AND key_id = 3"), 302);
    // The sim wrote group 2 anew with the same keys: its short file was
    // replaced whole again, nothing doubled.
    EXPECT_LT(group2, 600);
    EXPECT_EQ(Count(db, "SELECT count(*) FROM log_value WHERE group_no = 2"), 600);
  }
}

// A device of many files; a kill during its load, then two feeds at once to
// complete it: every record once.
void KillAndRace(const Backend& db) {
  TempDir dir;
  const std::string root = dir.Path() + "/meter", data = dir.Path() + "/data";
  {
    SimProcess sim(Meter(root, "1:60:1,2,3"));
    ASSERT_EQ(Krvo(MeterCommand("download", sim, data), db).ExitCode, 0);
  }
  const std::string group1 = data + "/Panel A/DataLog/Group1/";
  const std::string day = ReadAll(group1 + FolderNames(group1)[0]);
  // Copies of the first day file, each moved to a day of its own.
  const int kFiles = 1000;
  for (int i = 0; i < kFiles; ++i) {
    std::string copy = day;
    for (size_t at = 12; at + 6 <= copy.size(); at += 18) {
      copy[at] = static_cast<char>(27 + i / 336);
      copy[at + 1] = static_cast<char>(1 + i / 28 % 12);
      copy[at + 2] = static_cast<char>(1 + i % 28);
    }
    WriteAll(group1 + "x" + std::to_string(10000 + i) + ".dat", copy);
  }
  long values = 0;
  for (const std::string& name : FolderNames(group1))
    values += static_cast<long>(fs::file_size(group1 + name) / 18) * 3;
  const long total = static_cast<long>(FolderNames(group1).size() +
                                       FolderNames(data + "/Panel A/DataLog/Group2").size());
  // A second copy of the folder elsewhere: the same device to a second feeder.
  const std::string data2 = dir.Path() + "/data2";
  fs::create_directories(data2);
  fs::copy(data + "/Panel A", data2 + "/Panel A", fs::copy_options::recursive);

  const std::string files = "SELECT count(*) FROM log_file";
  auto exportArgs = [&](const std::string& base) {
    std::vector<std::string> a = {
        KrvoPath(), "export", base + "/Panel A/DataLog", "--data-dir", base, "--db", db.Url};
    return a;
  };
  std::vector<std::string> env = {"LC_ALL=C", "KRVO_DEBUG=0"};
  env.insert(env.end(), db.Env.begin(), db.Env.end());
  ASSERT_EQ(Krvo({"db", db.Url, "--init"}, db).ExitCode, 0);
  const pid_t pid = StartProcess(exportArgs(data), env);
  long loaded = 0;
  while (!ProcessEnded(pid) && (loaded = Count(db, files)) <= 0) {
  }
  ASSERT_FALSE(ProcessEnded(pid)) << "the load ended before it could be killed";
  KillProcess(pid);
  loaded = Count(db, files);
  EXPECT_GT(loaded, 0);
  EXPECT_LT(loaded, total);
  EXPECT_LT(Count(db, "SELECT count(*) FROM log_value WHERE group_no = 1"), values);

  ProcessResult a, b;
  std::thread one([&] { a = RunProcess(exportArgs(data), env); });
  std::thread two([&] { b = RunProcess(exportArgs(data2), env); });
  one.join();
  two.join();
  ASSERT_EQ(a.ExitCode, 0) << a.Err;
  ASSERT_EQ(b.ExitCode, 0) << b.Err;
  EXPECT_EQ(Count(db, "SELECT count(*) FROM log_value WHERE group_no = 1"), values);
  EXPECT_EQ(Count(db,
                  "SELECT count(*) FROM (SELECT DISTINCT file_id, time, key_id FROM "
                  "log_value WHERE group_no = 1) d"),
            values);
  EXPECT_EQ(Count(db, files), total);
}

Backend Sqlite(const std::string& path) {
  return {"sqlite:" + path, {}, [path](const std::string& sql) {
            return RunProcess(
                {"/usr/bin/python3", TestSourceDir() + "/support/sqlite_query.py", path, sql});
          }};
}

Backend Postgres(const PostgresServer& pg) {
  return {pg.Url(), {"PGPASSWORD=" + PostgresServer::Password()}, [&pg](const std::string& sql) {
            return pg.Psql(sql);
          }};
}

}  // namespace

TEST(CliDatabase, SqliteHoldsEachRecordOnceThroughGrowthRewritesAndKeyChanges) {
  TempDir dir;
  FeedAndCheck(Sqlite(dir.Path() + "/logs.db"));
}

TEST(CliDatabase, PostgresHoldsEachRecordOnceThroughGrowthRewritesAndKeyChanges) {
  PostgresServer pg;
  FeedAndCheck(Postgres(pg));
}

TEST(CliDatabase, AKilledLoadIsCompletedByTheNextFeedsWithoutDuplicates) {
  TempDir dir;
  KillAndRace(Sqlite(dir.Path() + "/logs.db"));
  PostgresServer pg;
  KillAndRace(Postgres(pg));
}

TEST(CliDatabase, AnUnreachableDatabaseKeepsTheLocalWorkAndCatchesUpLater) {
  PostgresServer pg;
  TempDir dir;
  const std::string root = dir.Path() + "/meter", data = dir.Path() + "/data";
  const std::string workbook = data + "/Panel A/DataLog/template.xlsx";
  SimProcess sim(Meter(root, "1:900:1,2,3"));
  auto download = [&](const Backend& db) {
    std::vector<std::string> a = MeterCommand("download", sim, data);
    a.insert(a.end(), {"--db", db.Url});
    return Krvo(a, db);
  };

  Backend wrong = Postgres(pg);
  wrong.Env = {"PGPASSWORD=not-the-password"};
  ProcessResult r = download(wrong);
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("password authentication failed for user \"krvo\""), std::string::npos)
      << r.Err;
  EXPECT_TRUE(fs::exists(workbook));
  EXPECT_EQ(FolderNames(data + "/Panel A/DataLog/Group1").size(), 4u);

  Backend inUrl = Postgres(pg);
  inUrl.Url = "postgresql://krvo:" + PostgresServer::Password() +
              "@127.0.0.1:" + std::to_string(pg.Port()) + "/krvo";
  r = download(inUrl);
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("~/.pgpass or PGPASSWORD"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Err.find(PostgresServer::Password()), std::string::npos) << r.Err;

  r = download(Sqlite(dir.Path() + "/no/such/folder/logs.db"));
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("Database not updated: SQLite: cannot open"), std::string::npos) << r.Err;

  // A database of a later schema is left as it is.
  const std::string later = dir.Path() + "/later.db";
  ASSERT_EQ(RunProcess({"/usr/bin/python3", "-c",
                        "import sqlite3, sys; c = sqlite3.connect(sys.argv[1]); "
                        "c.execute('CREATE TABLE krvo_schema (version integer)'); "
                        "c.execute('INSERT INTO krvo_schema VALUES (2)'); c.commit()",
                        later})
                .ExitCode,
            0);
  r = download(Sqlite(later));
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("schema version 2; this program knows version 1 only"), std::string::npos)
      << r.Err;
  EXPECT_EQ(Rows(Sqlite(later), "SELECT name FROM sqlite_master"),
            std::vector<std::string>{"krvo_schema"});

  // Reached at last: everything the folder holds goes in.
  const Backend right = Postgres(pg);
  r = download(right);
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(Count(right, "SELECT count(*) FROM log_value"), 1500);
  EXPECT_EQ(Krvo({"db", right.Url}, right).Out,
            "device\t1\nkey_generation\t2\nlog_file\t11\nlog_value\t1500\n");
}
