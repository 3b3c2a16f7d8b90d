#pragma once
// Writes the simulated meter's data log files as its FTP tree has them:
// DataLog/Group1/ to DataLog/Group10/, one .dat file per day of records.
#include <ctime>
#include <string>

#include "sim/SimProfile.h"

struct LogWriterOptions {
  std::string Root;  // the tree goes into Root/DataLog/
  long RecordsPerGroup = 192;
  time_t Start = 0;  // time of the first record; 0 = each group ends now
  unsigned Seed = 1;
};

// False with a reason when the tree cannot be written.
bool WriteDataLogTree(const SimProfile& profile, const LogWriterOptions& options,
                      std::string& error);
