#include "app/Xlsx.h"

#include <locale.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "app/XlsxPackage.h"
#include "app/XlsxSheet.h"
#include "meter/FileReplace.h"

namespace {

// A date-time pattern of ours as a spreadsheet number format.
std::string NumberFormatOf(const std::string& pattern) {
  std::string out;
  for (size_t i = 0; i < pattern.size();) {
    const char c = pattern[i];
    size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == c) ++run;
    if (c == '\'') {  // quoted literal
      const size_t end = pattern.find('\'', i + 1);
      const std::string lit =
          pattern.substr(i + 1, (end == std::string::npos ? pattern.size() : end) - i - 1);
      out += "\"" + lit + "\"";
      i = end == std::string::npos ? pattern.size() : end + 1;
      continue;
    }
    std::string token(run, c);
    if (c == 'M') {
      token.assign(run, 'm');  // months
    } else if (c == 'H') {
      token.assign(run, 'h');
    } else if (c == 't') {
      token = "AM/PM";
    } else if (c == 'z') {
      token = "000";
    } else if (c != 'y' && c != 'd' && c != 'h' && c != 'm' && c != 's') {
      token.clear();
      for (size_t k = 0; k < run; ++k) {
        if (c != '-' && c != ':' && c != ' ' && c != '.' && c != '/') token += '\\';
        token += c;
      }
    }
    out += token;
    i += run;
  }
  return out;
}

// The formats in one fixed order, so that the style indices the sheets are
// written with, taken from a probe, are those of the skeleton's styles part.
TStyleIndex MakeFormats(lxw_workbook* wb, const std::string& numberFormat) {
  lxw_format* centre = workbook_add_format(wb);
  format_set_align(centre, LXW_ALIGN_CENTER);
  lxw_format* left = workbook_add_format(wb);
  format_set_align(left, LXW_ALIGN_LEFT);
  lxw_format* time = workbook_add_format(wb);
  format_set_align(time, LXW_ALIGN_LEFT);
  format_set_num_format(time, numberFormat.c_str());
  TStyleIndex index{};
  index[static_cast<size_t>(TCellStyle::Centre)] = lxw_format_get_xf_index(centre);
  index[static_cast<size_t>(TCellStyle::Left)] = lxw_format_get_xf_index(left);
  index[static_cast<size_t>(TCellStyle::DateTime)] = lxw_format_get_xf_index(time);
  return index;
}

// libxlsxwriter writes numbers with printf: C conventions while it runs, in
// the calling thread only (the window's own formats stay the user's).
class CNumericCLocale {
 public:
  CNumericCLocale() : loc_(newlocale(LC_ALL_MASK, "C", nullptr)), old_(uselocale(loc_)) {}
  ~CNumericCLocale() {
    uselocale(old_);
    freelocale(loc_);
  }

 private:
  locale_t loc_;
  locale_t old_;
};

struct WorkbookCloser {
  void operator()(lxw_workbook* wb) const { lxw_workbook_free(wb); }
};

// A spreadsheet's name for a new sheet at a 0-based position.
std::string DefaultSheetName(size_t position) { return "Sheet" + std::to_string(position + 1); }

// The package's name of the sheet part at a 0-based position, as the
// skeleton names it (checked at the commit).
std::string PartName(size_t position) {
  return "xl/worksheets/sheet" + std::to_string(position + 1) + ".xml";
}

}  // namespace

struct CXlsxBuild::Impl {
  std::string NumberFormat;
  size_t MinSheets = 0;
  TStyleIndex Styles{};
  std::vector<std::string> Names;  // by position; "" for one not written
  std::vector<bool> Saved;
  // The package, written once from its first sheet on, beside the target.
  std::string Path;
  std::unique_ptr<CZipWriter> Zip;
  // The sheets begun since the last save: their positions, the zip's entry
  // count before the first, and the one being written.
  std::vector<size_t> Open;
  size_t OpenFrom = 0;
  std::unique_ptr<CSheetXmlWriter> Writer;

  void EndSheet(const std::string& target) {
    if (!Writer) return;
    const bool ok = Writer->Finish();
    const TDeflated stream = Writer->Deflated();
    Writer.reset();
    if (!ok || !Zip->EndDeflated(stream))
      throw EWorkbookError("Unable to write the workbook " + target);
  }
  void DropOpen() {
    Writer.reset();  // its workers end before the bytes they wrote go
    if (Open.empty()) return;
    Zip->Truncate(OpenFrom);
    for (size_t p : Open) Names[p].clear();
    Open.clear();
    while (!Names.empty() && Names.back().empty()) {
      Names.pop_back();
      Saved.pop_back();
    }
  }
};

