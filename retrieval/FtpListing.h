#pragma once
// Parsing of LIST output: Unix "ls -l" lines and DOS/IIS lines.
#include <ctime>
#include <string>
#include <vector>

#include "retrieval/FtpTypes.h"

enum class TFtpListFormat { flfUnknown, flfUnix, flfDos };

// The format, decided from the first line of a listing.
TFtpListFormat DetectListFormat(const std::string& firstLine);

// Parses one line; false when it is not a valid line of that format.
// `now` gives the current year and month for Unix dates without a year.
bool ParseUnixLine(const std::string& line, const tm& now, TFtpListEntry& entry);
bool ParseDosLine(const std::string& line, TFtpListEntry& entry);

// The entries of a whole listing: a line that fails to parse empties the
// entries found so far and the following lines are still tried; an unknown
// format gives no entries.
std::vector<TFtpListEntry> ParseListing(const std::vector<std::string>& lines, const tm& now);
