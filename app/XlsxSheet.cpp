#include "app/XlsxSheet.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "meter/TextCodec.h"

namespace {

// Recorded cells handed to a worker at a time: about 1 MiB of XML.
constexpr size_t kTapeBytes = 384 << 10;
constexpr int kMaxColumns = 16384;  // a worksheet's "XFD"

// A spreadsheet stores a width of n characters with the padding of its
// default font (5 pixels at 7 pixels a character), in 1/256 steps.
double StoredWidth(double chars) { return std::floor((chars * 7 + 5) / 7 * 256) / 256; }

void AppendNumber(std::string& out, double v) {
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, v);
  out.append(text, r.ptr);
}

void AppendInt(std::string& out, long v) {
  char text[24];
  const auto r = std::to_chars(text, text + sizeof text, v);
  out.append(text, r.ptr);
}

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// "_x" + four hex digits + "_" at text[at]: what a reader takes for an escape.
bool LooksEscaped(std::string_view text, size_t at) {
  return at + 7 <= text.size() && text[at] == '_' && text[at + 1] == 'x' && IsHex(text[at + 2]) &&
         IsHex(text[at + 3]) && IsHex(text[at + 4]) && IsHex(text[at + 5]) && text[at + 6] == '_';
}

void AppendSpreadsheetEscape(std::string& out, char32_t cp) {
  char esc[16];
  std::snprintf(esc, sizeof esc, "_x%04X_", static_cast<unsigned>(cp));
  out += esc;
}

// Text as XML 1.0 character data (valid in attribute values too). Characters
// XML can't hold are written as the spreadsheet escape _xHHHH_, and the "_"
// of a literal "_xHHHH_" as _x005F_, so that both read back as they were.
// Names come from files made on Windows too: bytes that are no UTF-8 are
// Windows-1252, so the part stays well-formed UTF-8.
void AppendEscaped(std::string& out, std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const size_t len = Utf8SequenceAt(text, i, cp);
    if (len == 0) {
      AppendWindows1252(out, static_cast<uint8_t>(text[i]));
      ++i;
      continue;
    }
    switch (cp) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      // A raw CR would come back as LF: XML parsers normalise line ends.
      case '\r':
        out += "&#13;";
        break;
      default:
        if ((cp < 0x20 && cp != '\t' && cp != '\n') || cp == 0xFFFE || cp == 0xFFFF) {
          AppendSpreadsheetEscape(out, cp);
        } else if (cp == '_' && LooksEscaped(text, i)) {
          AppendSpreadsheetEscape(out, cp);
        } else {
          out.append(text.substr(i, len));
        }
    }
    i += len;
  }
}

// The tape a sheet's cells are recorded on, for a worker to format: a kind
// byte, then for a cell its column (2 bytes), its style (1) and a double or
// a length (8) and the bytes of its text; raw XML has a length and bytes.
enum : char { kRow = 'R', kEnd = 'E', kNumber = 'N', kText = 'T', kRaw = 'X' };

template <typename T>
void Put(std::string& tape, T v) {
  tape.append(reinterpret_cast<const char*>(&v), sizeof v);
}

template <typename T>
T Take(const std::string& tape, size_t& at) {
  T v;
  std::memcpy(&v, tape.data() + at, sizeof v);
  at += sizeof v;
  return v;
}

}  // namespace

std::string ColumnName(int column) {
  std::string name;
  for (int n = column + 1; n > 0; n = (n - 1) / 26)
    name.insert(name.begin(), static_cast<char>('A' + (n - 1) % 26));
  return name;
}

namespace {

// Text written into room made ahead, so that the bulk of a sheet, its
// number cells, costs no check and no call per piece of a cell.
class CXmlOut {
 public:
  CXmlOut(std::string& s, size_t hint) : s_(s) { s_.resize(std::max<size_t>(hint, 4096)); }
  char* Room(size_t n) {
    if (s_.size() - used_ < n) s_.resize(std::max(2 * s_.size(), used_ + n));
    return s_.data() + used_;
  }
  void Wrote(const char* end) { used_ = static_cast<size_t>(end - s_.data()); }
  void Put(std::string_view text) {
    std::memcpy(Room(text.size()), text.data(), text.size());
    used_ += text.size();
  }
  void End() { s_.resize(used_); }

