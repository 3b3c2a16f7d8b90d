#include "app/WorkbookParts.h"

#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "app/Workbook.h"

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

std::string SheetPart(int position) {
  return "xl/worksheets/sheet" + std::to_string(position) + ".xml";
}

std::string Unescape(const std::string& s) {
  static const std::pair<const char*, char> kEntities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  for (size_t i = 0; i < s.size();) {
    bool done = false;
    if (s[i] == '&') {
      for (const auto& [entity, c] : kEntities) {
        const std::string e = entity;
        if (s.compare(i, e.size(), e) == 0) {
          out += c;
          i += e.size();
          done = true;
          break;
        }
      }
    }
    if (!done) out += s[i++];
  }
  return out;
}

// A part compressed already: libzip takes a source that states its method,
// sizes and CRC as data to copy, not to compress again.
struct TPrecompressed {
  TDeflatedPart Part;
  std::FILE* File = nullptr;
  zip_error_t Error{};
};

zip_int64_t PrecompressedSource(void* state, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto* s = static_cast<TPrecompressed*>(state);
  switch (cmd) {
    case ZIP_SOURCE_OPEN:
      s->File = std::fopen(s->Part.Path.c_str(), "rb");
      if (s->File == nullptr) {
        zip_error_set(&s->Error, ZIP_ER_OPEN, errno);
        return -1;
      }
      return 0;
    case ZIP_SOURCE_READ: {
      const size_t n = std::fread(data, 1, static_cast<size_t>(len), s->File);
      if (n == 0 && std::ferror(s->File)) {
        zip_error_set(&s->Error, ZIP_ER_READ, errno);
        return -1;
      }
      return static_cast<zip_int64_t>(n);
    }
    case ZIP_SOURCE_CLOSE:
      if (s->File != nullptr) std::fclose(s->File);
      s->File = nullptr;
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = static_cast<zip_stat_t*>(data);
      zip_stat_init(st);
      st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD;
      st->size = s->Part.Stream.Size;
      st->comp_size = s->Part.Stream.CompressedSize;
      st->crc = s->Part.Stream.Crc;
      st->comp_method = ZIP_CM_DEFLATE;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&s->Error, data, len);
    case ZIP_SOURCE_FREE:
      if (s->File != nullptr) std::fclose(s->File);
      zip_error_fini(&s->Error);
      delete s;
      return 0;
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                            ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
      zip_error_set(&s->Error, ZIP_ER_INVAL, 0);
      return -1;
  }
}

[[noreturn]] void NotOurs(const std::string& path, const std::string& why) {
  throw EWorkbookError("The workbook " + path + " can't be updated (" + why +
                       "); it is left as it was. Delete it and load the logs again.");
}

}  // namespace

TWorkbookParts ReadWorkbookParts(const std::string& path) {
  std::string error;
  ZipPtr z = Open(path, ZIP_RDONLY, error);
  if (!z) NotOurs(path, error);
  std::string xml;
  if (!ReadPart(z.get(), "xl/workbook.xml", xml)) NotOurs(path, "no workbook part");
  TWorkbookParts parts;
  for (size_t at = xml.find("<sheet "); at != std::string::npos; at = xml.find("<sheet ", at + 1)) {
    const size_t end = xml.find('>', at);
    const size_t name = xml.find(" name=\"", at);
    if (end == std::string::npos || name == std::string::npos || name > end)
      NotOurs(path, "a sheet without a name");
    const size_t close = xml.find('"', name + 7);
    if (close == std::string::npos || close > end) NotOurs(path, "a sheet without a name");
    parts.SheetNames.push_back(Unescape(xml.substr(name + 7, close - name - 7)));
  }
  if (parts.SheetNames.empty()) NotOurs(path, "no sheets");
  for (size_t i = 1; i <= parts.SheetNames.size(); ++i)
    if (zip_name_locate(z.get(), SheetPart(static_cast<int>(i)).c_str(), 0) < 0)
      NotOurs(path, "sheet parts of another layout");
  return parts;
}

std::string AssembleWorkbook(const std::string& fresh, const std::string& previous,
                             const std::vector<std::pair<int, int>>& carried,
                             const std::vector<TDeflatedPart>& inserted) {
  std::string error;
  ZipPtr old;  // outlives neu, whose sources may read from it
  ZipPtr neu = Open(fresh, 0, error);
  if (!neu) return "Unable to write the workbook " + previous + ": " + error;
  for (const TDeflatedPart& part : inserted) {
    const std::string name = SheetPart(part.Position);
    const zip_int64_t skeleton = zip_name_locate(neu.get(), name.c_str(), 0);
    if (skeleton < 0 || zip_delete(neu.get(), static_cast<zip_uint64_t>(skeleton)) != 0)
      return "Unable to write the workbook " + previous + ": a sheet is missing";
    auto* state = new TPrecompressed{part, nullptr, {}};
    zip_error_init(&state->Error);
    zip_source_t* s = zip_source_function(neu.get(), PrecompressedSource, state);
    if (s == nullptr) {
      zip_error_fini(&state->Error);
      delete state;
    }
    const zip_int64_t dst = s == nullptr ? -1 : zip_file_add(neu.get(), name.c_str(), s, 0);
    if (dst < 0) {
      if (s != nullptr) zip_source_free(s);
      return "Unable to write the workbook " + previous + ": " + zip_strerror(neu.get());
    }
  }
  if (!carried.empty()) {
    old = Open(previous, ZIP_RDONLY, error);
    if (!old) return "Unable to read the workbook " + previous + ": " + error;
    std::string oldStyles, newStyles;
    if (!ReadPart(old.get(), "xl/styles.xml", oldStyles) ||
        !ReadPart(neu.get(), "xl/styles.xml", newStyles) || oldStyles != newStyles)
      return "The workbook " + previous +
             " was written with other formats and can't be updated; it is left as it was. "
             "Delete it and load the logs again.";
  }
  for (const auto& [to, from] : carried) {
    const zip_int64_t src = zip_name_locate(old.get(), SheetPart(from).c_str(), 0);
    const zip_int64_t dst = zip_name_locate(neu.get(), SheetPart(to).c_str(), 0);
    if (src < 0 || dst < 0)
      return "Unable to update the workbook " + previous + ": a sheet is missing";
    zip_source_t* s =
        zip_source_zip(neu.get(), old.get(), static_cast<zip_uint64_t>(src), 0, 0, -1);
    if (s == nullptr)
      return "Unable to update the workbook " + previous + ": " + zip_strerror(neu.get());
    if (zip_file_replace(neu.get(), static_cast<zip_uint64_t>(dst), s, 0) != 0) {
      zip_source_free(s);
      return "Unable to update the workbook " + previous + ": " + zip_strerror(neu.get());
    }
  }
  zip_t* z = neu.release();
  if (zip_close(z) != 0) {
    error = zip_strerror(z);
    zip_discard(z);
    return "Unable to write the workbook " + previous + ": " + error;
  }
  return {};
}
