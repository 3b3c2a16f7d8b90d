#include <cstdio>
#include <exception>
#include <string>

#include "app/db/LogDatabase.h"
#include "cli/CliArgs.h"
#include "cli/Commands.h"

const char* const kDbUsage =
    "usage: krvo db URL [--init]\n"
    "  The database that download, sync, export and fleet feed with --db URL:\n"
    "  sqlite:PATH (a file, created on first use) or a PostgreSQL URI\n"
    "  postgresql://[USER@]HOST[:PORT]/DBNAME (the password from PGPASSWORD or\n"
    "  ~/.pgpass, never in the URL). --init creates the tables (the feeding\n"
    "  commands do too when they are missing). Prints each table's rows,\n"
    "  'TABLE<TAB>ROWS'. The tables are described in docs/database.md.\n";

int CmdDb(int argc, char** argv) {
  CliArgs args(argc, argv, 2, {}, {"--init"});
  if (args.Help()) {
    std::fputs(kDbUsage, stdout);
    return 0;
  }
  if (args.Positional().size() != 1) throw UsageError{"one URL is needed"};
  try {
    const auto db = OpenLogDatabase(args.Positional()[0]);
    if (args.Has("--init")) db->EnsureSchema();
    for (const auto& [table, rows] : db->Totals())
      std::printf("%s\t%lld\n", table.c_str(), static_cast<long long>(rows));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
