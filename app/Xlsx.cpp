#include "app/Xlsx.h"

#include <locale.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <chrono>
#include <cstdio>
#include <future>

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

// The formats in one fixed order, so that every skeleton of a build has the
// same styles part and its sheets' style indices hold in all of them.
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

}  // namespace

// A sheet being written: its part in a file of its own until the save.
struct TOpenSheet {
  size_t Position = 0;
  std::string Path;
  std::FILE* File = nullptr;
  std::unique_ptr<CSheetXmlWriter> Writer;
  TDeflated Stream;
};

struct CXlsxBuild::Impl {
  std::string NumberFormat;
  size_t MinSheets = 0;
  TStyleIndex Styles{};
  std::vector<std::string> Names;  // by position; "" for one not written
  std::vector<bool> Saved;
  std::string Path;  // the workbook saved so far, beside the target; "" before the first save
  std::vector<TOpenSheet> Open;

  void Finish(TOpenSheet& s, const std::string& target) {
    if (!s.Writer) return;
    const bool ok = s.Writer->Finish();
    s.Stream = s.Writer->Deflated();
    s.Writer.reset();
    const bool closed = std::fclose(s.File) == 0;
    s.File = nullptr;
    if (!ok || !closed) throw EWorkbookError("Unable to write the workbook " + target);
  }
  void DropOpen() {
    for (TOpenSheet& s : Open) {
      s.Writer.reset();  // its workers end before the file they write to
      if (s.File != nullptr) std::fclose(s.File);
      ::unlink(s.Path.c_str());
      Names[s.Position].clear();
    }
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
  if (!m.Open.empty()) m.Finish(m.Open.back(), target_);
  if (position >= m.Names.size()) {
    m.Names.resize(position + 1);
    m.Saved.resize(position + 1);
  }
  TOpenSheet s;
  s.Position = position;
  s.Path = CreateTempBeside(target_);
  s.File = std::fopen(s.Path.c_str(), "wb");
  if (s.File == nullptr) {
    ::unlink(s.Path.c_str());
    throw EWorkbookError("Unable to write the workbook " + target_);
  }
  m.Names[position] = name;
  m.Open.push_back(std::move(s));
  m.Open.back().Writer = std::make_unique<CSheetXmlWriter>(m.Open.back().File, rows, columns,
                                                           position == 0, layout, m.Styles);
  return *m.Open.back().Writer;
}

void CXlsxBuild::Drop() { impl_->DropOpen(); }

bool CXlsxBuild::Save(const PumpHook& pump) {
  Impl& m = *impl_;
  if (m.Open.empty()) return true;
  try {
    for (TOpenSheet& s : m.Open) m.Finish(s, target_);
  } catch (...) {
    m.DropOpen();
    throw;
  }

  // The skeleton: every sheet's name, the styles; libxlsxwriter writes it.
  const std::string fresh = CreateTempBeside(target_);
  auto fail = [&](const std::string& why) {
    ::unlink(fresh.c_str());
    m.DropOpen();
    throw EWorkbookError("Unable to write the workbook " + target_ + why);
  };
  CNumericCLocale cLocale;
  std::unique_ptr<lxw_workbook, WorkbookCloser> wb(workbook_new(fresh.c_str()));
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

  std::vector<std::pair<int, int>> carried;  // 1-based, the same position in both
  for (size_t i = 0; i < m.Saved.size(); ++i)
    if (m.Saved[i]) carried.emplace_back(static_cast<int>(i) + 1, static_cast<int>(i) + 1);
  std::vector<TDeflatedPart> inserted;
  for (const TOpenSheet& s : m.Open)
    inserted.push_back({static_cast<int>(s.Position) + 1, s.Path, s.Stream});

  // Assembling a big workbook takes a while: it runs beside the event loop,
  // which keeps pumping; nothing it touches is shared.
  lxw_workbook* raw = wb.release();
  const std::string previous = m.Path;
  auto work = std::async(std::launch::async, [raw, &fresh, &previous, &carried, &inserted] {
    CNumericCLocale workerLocale;
    const lxw_error e = workbook_close(raw);
    if (e != LXW_NO_ERROR) return std::string(lxw_strerror(e));
    return AssembleWorkbook(fresh, previous, carried, inserted);
  });
  bool stopped = false;
  while (work.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
    if (!stopped && pump) stopped = pump();
  }
  const std::string error = work.get();
  if (!error.empty()) fail(": " + error);
  if (stopped) {
    ::unlink(fresh.c_str());
    m.DropOpen();
    return false;
  }
  // The build's own file is flushed once, when the commit puts it in place.
  if (m.Path.empty()) {
    m.Path = fresh;
  } else if (!RenameTemp(fresh, m.Path)) {
    fail("");
  }
  for (TOpenSheet& s : m.Open) {
    ::unlink(s.Path.c_str());
    m.Saved[s.Position] = true;
  }
  m.Open.clear();
  return true;
}

bool CXlsxBuild::Commit() {
  Impl& m = *impl_;
  m.DropOpen();
  if (m.Path.empty()) return false;
  const std::string path = std::move(m.Path);
  m.Path.clear();
  return CommitTemp(path, target_);
}

void CXlsxBuild::Discard() {
  Impl& m = *impl_;
  m.DropOpen();
  if (!m.Path.empty()) ::unlink(m.Path.c_str());
  m.Path.clear();
}
