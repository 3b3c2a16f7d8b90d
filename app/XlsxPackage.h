#pragma once
// Inside the .xlsx writer (app/Xlsx.h): the zip package, written front to
// back once. Each entry's data goes out as it is made, its local header
// completed once its CRC and sizes are known; the central directory follows
// the last entry. Zip64 where a size or an offset needs it.
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "app/ParallelDeflate.h"

class CZipWriter {
 public:
  // Creates path, empty; throws EWorkbookError when it can't.
  explicit CZipWriter(const std::string& path);
  ~CZipWriter();
  CZipWriter(const CZipWriter&) = delete;
  CZipWriter& operator=(const CZipWriter&) = delete;

  // Starts a raw deflate entry; its data is written to File() next.
  std::FILE* BeginDeflated(const std::string& name);
  // Completes the entry begun last with what its stream was.
  bool EndDeflated(const TDeflated& stream);
  // Entries so far (the one begun included); Truncate(n) removes those after
  // the first n, their bytes too.
  size_t Entries() const { return entries_.size(); }
  bool Truncate(size_t n);
  // An entry whose compressed bytes are at hand.
  bool Add(const std::string& name, uint16_t method, uint32_t crc, uint64_t size,
           const std::string& compressed);
  // Writes the central directory and closes the file; false on any write error.
  bool Finish();

 private:
  struct Entry {
    std::string Name;
    uint16_t Method = 8, Time = 0, Date = 0;
    uint32_t Crc = 0;
    uint64_t Size = 0, CompressedSize = 0, Offset = 0;
    bool Zip64 = false;  // in its local header
  };
  void LocalHeader(const Entry& e, bool reserve);

  std::FILE* file_ = nullptr;
  std::vector<Entry> entries_;
  uint16_t time_ = 0, date_ = 0;  // of the entries written here
  bool ok_ = true;
};

// Copies the entries of the zip at path into out as they are (compressed
// data, CRC and sizes), all but those named in skip. Returns an error text,
// empty on success.
std::string CopyEntries(const std::string& path, const std::set<std::string>& skip,
                        CZipWriter& out);

// The part names of the sheets of the workbook at path, in workbook order,
// found through its workbook part and relationships; empty when they can't
// be read.
std::vector<std::string> SheetParts(const std::string& path);
