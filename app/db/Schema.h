#pragma once
// The logs' tables, one text for both kinds of database (docs/database.md
// describes them for the people who query them).
#include <cstdint>
#include <string>

enum class TSqlDialect { Sqlite, Postgres };

// The version krvo_schema records; a database of a later one is refused.
constexpr int64_t kSchemaVersion = 1;

// CREATE ... IF NOT EXISTS for every table, index and view.
std::string SchemaSql(TSqlDialect dialect);

// The refusal of a database whose schema is of a later version.
std::string NewerSchemaText(int64_t version);

// log_file's columns in TLoadedFile's order.
constexpr const char* kLoadedFileColumns =
    "id, size, records, crc32, mtime_ns, value_rows, untimed";
