// The logs' database on a PostgreSQL server, through libpq. Values go in
// by COPY, the server's bulk path; everything else by parameterised
// statements, so no name or text of a meter ever becomes SQL.
#include <libpq-fe.h>

#include <cstring>
#include <memory>
#include <utility>

#include "app/db/LogDatabase.h"
#include "app/db/Schema.h"

namespace {

// One key for every feed's schema creation: CREATE ... IF NOT EXISTS is not
// safe against another session doing the same at that moment.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7294151403)";
// Rows waiting for their COPY, at most about this many bytes of them.
constexpr size_t kCopyChunk = 16 << 20;

std::string Trimmed(const char* text) {
  std::string s = text ? text : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

struct ResultFree {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

// Refuses a URL that carries a password: it would be seen in the process
// list and kept in shell histories and logs.
void RefusePassword(const std::string& uri) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(uri.c_str(), &error);
  if (options == nullptr) {
    const std::string why = Trimmed(error ? error : "out of memory");
    PQfreemem(error);
    throw EDatabaseError("PostgreSQL: " + why);
  }
  bool password = false;
  for (PQconninfoOption* o = options; o->keyword != nullptr; ++o)
    if (std::string(o->keyword) == "password" && o->val != nullptr && *o->val != '\0')
      password = true;
  PQconninfoFree(options);
  if (password)
    throw EDatabaseError(
        "PostgreSQL: the URL holds a password; put it in ~/.pgpass or PGPASSWORD instead.");
}

TLoadedFile FileFrom(PGresult* r, int row, int first) {
  auto n = [&](int col) { return std::stoll(PQgetvalue(r, row, first + col)); };
  TLoadedFile f;
  f.Id = n(0);
  f.Size = static_cast<uint64_t>(n(1));
  f.Records = static_cast<uint64_t>(n(2));
  f.Crc = static_cast<uint32_t>(n(3));
  f.MtimeNs = n(4);
  f.Values = static_cast<uint64_t>(n(5));
  f.Untimed = static_cast<uint64_t>(n(6));
  return f;
}

class CPostgresDatabase : public CLogDatabase {
 public:
  explicit CPostgresDatabase(const std::string& uri) {
    RefusePassword(uri);
    // Ours first, so that the URL's own settings win.
    const char* keys[] = {"connect_timeout", "fallback_application_name", "dbname", nullptr};
    const char* values[] = {"10", "krvo", uri.c_str(), nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    if (conn_ == nullptr) throw EDatabaseError("PostgreSQL: out of memory");
    if (PQstatus(conn_) != CONNECTION_OK) {
      const std::string why = Trimmed(PQerrorMessage(conn_));
      PQfinish(conn_);
      conn_ = nullptr;
      throw EDatabaseError("PostgreSQL: " + why);
    }
    Exec("SET client_min_messages = warning");
  }
  ~CPostgresDatabase() override { PQfinish(conn_); }

  void Begin() override { Exec("BEGIN"); }
  void Commit() override {
    SendRows();
    Exec("COMMIT");
  }
  void Rollback() override {
    rows_.clear();
    if (copying_) {
      // A COPY cut short must end before the transaction can.
      PQputCopyEnd(conn_, "cancelled");
      while (PGresult* r = PQgetResult(conn_)) PQclear(r);
      copying_ = false;
    }
    Result(PQexec(conn_, "ROLLBACK"));
  }

  int64_t Device(const std::string& name, const std::optional<std::string>& host,
                 int port) override {
    const std::string portText = std::to_string(port);
    Result r = Query(
        "INSERT INTO device(name, host, port, last_seen) VALUES ($1, $2, $3::integer, now()) "
        "ON CONFLICT (name) DO UPDATE SET host = coalesce(EXCLUDED.host, device.host), "
        "port = coalesce(EXCLUDED.port, device.port), last_seen = EXCLUDED.last_seen "
        "RETURNING id",
        {name.c_str(), host ? host->c_str() : nullptr, host ? portText.c_str() : nullptr});
    return std::stoll(PQgetvalue(r.get(), 0, 0));
  }

  void LockDevice(int64_t device) override {
    const std::string id = std::to_string(device);
    Query("SELECT 1 FROM device WHERE id = $1::bigint FOR UPDATE", {id.c_str()});
  }

  bool LatestGeneration(int64_t device, int group, int64_t& id, std::vector<int>& keys) override {
    const std::string d = std::to_string(device), g = std::to_string(group);
    Result r = Query(
        "SELECT id FROM key_generation WHERE device_id = $1::bigint AND group_no = $2::smallint "
        "ORDER BY generation DESC LIMIT 1",
        {d.c_str(), g.c_str()});
    if (PQntuples(r.get()) == 0) return false;
    id = std::stoll(PQgetvalue(r.get(), 0, 0));
    const std::string idText = std::to_string(id);
    Result k = Query("SELECT key_id FROM group_key WHERE generation_id = $1::bigint ORDER BY slot",
                     {idText.c_str()});
    keys.clear();
    for (int i = 0; i < PQntuples(k.get()); ++i)
      keys.push_back(std::stoi(PQgetvalue(k.get(), i, 0)));
    return true;
  }

  int64_t AddGeneration(int64_t device, int group, const std::vector<int>& keys,
                        const std::vector<std::string>& captions) override {
    const std::string d = std::to_string(device), g = std::to_string(group);
    Result r = Query(
        "INSERT INTO key_generation(device_id, group_no, generation, created) "
        "SELECT $1::bigint, $2::smallint, coalesce(max(generation), 0) + 1, now() "
        "FROM key_generation WHERE device_id = $1::bigint AND group_no = $2::smallint "
        "RETURNING id",
        {d.c_str(), g.c_str()});
    const std::string id = PQgetvalue(r.get(), 0, 0);
    for (size_t j = 0; j < keys.size(); ++j) {
      const std::string slot = std::to_string(j + 1), key = std::to_string(keys[j]);
      Query(
          "INSERT INTO group_key(generation_id, slot, key_id, caption) "
          "VALUES ($1::bigint, $2::smallint, $3::integer, $4)",
          {id.c_str(), slot.c_str(), key.c_str(), captions[j].c_str()});
    }
    return std::stoll(id);
  }

  std::vector<std::pair<std::string, TLoadedFile>> LoadedFiles(int64_t generation) override {
    const std::string g = std::to_string(generation);
    Result r = Query("SELECT name, " + std::string(kLoadedFileColumns) +
                         " FROM log_file WHERE generation_id = $1::bigint",
                     {g.c_str()});
    std::vector<std::pair<std::string, TLoadedFile>> files;
    for (int i = 0; i < PQntuples(r.get()); ++i)
      files.emplace_back(PQgetvalue(r.get(), i, 0), FileFrom(r.get(), i, 1));
    return files;
  }

  std::optional<TLoadedFile> LoadedFile(int64_t generation, const std::string& name) override {
    const std::string g = std::to_string(generation);
    Result r = Query("SELECT " + std::string(kLoadedFileColumns) +
                         " FROM log_file WHERE generation_id = $1::bigint AND name = $2",
                     {g.c_str(), name.c_str()});
    if (PQntuples(r.get()) == 0) return std::nullopt;
    return FileFrom(r.get(), 0, 0);
  }

  int64_t SaveLoadedFile(int64_t generation, const std::string& name,
                         const TLoadedFile& f) override {
    const std::string g = std::to_string(generation), size = std::to_string(f.Size),
                      records = std::to_string(f.Records), crc = std::to_string(f.Crc),
                      mtime = std::to_string(f.MtimeNs), values = std::to_string(f.Values),
                      untimed = std::to_string(f.Untimed);
    Result r = Query(
        "INSERT INTO log_file(generation_id, name, size, records, crc32, mtime_ns, value_rows, "
        "untimed, loaded_at) VALUES ($1::bigint, $2, $3::bigint, $4::bigint, $5::bigint, "
        "$6::bigint, $7::bigint, $8::bigint, now()) ON CONFLICT (generation_id, name) DO UPDATE "
        "SET size = EXCLUDED.size, records = EXCLUDED.records, crc32 = EXCLUDED.crc32, "
        "mtime_ns = EXCLUDED.mtime_ns, value_rows = EXCLUDED.value_rows, "
        "untimed = EXCLUDED.untimed, loaded_at = EXCLUDED.loaded_at RETURNING id",
        {g.c_str(), name.c_str(), size.c_str(), records.c_str(), crc.c_str(), mtime.c_str(),
         values.c_str(), untimed.c_str()});
    return std::stoll(PQgetvalue(r.get(), 0, 0));
  }

  void DeleteFileValues(int64_t file) override {
    const std::string id = std::to_string(file);
    Query("DELETE FROM log_value WHERE file_id = $1::bigint", {id.c_str()});
  }

  // Rows wait in COPY's binary form (no text to make here, none to parse on
  // the server) and go in by one COPY for many files: at the commit, or when
  // they fill a piece. A COPY per file would cost more than its rows.
  void BeginValues() override {
    if (!rows_.empty()) return;
    rows_.assign("PGCOPY\n\377\r\n\0", 11);
    Put<int32_t>(0);  // flags
    Put<int32_t>(0);  // header extension
  }

  void AddValue(const TValueRow& row) override {
    Put<int16_t>(6);
    Field<int64_t>(row.Device);
    Field<int16_t>(static_cast<int16_t>(row.Group));
    Field<int64_t>((row.UnixSeconds - kPostgresEpoch) * 1000000);  // microseconds
    Field<int32_t>(row.KeyId);
    Field<double>(row.Value);
    Field<int64_t>(row.File);
    if (rows_.size() >= kCopyChunk) SendRows();
  }

  void EndValues() override {}

 protected:
  TSqlDialect Dialect() const override { return TSqlDialect::Postgres; }
  void LockSchema() override { Exec(kSchemaLock); }
  void Execute(const std::string& sql) override { Exec(sql.c_str()); }
  int64_t QueryNumber(const std::string& sql) override {
    Result r = Exec(sql.c_str());
    if (PQntuples(r.get()) == 0 || PQgetisnull(r.get(), 0, 0)) return 0;
    return std::stoll(PQgetvalue(r.get(), 0, 0));
  }

 private:
  // 2000-01-01 00:00, where the server's timestamps count from.
  static constexpr int64_t kPostgresEpoch = 946684800;

  // Network byte order, as the binary COPY wants every number.
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the bytes are reversed for it");
  template <typename T>
  void Put(T v) {
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &v, sizeof v);
    for (size_t i = sizeof(T); i-- > 0;) rows_ += static_cast<char>(bytes[i]);
  }
  template <typename T>
  void Field(T v) {
    Put<int32_t>(sizeof(T));
    Put<T>(v);
  }

  std::string ConnectionError() const { return "PostgreSQL: " + Trimmed(PQerrorMessage(conn_)); }

  [[noreturn]] void Fail(PGresult* r) const {
    const char* text = r ? PQresultErrorMessage(r) : nullptr;
    if (text == nullptr || *text == '\0') throw EDatabaseError(ConnectionError());
    throw EDatabaseError("PostgreSQL: " + Trimmed(text));
  }

  Result Check(PGresult* raw) const {
    Result r(raw);
    const ExecStatusType s = PQresultStatus(r.get());
    if (r == nullptr || (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK)) Fail(r.get());
    return r;
  }

  Result Exec(const char* sql) { return Check(PQexec(conn_, sql)); }

  Result Query(const std::string& sql, std::initializer_list<const char*> params) {
    std::vector<const char*> v(params);
    return Check(PQexecParams(conn_, sql.c_str(), static_cast<int>(v.size()), nullptr, v.data(),
                              nullptr, nullptr, 0));
  }

  // The rows waiting, in one COPY.
  void SendRows() {
    if (rows_.empty()) return;
    Put<int16_t>(-1);  // the end of the data
    Result start(PQexec(conn_,
                        "COPY log_value(device_id, group_no, time, key_id, value, "
                        "file_id) FROM STDIN (FORMAT binary)"));
    if (PQresultStatus(start.get()) != PGRES_COPY_IN) Fail(start.get());
    copying_ = true;
    const bool sent = PQputCopyData(conn_, rows_.data(), static_cast<int>(rows_.size())) == 1 &&
                      PQputCopyEnd(conn_, nullptr) == 1;
    rows_.clear();
    if (!sent) throw EDatabaseError(ConnectionError());
    copying_ = false;
    Result r(PQgetResult(conn_));
    const bool ok = PQresultStatus(r.get()) == PGRES_COMMAND_OK;
    const std::string why = ok ? "" : Trimmed(PQresultErrorMessage(r.get()));
    while (PGresult* more = PQgetResult(conn_)) PQclear(more);
    if (!ok) throw EDatabaseError("PostgreSQL: " + why);
  }

  PGconn* conn_ = nullptr;
  std::string rows_;
  bool copying_ = false;
};

}  // namespace

std::unique_ptr<CLogDatabase> OpenPostgresDatabase(const std::string& uri) {
  return std::make_unique<CPostgresDatabase>(uri);
}