CXlsxBuild::CXlsxBuild(std::string target, const std::string& dateTimePattern, size_t minSheets)
    : target_(std::move(target)), impl_(std::make_unique<Impl>()) {
  impl_->NumberFormat = NumberFormatOf(dateTimePattern);
  impl_->MinSheets = minSheets;
  // The style indices come from the formats alone: a workbook that is never
  // closed, and so never writes its file, tells them.
  std::unique_ptr<lxw_workbook, WorkbookCloser> probe(workbook_new("styles.xlsx"));
  if (!probe) throw EWorkbookError("Unable to write the workbook " + target_);
  impl_->Styles = MakeFormats(probe.get(), impl_->NumberFormat);
}

CXlsxBuild::~CXlsxBuild() { Discard(); }

size_t CXlsxBuild::Positions() const { return std::max(impl_->MinSheets, impl_->Names.size()); }

CXlsxSheet& CXlsxBuild::BeginSheet(size_t position, const std::string& name, long rows, int columns,
                                   const std::vector<TXlsxColumn>& layout) {
  Impl& m = *impl_;
  if (position < m.Names.size() && !m.Names[position].empty())
    throw EWorkbookError("Unable to write the workbook " + target_ + ": sheet " +
                         std::to_string(position + 1) + " is written already");
  m.EndSheet(target_);
  if (!m.Zip) {
    m.Path = CreateTempBeside(target_);
    m.Zip = std::make_unique<CZipWriter>(m.Path);
  }
  if (position >= m.Names.size()) {
    m.Names.resize(position + 1);
    m.Saved.resize(position + 1);
  }
  if (m.Open.empty()) m.OpenFrom = m.Zip->Entries();
  m.Names[position] = name;
  m.Open.push_back(position);
  std::FILE* out = m.Zip->BeginDeflated(PartName(position));
  m.Writer = std::make_unique<CSheetXmlWriter>(out, rows, columns, position == 0, layout, m.Styles);
  return *m.Writer;
}

void CXlsxBuild::Drop() { impl_->DropOpen(); }

void CXlsxBuild::Save() {
  Impl& m = *impl_;
  try {
    m.EndSheet(target_);
  } catch (...) {
    m.DropOpen();
    throw;
  }
  for (size_t p : m.Open) m.Saved[p] = true;
  m.Open.clear();
}

bool CXlsxBuild::Commit() {
  Impl& m = *impl_;
  m.DropOpen();
  if (!m.Zip || std::find(m.Saved.begin(), m.Saved.end(), true) == m.Saved.end()) return false;

  // The rest of the package from a skeleton that libxlsxwriter writes:
  // every sheet's name, the styles, the active sheet; its empty parts of the
  // sheets written here are left out.
  const std::string skeleton = CreateTempBeside(target_);
  struct Unlink {
    const std::string& Path;
    ~Unlink() { ::unlink(Path.c_str()); }
  } unlinkSkeleton{skeleton};
  auto fail = [&](const std::string& why) {
    Discard();
    throw EWorkbookError("Unable to write the workbook " + target_ + why);
  };
  {
    CNumericCLocale cLocale;
    std::unique_ptr<lxw_workbook, WorkbookCloser> wb(workbook_new(skeleton.c_str()));
    if (!wb) fail("");
    if (MakeFormats(wb.get(), m.NumberFormat) != m.Styles) fail(": the styles differ");
    std::vector<lxw_worksheet*> sheets;
    for (size_t i = 0; i < Positions(); ++i) {
      const std::string name =
          i < m.Names.size() && !m.Names[i].empty() ? m.Names[i] : DefaultSheetName(i);
      lxw_worksheet* ws = workbook_add_worksheet(wb.get(), name.c_str());
      if (ws == nullptr) fail(": bad sheet name " + name);
      sheets.push_back(ws);
    }
    worksheet_activate(sheets[0]);
    const lxw_error e = workbook_close(wb.release());
    if (e != LXW_NO_ERROR) fail(std::string(": ") + lxw_strerror(e));
  }
  const std::vector<std::string> parts = SheetParts(skeleton);
  std::set<std::string> written;
  for (size_t p = 0; p < m.Saved.size(); ++p) {
    if (!m.Saved[p]) continue;
    if (p >= parts.size() || parts[p] != PartName(p)) fail(": its sheet parts are named otherwise");
    written.insert(PartName(p));
  }
  if (const std::string error = CopyEntries(skeleton, written, *m.Zip); !error.empty())
    fail(": " + error);
  const bool finished = m.Zip->Finish();
  m.Zip.reset();
  if (!finished) fail("");
  const std::string path = std::move(m.Path);
  m.Path.clear();
  return CommitTemp(path, target_);
}

void CXlsxBuild::Discard() {
  Impl& m = *impl_;
  m.Writer.reset();
  m.Open.clear();
  m.Zip.reset();
  if (!m.Path.empty()) ::unlink(m.Path.c_str());
  m.Path.clear();
}
