#pragma once
// Shared FTP types: replies, listing entries, settings' enumerations, events.
#include <cstdint>
#include <string>
#include <vector>

struct TFtpReply {
  int Code = 0;                    // first three characters as a number; 0 when they are none
  std::vector<std::string> Text;   // every line from its fifth character on
  std::string JoinedText() const;  // the lines joined with line breaks
};

enum class TFtpItemType { ditDirectory, ditFile, ditSymbolicLink };

struct TFtpListEntry {
  std::string Name;
  int64_t Size = 0;
  TFtpItemType ItemType = TFtpItemType::ditFile;
  double ModifiedTime = 0;  // days since 1899-12-30; 0 when unknown
  std::string LinkTarget;
};

enum class TFtpTransferType { ftASCII, ftBinary };
enum class TWorkMode { wmRead, wmWrite };

enum class TFtpStatus {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  ftpTransfer,
  ftpReady,
  ftpAborted
};
