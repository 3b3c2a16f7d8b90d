#pragma once
// A database that keeps the logs' records beside the .dat files, so that
// other tools (dashboards, SQL, scripts) read them from one place. Two
// kinds: a SQLite file ("sqlite:PATH") and a PostgreSQL server
// ("postgresql://..."). Both hold the same tables; the feed (LogFeed.h) says
// what goes in, a backend only how.
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "app/db/Schema.h"

// Anything the database refused or could not do, with the server's text.
class EDatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the database knows of one .dat file it loaded.
struct TLoadedFile {
  int64_t Id = 0;
  uint64_t Size = 0;     // bytes of the file when it was loaded
  uint64_t Records = 0;  // whole records in those bytes
  uint32_t Crc = 0;      // CRC-32 of those bytes
  int64_t MtimeNs = 0;   // its modification time then
  uint64_t Values = 0;   // value rows stored for it
  uint64_t Untimed = 0;  // records left out for a time that can't be made
};

// One logged value as stored.
struct TValueRow {
  int64_t Device;
  int Group;            // 1-10
  const char* Time;     // "YYYY-MM-DD HH:MM:SS"
  int64_t UnixSeconds;  // the same wall-clock time as seconds since 1970-01-01 00:00
  int KeyId;
  double Value;
  int64_t File;
};

class CLogDatabase {
 public:
  virtual ~CLogDatabase() = default;

  // Creates what is missing of the schema; refuses one of a later version.
  void EnsureSchema();

  // A transaction that locks out every other writer of the same device (for
  // SQLite, of the whole file) until Commit or Rollback.
  virtual void Begin() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;

  // The device's id, created on first use; host and port are recorded when
  // given.
  virtual int64_t Device(const std::string& name, const std::optional<std::string>& host,
                         int port) = 0;
  // Inside a transaction: waits for, then holds, the device's row, so that
  // two feeds of one device take turns file by file.
  virtual void LockDevice(int64_t device) = 0;

  // The latest key generation of a device's group (1-10): its id and key
  // ids in slot order; false when the group has none yet.
  virtual bool LatestGeneration(int64_t device, int group, int64_t& id, std::vector<int>& keys) = 0;
  // A new generation after the latest, with its keys and their captions.
  virtual int64_t AddGeneration(int64_t device, int group, const std::vector<int>& keys,
                                const std::vector<std::string>& captions) = 0;

  // Every file loaded under a generation, by name (outside a transaction: a
  // first look that the feed confirms with LoadedFile inside one).
  virtual std::vector<std::pair<std::string, TLoadedFile>> LoadedFiles(int64_t generation) = 0;
  virtual std::optional<TLoadedFile> LoadedFile(int64_t generation, const std::string& name) = 0;
  // Records the file's entry (a new one when entry.Id is 0); returns its id.
  virtual int64_t SaveLoadedFile(int64_t generation, const std::string& name,
                                 const TLoadedFile& entry) = 0;
  virtual void DeleteFileValues(int64_t file) = 0;

  // Bulk loading: rows go in between BeginValues and EndValues.
  virtual void BeginValues() = 0;
  virtual void AddValue(const TValueRow& row) = 0;
  virtual void EndValues() = 0;

  // The rows of each table, for `krvo db`.
  std::vector<std::pair<std::string, int64_t>> Totals();

 protected:
  virtual TSqlDialect Dialect() const = 0;
  // Keeps another session's schema creation out until the transaction ends.
  virtual void LockSchema() {}
  // Runs statements that return nothing.
  virtual void Execute(const std::string& sql) = 0;
  // The first column of the first row as a number; 0 for none or NULL.
  virtual int64_t QueryNumber(const std::string& sql) = 0;
};

// Runs work in a transaction: committed when it returns, rolled back when it throws.
template <typename Work>
auto InTransaction(CLogDatabase& db, Work work) {
  db.Begin();
  try {
    if constexpr (std::is_void_v<decltype(work())>) {
      work();
      db.Commit();
    } else {
      auto result = work();
      db.Commit();
      return result;
    }
  } catch (...) {
    db.Rollback();
    throw;
  }
}

// Opens the database a URL names: "sqlite:PATH" (the file is created on
// first use) or "postgresql://..." / "postgres://..." (libpq's URI; the
// password comes from PGPASSWORD or ~/.pgpass). Throws EDatabaseError for a
// URL of neither kind, a password in the URL, or a database that can't be
// opened or reached.
std::unique_ptr<CLogDatabase> OpenLogDatabase(const std::string& url);

// Backends, for OpenLogDatabase.
std::unique_ptr<CLogDatabase> OpenSqliteDatabase(const std::string& path);
std::unique_ptr<CLogDatabase> OpenPostgresDatabase(const std::string& uri);
