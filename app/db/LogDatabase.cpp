#include "app/db/LogDatabase.h"

std::unique_ptr<CLogDatabase> OpenLogDatabase(const std::string& url) {
  if (url.rfind("sqlite:", 0) == 0) {
    const std::string path = url.substr(7);
    if (path.empty()) throw EDatabaseError("The database URL sqlite: names no file.");
    return OpenSqliteDatabase(path);
  }
  if (url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0)
    return OpenPostgresDatabase(url);
  throw EDatabaseError("The database URL \"" + url +
                       "\" is neither sqlite:PATH nor postgresql://...");
}

void CLogDatabase::EnsureSchema() {
  InTransaction(*this, [this] {
    LockSchema();
    Execute(SchemaSql(Dialect()));
    const int64_t version = QueryNumber("SELECT max(version) FROM krvo_schema");
    if (version > kSchemaVersion) throw EDatabaseError(NewerSchemaText(version));
    if (version == 0)
      Execute("INSERT INTO krvo_schema VALUES (" + std::to_string(kSchemaVersion) + ")");
  });
}

std::vector<std::pair<std::string, int64_t>> CLogDatabase::Totals() {
  std::vector<std::pair<std::string, int64_t>> totals;
  for (const char* table : {"device", "key_generation", "log_file", "log_value"})
    totals.emplace_back(table, QueryNumber(std::string("SELECT count(*) FROM ") + table));
  return totals;
}
