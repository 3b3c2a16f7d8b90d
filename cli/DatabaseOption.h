#pragma once
// --db URL on the commands that read a device's logs: after the command's
// own work, the folder's records go into the database.
#include <optional>
#include <string>

#include "cli/CliArgs.h"

extern const char* const kDatabaseOptionUsage;

// The URL of --db, if given; a usage error for an empty one.
std::optional<std::string> DatabaseOption(const CliArgs& args);

// Feeds the DataLog folder of device into the database at url: prints the
// feed's summary line on stdout; 1 with the database's error on stderr when
// it fails or is interrupted, else 0. The folder's files are never touched.
int FeedDatabase(const std::string& url, const std::string& dataLogFolder,
                 const std::string& device, const std::optional<std::string>& host, int port);
