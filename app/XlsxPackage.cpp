#include "app/XlsxPackage.h"

#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <pugixml.hpp>
#include <string_view>

#include "app/Xlsx.h"

namespace {

// A workbook part of ours is a few kilobytes; a bigger one is not ours.
constexpr zip_uint64_t kMaxPartBytes = 16u << 20;

struct ZipCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipCloser>;

ZipPtr Open(const std::string& path, int flags, std::string& error) {
  int code = 0;
  zip_t* z = zip_open(path.c_str(), flags, &code);
  if (z == nullptr) {
    zip_error_t e;
    zip_error_init_with_code(&e, code);
    error = zip_error_strerror(&e);
    zip_error_fini(&e);
  }
  return ZipPtr(z);
}

bool ReadPart(zip_t* z, const std::string& name, std::string& out) {
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat(z, name.c_str(), 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE) ||
      st.size > kMaxPartBytes)
    return false;
  zip_file_t* f = zip_fopen(z, name.c_str(), 0);
  if (f == nullptr) return false;
  out.assign(static_cast<size_t>(st.size), '\0');
  const zip_int64_t n = zip_fread(f, out.data(), st.size);
  zip_fclose(f);
  return n == static_cast<zip_int64_t>(st.size);
}

// The package's name of a part that base's relationships name target.
std::string ResolvePart(const std::string& base, std::string target) {
  if (!target.empty() && target[0] == '/') return target.substr(1);
  std::string folder = base.substr(0, base.rfind('/') + 1);
  while (target.compare(0, 3, "../") == 0) {
    target.erase(0, 3);
    if (!folder.empty()) folder.erase(folder.rfind('/', folder.size() - 2) + 1);
  }
  return folder + target;
}

// The part names of the workbook's sheets, in workbook order; empty when
// the workbook part or its relationships can't be read.
std::vector<std::string> SheetParts(zip_t* z) {
  const std::string kWorkbook = "xl/workbook.xml";
  std::string xml, rels;
  pugi::xml_document book, links;
  if (!ReadPart(z, kWorkbook, xml) || !ReadPart(z, "xl/_rels/workbook.xml.rels", rels) ||
      !book.load_buffer(xml.data(), xml.size()) || !links.load_buffer(rels.data(), rels.size()))
    return {};
  std::vector<std::string> parts;
  for (const pugi::xml_node sheet : book.child("workbook").child("sheets").children("sheet")) {
    // The relationship id is in the relationships namespace, whatever its prefix.
    const char* id = "";
    for (const pugi::xml_attribute a : sheet.attributes())
      if (std::string_view(a.name()).ends_with(":id")) id = a.value();
    const pugi::xml_node link =
        links.child("Relationships").find_child_by_attribute("Relationship", "Id", id);
    if (!link) return {};
    parts.push_back(ResolvePart(kWorkbook, link.attribute("Target").value()));
  }
  return parts;
}

void Put16(std::string& out, uint64_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint64_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, (v >> 16) & 0xFFFF);
}
void Put64(std::string& out, uint64_t v) {
  Put32(out, v & 0xFFFFFFFF);
  Put32(out, v >> 32);
}

constexpr uint64_t kMax32 = 0xFFFFFFFF;
constexpr uint16_t kVersion = 20, kVersion64 = 45;
constexpr size_t kReserved = 20;  // a zip64 field's room in a local header

}  // namespace

CZipWriter::CZipWriter(const std::string& path) {
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) throw EWorkbookError("Unable to write the workbook " + path);
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  time_ = static_cast<uint16_t>(t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec / 2);
  date_ = static_cast<uint16_t>(std::max(0, t.tm_year - 80) << 9 | (t.tm_mon + 1) << 5 | t.tm_mday);
}

CZipWriter::~CZipWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

void CZipWriter::LocalHeader(const Entry& e, bool reserve) {
  std::string h;
  Put32(h, 0x04034b50);
  Put16(h, e.Zip64 ? kVersion64 : kVersion);
  Put16(h, 0);  // no flags: sizes and CRC stand here, no data descriptor
  Put16(h, e.Method);
  Put16(h, e.Time);
  Put16(h, e.Date);
  Put32(h, e.Crc);
  Put32(h, e.Zip64 ? kMax32 : e.CompressedSize);
  Put32(h, e.Zip64 ? kMax32 : e.Size);
  Put16(h, e.Name.size());
  Put16(h, reserve || e.Zip64 ? kReserved : 0);
  h += e.Name;
  if (e.Zip64) {
    Put16(h, 0x0001);
    Put16(h, 16);
    Put64(h, e.Size);
    Put64(h, e.CompressedSize);
  } else if (reserve) {
    // The room unused: Microsoft's padding field for packages whose local
    // headers are written again, which readers pass over.
    Put16(h, 0xA220);
    Put16(h, kReserved - 4);
    Put16(h, 0xA028);
    Put16(h, 0);
    h.append(kReserved - 8, '\0');
  }
  if (std::fwrite(h.data(), 1, h.size(), file_) != h.size()) ok_ = false;
}

std::FILE* CZipWriter::BeginDeflated(const std::string& name) {
  Entry e;
  e.Name = name;
  e.Time = time_;
  e.Date = date_;
  e.Offset = static_cast<uint64_t>(ftello(file_));
  LocalHeader(e, true);
  entries_.push_back(e);
  return file_;
}