 private:
  std::string& s_;
  size_t used_ = 0;
};

// A meter's values are mostly hundredths, whose shortest exact form is the
// digits of that number of hundredths: written here without the search of
// to_chars, to the same text. nullptr for any other value (-0 included).
char* AppendHundredths(char* p, double v) {
  if (!(std::fabs(v) < 10000) || v == 0) return nullptr;
  const long long k = std::llround(v * 100);
  if (static_cast<double>(k) / 100 != v) return nullptr;
  if (k < 0) *p++ = '-';
  const auto u = static_cast<unsigned long long>(k < 0 ? -k : k);
  p = std::to_chars(p, p + 8, u / 100).ptr;
  if (const auto f = static_cast<unsigned>(u % 100); f != 0) {
    *p++ = '.';
    *p++ = static_cast<char>('0' + f / 10);
    if (f % 10 != 0) *p++ = static_cast<char>('0' + f % 10);
  }
  return p;
}

char* Copy(char* to, std::string_view text) {
  std::memcpy(to, text.data(), text.size());
  return to + text.size();
}

}  // namespace

struct CSheetXmlWriter::Cells {
  std::array<std::string, 4> Styles;  // " s=\"N\"" of each TCellStyle, or ""
  std::vector<std::string> Starts;    // "<c r=\"" and the column's letters, of the sized columns

  // The XML of the recorded rows, the first of them numbered row.
  void Format(const std::string& tape, long row, std::string& xml) const {
    CXmlOut out(xml, tape.size() * 3);
    char rowText[24];
    size_t rowLen = 0;
    std::string start, text;
    for (size_t at = 0; at < tape.size();) {
      const char kind = tape[at++];
      if (kind == kRow) {
        rowLen = static_cast<size_t>(std::to_chars(rowText, rowText + sizeof rowText, row++).ptr -
                                     rowText);
        char* p = Copy(out.Room(rowLen + 16), "<row r=\"");
        p = Copy(p, {rowText, rowLen});
        out.Wrote(Copy(p, "\">"));
        continue;
      }
      if (kind == kEnd) {
        out.Put("</row>");
        continue;
      }
      if (kind == kRaw) {
        const auto len = Take<uint64_t>(tape, at);
        out.Put({tape.data() + at, len});
        at += len;
        continue;
      }
      // Every cell names its column and row: both are made once, not per cell.
      const auto column = Take<uint16_t>(tape, at);
      const std::string& style = Styles[Take<uint8_t>(tape, at)];
      if (column >= Starts.size()) start = "<c r=\"" + ColumnName(column);
      const std::string& head = column < Starts.size() ? Starts[column] : start;
      char* p = out.Room(head.size() + rowLen + style.size() + 48);
      p = Copy(p, head);
      p = Copy(p, {rowText, rowLen});
      *p++ = '"';
      p = Copy(p, style);
      if (kind == kNumber) {
        p = Copy(p, "><v>");
        const auto v = Take<double>(tape, at);
        char* end = AppendHundredths(p, v);
        p = end != nullptr ? end : std::to_chars(p, p + 32, v).ptr;
        out.Wrote(Copy(p, "</v></c>"));
        continue;
      }
      out.Wrote(p);
      const auto len = Take<uint64_t>(tape, at);
      const std::string_view value(tape.data() + at, len);
      at += len;
      text = " t=\"inlineStr\"><is><t";
      // Blanks at either end are kept only when the text says so.
      if (!value.empty() && (value.front() == ' ' || value.back() == ' ' || value.front() == '\t' ||
                             value.back() == '\t' || value.front() == '\n' ||
                             value.back() == '\n' || value.front() == '\r' || value.back() == '\r'))
        text += " xml:space=\"preserve\"";
      text += '>';
      AppendEscaped(text, value);
      text += "</t></is></c>";
      out.Put(text);
    }
    out.End();
  }
};

