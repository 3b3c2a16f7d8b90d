#include "app/XlsxPackage.h"

#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <pugixml.hpp>
#include <string_view>

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

}  // namespace

std::string AssembleWorkbook(const std::string& fresh, const std::string& previous,
                             const std::vector<std::pair<int, int>>& carried,
                             const std::vector<TDeflatedPart>& inserted) {
  std::string error;
  ZipPtr old;  // outlives neu, whose sources may read from it
  ZipPtr neu = Open(fresh, 0, error);
  if (!neu) return error;
  const std::vector<std::string> parts = SheetParts(neu.get());
  auto partOf = [](const std::vector<std::string>& names, int position) -> const std::string* {
    return position >= 1 && static_cast<size_t>(position) <= names.size() ? &names[position - 1]
                                                                          : nullptr;
  };
  for (const TDeflatedPart& part : inserted) {
    const std::string* name = partOf(parts, part.Position);
    const zip_int64_t skeleton = name ? zip_name_locate(neu.get(), name->c_str(), 0) : -1;
    if (skeleton < 0 || zip_delete(neu.get(), static_cast<zip_uint64_t>(skeleton)) != 0)
      return "a sheet is missing";
    auto* state = new TPrecompressed{part, nullptr, {}};
    zip_error_init(&state->Error);
    zip_source_t* s = zip_source_function(neu.get(), PrecompressedSource, state);
    if (s == nullptr) {
      zip_error_fini(&state->Error);
      delete state;
    }
    const zip_int64_t dst = s == nullptr ? -1 : zip_file_add(neu.get(), name->c_str(), s, 0);
    if (dst < 0) {
      if (s != nullptr) zip_source_free(s);
      return zip_strerror(neu.get());
    }
  }
  std::vector<std::string> oldParts;
  if (!carried.empty()) {
    old = Open(previous, ZIP_RDONLY, error);
    if (!old) return error;
    oldParts = SheetParts(old.get());
  }
  for (const auto& [to, from] : carried) {
    const std::string* src = partOf(oldParts, from);
    const std::string* dst = partOf(parts, to);
    const zip_int64_t s0 = src ? zip_name_locate(old.get(), src->c_str(), 0) : -1;
    const zip_int64_t d0 = dst ? zip_name_locate(neu.get(), dst->c_str(), 0) : -1;
    if (s0 < 0 || d0 < 0) return "a sheet is missing";
    zip_source_t* s = zip_source_zip(neu.get(), old.get(), static_cast<zip_uint64_t>(s0), 0, 0, -1);
    if (s == nullptr) return zip_strerror(neu.get());
    if (zip_file_replace(neu.get(), static_cast<zip_uint64_t>(d0), s, 0) != 0) {
      zip_source_free(s);
      return zip_strerror(neu.get());
    }
  }
  zip_t* z = neu.release();
  if (zip_close(z) != 0) {
    error = zip_strerror(z);
    zip_discard(z);
    return error;
  }
  return {};
}