bool CZipWriter::EndDeflated(const TDeflated& stream) {
  Entry& e = entries_.back();
  const off_t end = ftello(file_);
  const uint64_t data = e.Offset + 30 + e.Name.size() + kReserved;
  if (end < 0 || static_cast<uint64_t>(end) != data + stream.CompressedSize) ok_ = false;
  e.Crc = stream.Crc;
  e.Size = stream.Size;
  e.CompressedSize = stream.CompressedSize;
  e.Zip64 = e.Size >= kMax32 || e.CompressedSize >= kMax32;
  if (fseeko(file_, static_cast<off_t>(e.Offset), SEEK_SET) != 0) ok_ = false;
  LocalHeader(e, true);
  if (fseeko(file_, end, SEEK_SET) != 0) ok_ = false;
  return ok_;
}

bool CZipWriter::Truncate(size_t n) {
  if (n >= entries_.size()) return ok_;
  const auto at = static_cast<off_t>(entries_[n].Offset);
  entries_.resize(n);
  if (std::fflush(file_) != 0 || ::ftruncate(fileno(file_), at) != 0 ||
      fseeko(file_, at, SEEK_SET) != 0)
    ok_ = false;
  return ok_;
}

bool CZipWriter::Add(const std::string& name, uint16_t method, uint32_t crc, uint64_t size,
                     const std::string& compressed) {
  Entry e;
  e.Name = name;
  e.Method = method;
  e.Time = time_;
  e.Date = date_;
  e.Crc = crc;
  e.Size = size;
  e.CompressedSize = compressed.size();
  e.Zip64 = e.Size >= kMax32 || e.CompressedSize >= kMax32;
  e.Offset = static_cast<uint64_t>(ftello(file_));
  LocalHeader(e, false);
  if (std::fwrite(compressed.data(), 1, compressed.size(), file_) != compressed.size()) ok_ = false;
  entries_.push_back(e);
  return ok_;
}

bool CZipWriter::Finish() {
  const auto start = static_cast<uint64_t>(ftello(file_));
  std::string cd;
  for (const Entry& e : entries_) {
    const bool bigOffset = e.Offset >= kMax32;
    std::string extra;
    if (e.Zip64 || bigOffset) {
      std::string fields;
      if (e.Zip64) {
        Put64(fields, e.Size);
        Put64(fields, e.CompressedSize);
      }
      if (bigOffset) Put64(fields, e.Offset);
      Put16(extra, 0x0001);
      Put16(extra, fields.size());
      extra += fields;
    }
    Put32(cd, 0x02014b50);
    Put16(cd, 3 << 8 | kVersion64);  // made on Unix
    Put16(cd, e.Zip64 || bigOffset ? kVersion64 : kVersion);
    Put16(cd, 0);
    Put16(cd, e.Method);
    Put16(cd, e.Time);
    Put16(cd, e.Date);
    Put32(cd, e.Crc);
    Put32(cd, e.Zip64 ? kMax32 : e.CompressedSize);
    Put32(cd, e.Zip64 ? kMax32 : e.Size);
    Put16(cd, e.Name.size());
    Put16(cd, extra.size());
    Put16(cd, 0);  // comment
    Put16(cd, 0);  // disk
    Put16(cd, 0);  // internal attributes
    Put32(cd, 0100644u << 16);
    Put32(cd, bigOffset ? kMax32 : e.Offset);
    cd += e.Name;
    cd += extra;
  }
  const uint64_t count = entries_.size(), size = cd.size();
  if (count >= 0xFFFF || start >= kMax32 || size >= kMax32) {
    const uint64_t record = start + size;
    Put32(cd, 0x06064b50);
    Put64(cd, 44);
    Put16(cd, 3 << 8 | kVersion64);
    Put16(cd, kVersion64);
    Put32(cd, 0);
    Put32(cd, 0);
    Put64(cd, count);
    Put64(cd, count);
    Put64(cd, size);
    Put64(cd, start);
    Put32(cd, 0x07064b50);
    Put32(cd, 0);
    Put64(cd, record);
    Put32(cd, 1);
  }
  Put32(cd, 0x06054b50);
  Put16(cd, 0);
  Put16(cd, 0);
  Put16(cd, std::min<uint64_t>(count, 0xFFFF));
  Put16(cd, std::min<uint64_t>(count, 0xFFFF));
  Put32(cd, std::min(size, kMax32));
  Put32(cd, std::min(start, kMax32));
  Put16(cd, 0);
  if (std::fwrite(cd.data(), 1, cd.size(), file_) != cd.size()) ok_ = false;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return ok_ && closed;
}

std::string CopyEntries(const std::string& path, const std::set<std::string>& skip,
                        CZipWriter& out) {
  std::string error;
  ZipPtr z = Open(path, ZIP_RDONLY, error);
  if (!z) return error;
  const zip_int64_t n = zip_get_num_entries(z.get(), 0);
  for (zip_int64_t i = 0; i < n; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    zip_stat_t st;
    zip_stat_init(&st);
    const zip_uint64_t needed =
        ZIP_STAT_NAME | ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD;
    if (zip_stat_index(z.get(), index, 0, &st) != 0 || (st.valid & needed) != needed ||
        st.comp_size > kMaxPartBytes)
      return "an unreadable part";
    if (skip.count(st.name)) continue;
    std::string bytes(static_cast<size_t>(st.comp_size), '\0');
    zip_file_t* f = zip_fopen_index(z.get(), index, ZIP_FL_COMPRESSED);
    if (f == nullptr) return zip_strerror(z.get());
    const zip_int64_t got = zip_fread(f, bytes.data(), st.comp_size);
    zip_fclose(f);
    if (got != static_cast<zip_int64_t>(st.comp_size)) return "an unreadable part";
    if (!out.Add(st.name, st.comp_method, st.crc, st.size, bytes)) return "a write error";
  }
  return {};
}

std::vector<std::string> SheetParts(const std::string& path) {
  std::string error;
  ZipPtr z = Open(path, ZIP_RDONLY, error);
  return z ? SheetParts(z.get()) : std::vector<std::string>{};
}
