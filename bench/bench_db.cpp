// Loading a year of logs into the database: a meter of 10 groups x 100 day
// files (720 records a day, 720,000 in all, KRVO_BENCH_KEYS keys each, 2 by
// default) synced once, then fed by krvo sync --db into SQLite and into a
// PostgreSQL server of the bench's own, against the tools' own bulk loads of
// the same rows from CSV into the same tables: sqlite3's .import and psql's
// \copy. Then a re-sync with nothing new. Ratios: time over the peer's,
// the best of KRVO_BENCH_ROUNDS (1) rounds of each.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/PostgresServer.h"
#include "tests/support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;

double Timed(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
  const auto t0 = Clock::now();
  const ProcessResult r = RunProcess(argv, env);
  const double s = std::chrono::duration<double>(Clock::now() - t0).count();
  if (r.ExitCode != 0) {
    std::fprintf(stderr, "%s failed: %s%s\n", argv[0].c_str(), r.Out.c_str(), r.Err.c_str());
    std::exit(1);
  }
  return s;
}

long ChildPeakMb() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return u.ru_maxrss / 1024;
}

}  // namespace

int main() {
  const char* keysEnv = std::getenv("KRVO_BENCH_KEYS");
  const int keys = keysEnv ? std::atoi(keysEnv) : 2;
  std::string ids;
  for (int k = 1; k <= keys; ++k) {
    if (k > 1) ids += ',';
    ids += std::to_string(k);
  }
  TempDir dir;
  const std::string root = dir.Path() + "/meter", data = dir.Path() + "/data";
  std::vector<std::string> args = {"--data-root", root,          "--records",
                                   "72000",       "--log-start", "2026-01-01"};
  for (int g = 1; g <= 10; ++g)
    args.insert(args.end(), {"--group", std::to_string(g) + ":120:" + ids});
  SimProcess sim(args);
  std::vector<std::string> sync = {KrvoPath(),     "sync",
                                   "--host",       "127.0.0.1",
                                   "--port",       std::to_string(sim.ModbusPort()),
                                   "--ftp-port",   std::to_string(sim.FtpPort()),
                                   "--data-dir",   data,
                                   "--pace-ms",    "0",
                                   "--no-workbook"};
  Timed(sync);
  // The same command with nothing to fetch: its time beyond this is the feed's.
  const double bare = Timed(sync);
  auto feed = sync;
  feed.insert(feed.end(), {"--db", ""});
  const long rssBefore = ChildPeakMb();

  // Rounds of each load and its peer in turn, the best of each kept: the
  // machine's other work comes and goes.
  const char* roundsEnv = std::getenv("KRVO_BENCH_ROUNDS");
  const int rounds = roundsEnv ? std::max(1, std::atoi(roundsEnv)) : 1;
  double krvoSqlite = 1e300, import = 1e300, krvoPg = 1e300, copy = 1e300;
  double resyncSqlite = 0, resyncPg = 0;
  long rss = 0;

  // SQLite: the rows krvo stored, as CSV, into the same tables made empty.
  const std::string a = dir.Path() + "/krvo.db", b = dir.Path() + "/import.db",
                    csv = dir.Path() + "/values.csv";
  auto removeDb = [](const std::string& path) {
    for (const char* end : {"", "-wal", "-shm"}) std::remove((path + end).c_str());
  };
  feed.back() = "sqlite:" + a;
  for (int r = 0; r < rounds; ++r) {
    removeDb(a);
    krvoSqlite = std::min(krvoSqlite, Timed(feed) - bare);
    rss = ChildPeakMb();
    if (r == 0) {
      resyncSqlite = Timed(feed) - bare;
      const ProcessResult dump = RunProcess(
          {"/bin/sh", "-c",
           "sqlite3 -csv '" + a +
               "' 'SELECT device_id, group_no, time, key_id, value, file_id FROM log_value' > '" +
               csv + "'"});
      if (dump.ExitCode != 0) return 1;
    }
    removeDb(b);
    Timed({KrvoPath(), "db", "sqlite:" + b, "--init"});
    import = std::min(
        import, Timed({"/usr/bin/sqlite3", b, ".mode csv", ".import '" + csv + "' log_value"}));
  }

  // PostgreSQL: the same, with psql's \copy into the emptied table.
  PostgresServer pg;
  const std::vector<std::string> pgEnv = {"PGPASSWORD=" + PostgresServer::Password()};
  feed.back() = pg.Url();
  const std::string empty =
      "TRUNCATE device, key_generation, group_key, log_file, log_value RESTART IDENTITY";
  for (int r = 0; r < rounds; ++r) {
    if (r > 0 && pg.Psql(empty).ExitCode != 0) return 1;
    krvoPg = std::min(krvoPg, Timed(feed, pgEnv) - bare);
    if (r == 0) {
      resyncPg = Timed(feed, pgEnv) - bare;
      if (pg.Psql("\\copy log_value(device_id, group_no, time, key_id, value, file_id) TO '" + csv +
                  "' CSV")
              .ExitCode != 0)
        return 1;
    }
    if (pg.Psql("TRUNCATE log_value").ExitCode != 0) return 1;
    copy = std::min(copy, Timed({"/usr/bin/psql", "-X", "-q", "-d", pg.Url(), "-c",
                                 "\\copy log_value(device_id, group_no, time, key_id, value, "
                                 "file_id) FROM '" +
                                     csv + "' CSV"},
                                pgEnv));
  }
  const ProcessResult rows = pg.Psql("SELECT count(*) FROM log_value");

  std::printf("keys_per_group: %d\n", keys);
  std::printf("value_rows: %s", rows.Out.c_str());
  std::printf("sync_without_db_s: %.2f\n", bare);
  std::printf("krvo_sqlite_s: %.2f\n", krvoSqlite);
  std::printf("sqlite_import_s: %.2f\n", import);
  std::printf("krvo_postgres_s: %.2f\n", krvoPg);
  std::printf("psql_copy_s: %.2f\n", copy);
  std::printf("krvo_peak_rss_mb: %ld (before the feed: %ld)\n", rss, rssBefore);
  std::printf("resync_vs_first_load_sqlite: %.3f\n", resyncSqlite / krvoSqlite);
  std::printf("resync_vs_first_load_postgres: %.3f\n", resyncPg / krvoPg);
  std::printf("ratio_krvo_vs_sqlite_import: %.2f\n", krvoSqlite / import);
  std::printf("ratio_krvo_vs_psql_copy: %.2f\n", krvoPg / copy);
  return 0;
}
