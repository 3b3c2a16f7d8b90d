// The logs' database in a SQLite file. WAL, so that a dashboard reads while
// a sync writes; one writer at a time, the others wait their turn.
#include <sqlite3.h>

#include <cstdio>
#include <utility>
#include <vector>

#include "app/db/LogDatabase.h"
#include "app/db/Schema.h"

namespace {

// Long enough for another feed's largest file to go in.
constexpr int kBusyMs = 10 * 60 * 1000;

class CStatement {
 public:
  CStatement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &st_, nullptr) != SQLITE_OK)
      throw EDatabaseError(std::string("SQLite: ") + sqlite3_errmsg(db));
  }
  ~CStatement() { sqlite3_finalize(st_); }
  CStatement(const CStatement&) = delete;
  CStatement& operator=(const CStatement&) = delete;

  CStatement& Bind(int i, int64_t v) {
    sqlite3_bind_int64(st_, i, v);
    return *this;
  }
  CStatement& Bind(int i, double v) {
    sqlite3_bind_double(st_, i, v);
    return *this;
  }
  CStatement& Bind(int i, const std::string& v) {
    sqlite3_bind_text(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  CStatement& BindStatic(int i, const char* v) {
    sqlite3_bind_text(st_, i, v, -1, SQLITE_STATIC);
    return *this;
  }
  CStatement& BindNull(int i) {
    sqlite3_bind_null(st_, i);
    return *this;
  }
  // True while a row is there to read.
  bool Step() {
    const int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw EDatabaseError(std::string("SQLite: ") + sqlite3_errmsg(db_));
  }
  void Reset() {
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
  }
  void Rewind() { sqlite3_reset(st_); }
  int64_t Int(int col) const { return sqlite3_column_int64(st_, col); }
  std::string Text(int col) const {
    const unsigned char* t = sqlite3_column_text(st_, col);
    return t ? reinterpret_cast<const char*>(t) : "";
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* st_ = nullptr;
};

TLoadedFile FileFrom(const CStatement& s, int first) {
  TLoadedFile f;
  f.Id = s.Int(first);
  f.Size = static_cast<uint64_t>(s.Int(first + 1));
  f.Records = static_cast<uint64_t>(s.Int(first + 2));
  f.Crc = static_cast<uint32_t>(s.Int(first + 3));
  f.MtimeNs = s.Int(first + 4);
  f.Values = static_cast<uint64_t>(s.Int(first + 5));
  f.Untimed = static_cast<uint64_t>(s.Int(first + 6));
  return f;
}

class CSqliteDatabase : public CLogDatabase {
 public:
  explicit CSqliteDatabase(const std::string& path) {
    // One thread uses the connection: no locking inside SQLite for it.
    const int rc =
        sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      const std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
      sqlite3_close(db_);
      db_ = nullptr;
      throw EDatabaseError("SQLite: cannot open " + path + ": " + why);
    }
    sqlite3_busy_timeout(db_, kBusyMs);
    // WAL: readers never block the writer; NORMAL: a killed process loses
    // nothing that was committed.
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=NORMAL");
    // The indexes' pages stay in memory across files instead of going back
    // and forth to the file; a bound, not a share of the data.
    Exec("PRAGMA cache_size=-65536");
  }
  ~CSqliteDatabase() override { sqlite3_close_v2(db_); }

  // IMMEDIATE takes the write lock now: two feeds can't both read a file's
  // entry and then both load it.
  void Begin() override { Exec("BEGIN IMMEDIATE"); }
  void Commit() override { Exec("COMMIT"); }
  void Rollback() override { sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr); }

  int64_t Device(const std::string& name, const std::optional<std::string>& host,
                 int port) override {
    CStatement up(db_,
                  "INSERT INTO device(name, host, port, last_seen) VALUES (?1, ?2, ?3, "
                  "strftime('%Y-%m-%d %H:%M:%S', 'now')) ON CONFLICT(name) DO UPDATE SET "
                  "host = coalesce(excluded.host, host), port = coalesce(excluded.port, port), "
                  "last_seen = excluded.last_seen");
    up.Bind(1, name);
    if (host) {
      up.Bind(2, *host).Bind(3, static_cast<int64_t>(port));
    } else {
      up.BindNull(2).BindNull(3);
    }
    up.Step();
    CStatement id(db_, "SELECT id FROM device WHERE name = ?1");
    id.Bind(1, name);
    if (!id.Step()) throw EDatabaseError("SQLite: the device \"" + name + "\" was not recorded");
    return id.Int(0);
  }

  void LockDevice(int64_t) override {}  // BEGIN IMMEDIATE locked the file

  bool LatestGeneration(int64_t device, int group, int64_t& id, std::vector<int>& keys) override {
    CStatement g(db_,
                 "SELECT id FROM key_generation WHERE device_id = ?1 AND group_no = ?2 "
                 "ORDER BY generation DESC LIMIT 1");
    g.Bind(1, device).Bind(2, static_cast<int64_t>(group));
    if (!g.Step()) return false;
    id = g.Int(0);
    keys.clear();
    CStatement k(db_, "SELECT key_id FROM group_key WHERE generation_id = ?1 ORDER BY slot");
    k.Bind(1, id);
    while (k.Step()) keys.push_back(static_cast<int>(k.Int(0)));
    return true;
  }

  int64_t AddGeneration(int64_t device, int group, const std::vector<int>& keys,
                        const std::vector<std::string>& captions) override {
    CStatement g(db_,
                 "INSERT INTO key_generation(device_id, group_no, generation, created) "
                 "SELECT ?1, ?2, coalesce(max(generation), 0) + 1, "
                 "strftime('%Y-%m-%d %H:%M:%S', 'now') FROM key_generation "
                 "WHERE device_id = ?1 AND group_no = ?2");
    g.Bind(1, device).Bind(2, static_cast<int64_t>(group));
    g.Step();
    const int64_t id = sqlite3_last_insert_rowid(db_);
    CStatement k(db_,
                 "INSERT INTO group_key(generation_id, slot, key_id, caption) "
                 "VALUES (?1, ?2, ?3, ?4)");
    for (size_t j = 0; j < keys.size(); ++j) {
      k.Bind(1, id).Bind(2, static_cast<int64_t>(j + 1)).Bind(3, static_cast<int64_t>(keys[j]));
      k.Bind(4, captions[j]);
      k.Step();
      k.Reset();
    }
    return id;
  }

  std::vector<std::pair<std::string, TLoadedFile>> LoadedFiles(int64_t generation) override {
    CStatement s(db_, ("SELECT name, " + std::string(kLoadedFileColumns) +
                       " FROM log_file WHERE generation_id = ?1")
                          .c_str());
    s.Bind(1, generation);
    std::vector<std::pair<std::string, TLoadedFile>> files;
    while (s.Step()) files.emplace_back(s.Text(0), FileFrom(s, 1));
    return files;
  }

  std::optional<TLoadedFile> LoadedFile(int64_t generation, const std::string& name) override {
    CStatement s(db_, ("SELECT " + std::string(kLoadedFileColumns) +
                       " FROM log_file WHERE generation_id = ?1 AND name = ?2")
                          .c_str());
    s.Bind(1, generation).Bind(2, name);
    if (!s.Step()) return std::nullopt;
    return FileFrom(s, 0);
  }

  int64_t SaveLoadedFile(int64_t generation, const std::string& name,
                         const TLoadedFile& f) override {
    CStatement s(db_,
                 "INSERT INTO log_file(generation_id, name, size, records, crc32, mtime_ns, "
                 "value_rows, untimed, loaded_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, "
                 "strftime('%Y-%m-%d %H:%M:%S', 'now')) ON CONFLICT(generation_id, name) DO "
                 "UPDATE SET size = excluded.size, records = excluded.records, crc32 = "
                 "excluded.crc32, mtime_ns = excluded.mtime_ns, value_rows = excluded.value_rows, "
                 "untimed = excluded.untimed, loaded_at = excluded.loaded_at");
    s.Bind(1, generation).Bind(2, name).Bind(3, static_cast<int64_t>(f.Size));
    s.Bind(4, static_cast<int64_t>(f.Records)).Bind(5, static_cast<int64_t>(f.Crc));
    s.Bind(6, f.MtimeNs).Bind(7, static_cast<int64_t>(f.Values));
    s.Bind(8, static_cast<int64_t>(f.Untimed));
    s.Step();
    if (f.Id != 0) return f.Id;
    CStatement id(db_, "SELECT id FROM log_file WHERE generation_id = ?1 AND name = ?2");
    id.Bind(1, generation).Bind(2, name);
    if (!id.Step()) throw EDatabaseError("SQLite: the file \"" + name + "\" was not recorded");
    return id.Int(0);
  }

  void DeleteFileValues(int64_t file) override {
    CStatement s(db_, "DELETE FROM log_value WHERE file_id = ?1");
    s.Bind(1, file);
    s.Step();
  }

  // Rows go in many to a statement: a step's fixed cost then falls on many rows.
  void BeginValues() override {
    if (!insertMany_)
      insertMany_ = std::make_unique<CStatement>(db_, InsertSql(kRowsPerInsert).c_str());
    if (!insertOne_) insertOne_ = std::make_unique<CStatement>(db_, InsertSql(1).c_str());
    pending_.clear();
    pending_.reserve(kRowsPerInsert);
  }
  void AddValue(const TValueRow& r) override {
    TPendingRow& p = pending_.emplace_back();
    p.Row = r;
    std::snprintf(p.Time, sizeof p.Time, "%s", r.Time);
    if (pending_.size() == kRowsPerInsert) {
      Insert(*insertMany_, 0, kRowsPerInsert);
      pending_.clear();
    }
  }
  void EndValues() override {
    for (size_t i = 0; i < pending_.size(); ++i) Insert(*insertOne_, i, 1);
    pending_.clear();
  }

 protected:
  TSqlDialect Dialect() const override { return TSqlDialect::Sqlite; }
  void Execute(const std::string& sql) override { Exec(sql.c_str()); }
  int64_t QueryNumber(const std::string& sql) override {
    CStatement s(db_, sql.c_str());
    return s.Step() ? s.Int(0) : 0;  // NULL reads 0
  }

 private:
  void Exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string why = error ? error : sqlite3_errmsg(db_);
      sqlite3_free(error);
      throw EDatabaseError("SQLite: " + why);
    }
  }

  static constexpr size_t kRowsPerInsert = 64;  // 384 parameters
  struct TPendingRow {
    TValueRow Row;
    char Time[24];
  };

  static std::string InsertSql(size_t rows) {
    std::string sql =
        "INSERT INTO log_value(device_id, group_no, time, key_id, value, file_id) VALUES ";
    for (size_t i = 0; i < rows; ++i) sql += i == 0 ? "(?,?,?,?,?,?)" : ",(?,?,?,?,?,?)";
    return sql;
  }

  void Insert(CStatement& s, size_t first, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      const TPendingRow& p = pending_[first + i];
      const int n = static_cast<int>(6 * i);
      s.Bind(n + 1, p.Row.Device).Bind(n + 2, static_cast<int64_t>(p.Row.Group));
      s.BindStatic(n + 3, p.Time).Bind(n + 4, static_cast<int64_t>(p.Row.KeyId));
      s.Bind(n + 5, p.Row.Value).Bind(n + 6, p.Row.File);
    }
    s.Step();
    s.Rewind();  // every parameter is bound anew for the next rows
  }

  sqlite3* db_ = nullptr;
  std::unique_ptr<CStatement> insertMany_, insertOne_;
  std::vector<TPendingRow> pending_;
};

}  // namespace

std::unique_ptr<CLogDatabase> OpenSqliteDatabase(const std::string& path) {
  return std::make_unique<CSqliteDatabase>(path);
}
