#include "app/db/Schema.h"

namespace {

// One text; the dialects differ in a few types only.
constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS krvo_schema (
  version integer NOT NULL
);
CREATE TABLE IF NOT EXISTS device (
  id @ID@,
  name text NOT NULL UNIQUE,
  host text,
  port integer,
  last_seen @STAMP@
);
CREATE TABLE IF NOT EXISTS key_generation (
  id @ID@,
  device_id bigint NOT NULL REFERENCES device(id),
  group_no smallint NOT NULL,
  generation integer NOT NULL,
  created @STAMP@ NOT NULL,
  UNIQUE (device_id, group_no, generation)
);
CREATE TABLE IF NOT EXISTS group_key (
  generation_id bigint NOT NULL REFERENCES key_generation(id),
  slot smallint NOT NULL,
  key_id integer NOT NULL,
  caption text NOT NULL,
  PRIMARY KEY (generation_id, slot)
);
CREATE TABLE IF NOT EXISTS log_file (
  id @ID@,
  generation_id bigint NOT NULL REFERENCES key_generation(id),
  name text NOT NULL,
  size bigint NOT NULL,
  records bigint NOT NULL,
  crc32 bigint NOT NULL,
  mtime_ns bigint NOT NULL,
  value_rows bigint NOT NULL,
  untimed bigint NOT NULL,
  loaded_at @STAMP@ NOT NULL,
  UNIQUE (generation_id, name)
);
CREATE TABLE IF NOT EXISTS log_value (
  device_id bigint NOT NULL,
  group_no smallint NOT NULL,
  time @TIME@ NOT NULL,
  key_id integer NOT NULL,
  value @REAL@ NOT NULL,
  file_id bigint NOT NULL
);
CREATE INDEX IF NOT EXISTS log_value_series ON log_value (device_id, key_id, time);
CREATE INDEX IF NOT EXISTS log_value_file ON log_value (file_id);
CREATE @VIEW@ log_reading AS
  SELECT d.name AS device, v.group_no, v.time, v.key_id, v.value
  FROM log_value v JOIN device d ON d.id = v.device_id;
)";

void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

}  // namespace

std::string SchemaSql(TSqlDialect dialect) {
  std::string sql = kSchema;
  const bool pg = dialect == TSqlDialect::Postgres;
  // SQLite's rowid alias must be spelled "INTEGER PRIMARY KEY".
  ReplaceAll(sql, "@ID@", pg ? "bigserial PRIMARY KEY" : "INTEGER PRIMARY KEY");
  ReplaceAll(sql, "@STAMP@", pg ? "timestamp with time zone" : "text");
  ReplaceAll(sql, "@TIME@", pg ? "timestamp without time zone" : "text");
  ReplaceAll(sql, "@REAL@", pg ? "double precision" : "real");
  ReplaceAll(sql, "@VIEW@", pg ? "OR REPLACE VIEW" : "VIEW IF NOT EXISTS");
  return sql;
}

std::string NewerSchemaText(int64_t version) {
  return "The database holds the logs in schema version " + std::to_string(version) +
         "; this program knows version " + std::to_string(kSchemaVersion) + " only.";
}
