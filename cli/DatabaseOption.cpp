#include "cli/DatabaseOption.h"

#include <cstdio>
#include <exception>

#include "app/db/LogFeed.h"
#include "cli/ErrorText.h"
#include "cli/FtpSession.h"

const char* const kDatabaseOptionUsage =
    "  --db URL: then loads the records into a database (sqlite:PATH or\n"
    "  postgresql://...; see krvo db --help), new records only, and prints\n"
    "  'Database<TAB>...' with what it loaded.\n";

std::optional<std::string> DatabaseOption(const CliArgs& args) {
  const auto url = args.Value("--db");
  if (url && url->empty()) throw UsageError{"--db needs a URL"};
  return url;
}

int FeedDatabase(const std::string& url, const std::string& dataLogFolder,
                 const std::string& device, const std::optional<std::string>& host, int port) {
  try {
    const auto db = OpenLogDatabase(url);
    const TFeedResult result =
        FeedDeviceFolder(*db, dataLogFolder, device, host, port, [] { return Interrupted(); });
    std::printf("%s\n", FeedSummary(result).c_str());
    std::fflush(stdout);
    if (result.Stopped) {
      std::fputs("Interrupted: the database holds the files loaded so far.\n", stderr);
      return 1;
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Database not updated: %s\n", ErrorText(e).c_str());
    return 1;
  }
}
