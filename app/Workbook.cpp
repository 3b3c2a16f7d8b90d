#include "app/Workbook.h"

#include <locale.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <chrono>
#include <future>
#include <memory>
#include <vector>

#include "app/SheetText.h"
#include "app/SheetXml.h"
#include "app/WorkbookParts.h"
#include "meter/DataFolder.h"
#include "meter/DisplayFormat.h"
#include "meter/FileReplace.h"
#include "meter/MeterState.h"

namespace {

constexpr int kFixedSheets = 11;
constexpr long kDataRowsPerSheet = kSheetRows - 1;  // each sheet repeats the header

// Our date and time patterns as a spreadsheet number format.
std::string ExcelDateTimeFormat() {
  const TFormatSettings& s = FormatSettings();
  const std::string pattern = s.ShortDateFormat + " " + s.LongTimeFormat;
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

// The formats in one fixed order, their style indices fixed at once, so that
// every save of this program writes the same styles part.
struct Formats {
  int centre;
  int left;
  int time;
};

Formats MakeFormats(lxw_workbook* wb) {
  lxw_format* centre = workbook_add_format(wb);
  format_set_align(centre, LXW_ALIGN_CENTER);
  lxw_format* left = workbook_add_format(wb);
  format_set_align(left, LXW_ALIGN_LEFT);
  lxw_format* time = workbook_add_format(wb);
  format_set_align(time, LXW_ALIGN_LEFT);
  format_set_num_format(time, ExcelDateTimeFormat().c_str());
  return {lxw_format_get_xf_index(centre), lxw_format_get_xf_index(left),
          lxw_format_get_xf_index(time)};
}

// Cells of one sheet into the parts of one or more worksheets.
class CWorksheetSink : public CSheetSink {
 public:
  CWorksheetSink(std::vector<std::unique_ptr<CSheetXmlWriter>>& sheets, const Formats& f,
                 bool names, const PumpHook& pump)
      : sheets_(sheets), f_(f), names_(names), pump_(pump) {}

  void BeginRow(bool header) override {
    header_ = header;
    if (header) headerCells_.clear();
    if (!header && !names_ && dataRows_ == kDataRowsPerSheet) {
      ++sheet_;  // this sheet is full: go on with the next, under its own header
      dataRows_ = 0;
      Sheet().BeginRow();
      for (size_t c = 0; c < headerCells_.size(); ++c) Write(static_cast<int>(c), headerCells_[c]);
      Sheet().EndRow();
    }
    Sheet().BeginRow();
  }
  void Text(int column, std::string_view text) override {
    if (header_) headerCells_.emplace_back(text);
    Write(column, text);
  }
  void Number(int column, double value) override { Sheet().Number(column, value, StyleOf(column)); }
  void Time(int column, TDateTime value) override { Sheet().Number(column, value, f_.time); }
  bool EndRow() override {
    Sheet().EndRow();
    if (!header_) ++dataRows_;
    if (pump_ && (++sinceCheck_ & 255) == 0) {
      // Time-based, so that a fast sheet costs no pumping and a slow one stays responsive.
      const auto now = std::chrono::steady_clock::now();
      if (now - lastPump_ > std::chrono::milliseconds(30)) {
        lastPump_ = now;
        if (pump_()) return false;
      }
    }
    return true;
  }

 private:
  CSheetXmlWriter& Sheet() const { return *sheets_[sheet_]; }
  int StyleOf(int column) const {
    if (column == 1) return f_.left;
    if (column == 0 && !names_) return f_.centre;
    return 0;
  }
  void Write(int column, std::string_view text) { Sheet().Text(column, text, StyleOf(column)); }

  std::vector<std::unique_ptr<CSheetXmlWriter>>& sheets_;
  Formats f_;
  bool names_;
  const PumpHook& pump_;
  size_t sheet_ = 0;
  long dataRows_ = 0;
  bool header_ = false;
  std::vector<std::string> headerCells_;
  unsigned sinceCheck_ = 0;
  std::chrono::steady_clock::time_point lastPump_ = std::chrono::steady_clock::now();
};

// Number formatting in C conventions while the workbook is written, in the
// calling thread only (the window's own formats stay the user's).
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

// The sheets of the new file: names in order, and where each one's content
// comes from (-1: written now; otherwise its position in the previous file).
struct SheetPlan {
  std::vector<std::string> Names;
  std::vector<int> From;
  std::vector<size_t> Written;  // indices into Names of the sheets written now
};

bool IsOverflowOf(const std::string& name, const std::string& base) {
  return name.size() > base.size() + 2 && name.compare(0, base.size() + 2, base + " (") == 0 &&
         name.back() == ')';
}

SheetPlan PlanSheets(const std::vector<std::string>& old, int group, int sheetsNeeded) {
  SheetPlan plan;
  const std::string name = SheetName(group);
  const size_t p = static_cast<size_t>(group + 1);  // 0-based position
  for (size_t i = 0; i < kFixedSheets; ++i) {
    if (i == p) {
      plan.Names.push_back(name);
      plan.From.push_back(-1);
      plan.Written.push_back(i);
    } else if (i < old.size()) {
      plan.Names.push_back(old[i]);
      plan.From.push_back(static_cast<int>(i));
    } else {
      plan.Names.push_back(i == 0 ? SheetName(-1) : "Sheet" + std::to_string(i + 1));
      plan.From.push_back(-1);
    }
  }
  for (size_t i = kFixedSheets; i < old.size(); ++i) {
    if (IsOverflowOf(old[i], name)) continue;  // replaced by this save's own
    plan.Names.push_back(old[i]);
    plan.From.push_back(static_cast<int>(i));
  }
  for (int k = 2; k <= sheetsNeeded; ++k) {
    plan.Written.push_back(plan.Names.size());
    plan.Names.push_back(name + " (" + std::to_string(k) + ")");
    plan.From.push_back(-1);
  }
  return plan;
}

std::vector<TSheetColumn> Layout(int group, const Formats& f) {
  if (group < 0)
    return {{SheetColumnWidth(group, {}, 0), 0}, {SheetColumnWidth(group, {}, 1), f.left}};
  const std::vector<TLogColumn> columns = LogColumns(group);
  std::vector<TSheetColumn> layout;
  for (size_t c = 0; c < columns.size(); ++c)
    layout.push_back({SheetColumnWidth(group, columns, static_cast<int>(c)), c == 0   ? f.centre
                                                                             : c == 1 ? f.left
                                                                                      : 0});
  return layout;
}

// Removes the files of this save's sheet parts, whatever the way out.
struct PartFiles {
  std::vector<std::string> Paths;
  ~PartFiles() {
    for (const std::string& p : Paths) ::unlink(p.c_str());
  }
};

struct WorkbookCloser {
  void operator()(lxw_workbook* wb) const { lxw_workbook_free(wb); }
};

}  // namespace

TWorkbookUpdate UpdateWorkbook(const std::string& path, int group, const PumpHook& pump) {
  TWorkbookUpdate result;
  if (group >= kGroupCount) return result;
  if (group >= 0 && LogRecords.Empty()) return result;

  RemoveStaleTemps(path);
  const bool hadOld = FileExists(path);
  TWorkbookParts old;
  if (hadOld) old = ReadWorkbookParts(path);  // throws for a file we can't update

  const long records = group < 0 ? 0 : static_cast<long>(LogRecords.Count());
  const int sheetsNeeded =
      group < 0
          ? 1
          : static_cast<int>(std::max(1L, (records + kDataRowsPerSheet - 1) / kDataRowsPerSheet));
  const SheetPlan plan = PlanSheets(old.SheetNames, group, sheetsNeeded);

  // The skeleton: every sheet's name, the styles; libxlsxwriter writes it.
  const std::string temp = CreateTempBeside(path);
  CNumericCLocale cLocale;
  std::unique_ptr<lxw_workbook, WorkbookCloser> wb(workbook_new(temp.c_str()));
  if (!wb) {
    ::unlink(temp.c_str());
    throw EWorkbookError("Unable to write the workbook " + path);
  }
  const Formats formats = MakeFormats(wb.get());
  std::vector<lxw_worksheet*> sheets;
  for (const std::string& name : plan.Names) {
    lxw_worksheet* ws = workbook_add_worksheet(wb.get(), name.c_str());
    if (ws == nullptr) {
      ::unlink(temp.c_str());
      throw EWorkbookError("Unable to write the workbook " + path + ": bad sheet name " + name);
    }
    sheets.push_back(ws);
  }
  worksheet_activate(sheets[0]);

  // The sheets of this save, written as parts of their own.
  PartFiles parts;
  std::vector<std::unique_ptr<CSheetXmlWriter>> writers;
  const std::vector<TSheetColumn> layout = Layout(group, formats);
  const int columns = group < 0 ? 9 : static_cast<int>(layout.size());
  bool completed = false;
  try {
    for (size_t k = 0; k < plan.Written.size(); ++k) {
      parts.Paths.push_back(CreateTempBeside(path));
      const long dataRows =
          group < 0
              ? 26
              : std::min(kDataRowsPerSheet, records - static_cast<long>(k) * kDataRowsPerSheet);
      writers.push_back(std::make_unique<CSheetXmlWriter>(parts.Paths.back(),
                                                          group < 0 ? dataRows : dataRows + 1,
                                                          columns, plan.Written[k] == 0, layout));
    }
    CWorksheetSink sink(writers, formats, group < 0, pump);
    completed = BuildSheetText(group, sink);
    for (auto& w : writers)
      if (!w->Finish()) throw EWorkbookError("Unable to write the workbook " + path);
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }
  if (!completed) {
    ::unlink(temp.c_str());
    result.Stopped = true;
    return result;
  }

  // Assembling a big workbook takes a while: it runs beside the event loop,
  // which keeps pumping; nothing it touches is shared.
  std::vector<std::pair<int, int>> carried;  // new position, old position (1-based)
  for (size_t i = 0; i < plan.From.size(); ++i)
    if (plan.From[i] >= 0) carried.emplace_back(static_cast<int>(i) + 1, plan.From[i] + 1);
  std::vector<TDeflatedPart> inserted;
  for (size_t k = 0; k < plan.Written.size(); ++k)
    inserted.push_back(
        {static_cast<int>(plan.Written[k]) + 1, parts.Paths[k], writers[k]->Deflated()});
  if (!hadOld) carried.clear();
  lxw_workbook* raw = wb.release();
  auto work =
      std::async(std::launch::async, [raw, &temp, &path, &carried, &inserted]() -> std::string {
        CNumericCLocale workerLocale;
        const lxw_error e = workbook_close(raw);
        if (e != LXW_NO_ERROR)
          return "Unable to write the workbook " + path + ": " + lxw_strerror(e);
        return AssembleWorkbook(temp, path, carried, inserted);
      });
  bool stopped = false;
  while (work.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
    if (!stopped && pump) stopped = pump();
  }
  const std::string error = work.get();
  if (!error.empty()) {
    ::unlink(temp.c_str());
    throw EWorkbookError(error);
  }
  if (stopped) {
    ::unlink(temp.c_str());
    result.Stopped = true;
    return result;
  }
  // A workbook being built beside the one in use is flushed once, when the
  // build puts it in place; flushing each of its updates costs seconds.
  if (!(IsTempName(path) ? RenameTemp(temp, path) : CommitTemp(temp, path)))
    throw EWorkbookError("Unable to write the workbook " + path);
  result.Written = true;
  result.Sheets = group < 0 ? 1 : sheetsNeeded;
  return result;
}