CSheetXmlWriter::CSheetXmlWriter(std::FILE* out, long rows, int columns, bool selected,
                                 const std::vector<TXlsxColumn>& layout,
                                 const TStyleIndex& styles) {
  auto cells = std::make_shared<Cells>();
  for (size_t k = 0; k < styles.size(); ++k)
    if (styles[k] != 0) cells->Styles[k] = " s=\"" + std::to_string(styles[k]) + "\"";
  const size_t sized = std::min<size_t>(
      std::max(static_cast<size_t>(std::max(columns, 0)), layout.size()), kMaxColumns);
  for (size_t c = 0; c < sized; ++c)
    cells->Starts.push_back("<c r=\"" + ColumnName(static_cast<int>(c)));
  cells_ = cells;
  // Sheets are big and repetitive: the fastest deflate keeps most of the gain.
  deflate_ = std::make_unique<CParallelDeflate>(out, 1);
  tape_.reserve(kTapeBytes + 4096);
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><dimension "
      "ref=\"A1";
  if (rows > 1 || columns > 1) {
    xml += ':';
    xml += ColumnName(std::max(columns, 1) - 1);
    AppendInt(xml, std::max(rows, 1L));
  }
  xml += "\"/><sheetViews><sheetView ";
  if (selected) xml += "tabSelected=\"1\" ";
  xml += "workbookViewId=\"0\"/></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>";
  bool cols = false;
  for (size_t c = 0; c < layout.size(); ++c) {
    const int style = styles[static_cast<size_t>(layout[c].Style)];
    if (layout[c].Width <= 0 && style == 0) continue;
    if (!cols) xml += "<cols>";
    cols = true;
    const std::string n = std::to_string(c + 1);
    xml += "<col min=\"" + n + "\" max=\"" + n + "\" width=\"";
    AppendNumber(xml, StoredWidth(layout[c].Width > 0 ? layout[c].Width : 8.43));
    xml += "\"";
    if (style != 0) xml += " style=\"" + std::to_string(style) + "\"";
    xml += " customWidth=\"1\"/>";
  }
  if (cols) xml += "</cols>";
  xml += rows > 0 ? "<sheetData>" : "<sheetData/>";
  Raw(xml);
}

CSheetXmlWriter::~CSheetXmlWriter() = default;

void CSheetXmlWriter::Raw(std::string_view xml) {
  tape_ += kRaw;
  Put<uint64_t>(tape_, xml.size());
  tape_.append(xml);
}

void CSheetXmlWriter::Flush() {
  if (ok_ && !tape_.empty()) {
    std::string tape;
    tape.reserve(kTapeBytes + 4096);
    tape.swap(tape_);
    auto make = [tape = std::move(tape), row = tapeRow_, cells = cells_](std::string& xml) {
      cells->Format(tape, row, xml);
    };
    if (!deflate_->Add(std::move(make))) ok_ = false;
  }
  tape_.clear();
  tapeRow_ = row_ + 1;
}

void CSheetXmlWriter::BeginRow() {
  ++row_;
  tape_ += kRow;
}

void CSheetXmlWriter::Cell(char kind, int column, TCellStyle style) {
  if (column < 0 || column >= kMaxColumns) throw std::out_of_range("no such worksheet column");
  tape_ += kind;
  Put<uint16_t>(tape_, static_cast<uint16_t>(column));
  Put<uint8_t>(tape_, static_cast<uint8_t>(style));
}

void CSheetXmlWriter::Number(int column, double value, TCellStyle style) {
  Cell(kNumber, column, style);
  Put<double>(tape_, value);
}

void CSheetXmlWriter::Text(int column, std::string_view text, TCellStyle style) {
  Cell(kText, column, style);
  Put<uint64_t>(tape_, text.size());
  tape_.append(text);
}

void CSheetXmlWriter::EndRow() {
  tape_ += kEnd;
  if (tape_.size() >= kTapeBytes) Flush();
}

bool CSheetXmlWriter::Finish() {
  if (row_ > 0) Raw("</sheetData>");
  Raw("<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
      "footer=\"0.3\"/></worksheet>");
  Flush();
  if (!deflate_->Finish(deflated_)) ok_ = false;
  deflate_.reset();
  return ok_;
}
