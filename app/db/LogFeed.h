#pragma once
// Feeding a device's DataLog folder into the logs' database: the records of
// every group's .dat files, so that the database holds what the files hold,
// record for record, however often it is fed and however a feed ends.
//
// Each file goes in in one transaction with its "loaded" entry, so a feed
// cut short stops at a file boundary. A file seen before with the same size
// and time is passed over; one that grew (its loaded bytes unchanged) adds
// its new records only; one rewritten shorter or with other bytes has its
// rows replaced. A group whose logged keys differ from the database's latest
// generation for it starts a new generation; the older rows stay under the
// old one.
#include <cstddef>
#include <optional>
#include <string>

#include "app/PumpHook.h"
#include "app/db/LogDatabase.h"

struct TFeedResult {
  size_t Files = 0;      // files whose rows went in or were replaced
  size_t Unchanged = 0;  // files the database already held whole
  size_t Values = 0;     // value rows stored
  size_t Untimed = 0;    // records left out: their time can't be made
  bool Stopped = false;  // the pump asked to stop (at a file boundary)
};

// Feeds every group of a DataLog folder whose setup is in GroupSetups (as
// the load of the folder leaves it). host and port, when given, are recorded
// as where the device was last seen. Throws EDatabaseError, and the .dat
// reader's errors, with the database left at the last file boundary.
TFeedResult FeedDeviceFolder(CLogDatabase& db, const std::string& dataLogFolder,
                             const std::string& device, const std::optional<std::string>& host,
                             int port, const PumpHook& pump = {});

// The one line a command prints of a feed.
std::string FeedSummary(const TFeedResult& result);
