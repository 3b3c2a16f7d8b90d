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
