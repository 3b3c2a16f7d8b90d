#include "app/XlsxSheet.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

#include "meter/TextCodec.h"

namespace {

constexpr size_t kFlushBytes = 1 << 20;
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

}  // namespace

std::string ColumnName(int column) {
  std::string name;
  for (int n = column + 1; n > 0; n = (n - 1) / 26)
    name.insert(name.begin(), static_cast<char>('A' + (n - 1) % 26));
  return name;
}

CSheetXmlWriter::CSheetXmlWriter(std::FILE* out, long rows, int columns, bool selected,
                                 const std::vector<TXlsxColumn>& layout, const TStyleIndex& styles)
    : styles_(styles) {
  // Sheets are big and repetitive: the fastest deflate keeps most of the gain.
  deflate_ = std::make_unique<CParallelDeflate>(out, 1);
  buf_.reserve(kFlushBytes + 4096);
  buf_ =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><dimension "
      "ref=\"A1";
  if (rows > 1 || columns > 1) {
    buf_ += ':';
    buf_ += ColumnName(std::max(columns, 1) - 1);
    AppendInt(buf_, std::max(rows, 1L));
  }
  buf_ += "\"/><sheetViews><sheetView ";
  if (selected) buf_ += "tabSelected=\"1\" ";
  buf_ += "workbookViewId=\"0\"/></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>";
  bool cols = false;
  for (size_t c = 0; c < layout.size(); ++c) {
    const int style = styles_[static_cast<size_t>(layout[c].Style)];
    if (layout[c].Width <= 0 && style == 0) continue;
    if (!cols) buf_ += "<cols>";
    cols = true;
    const std::string n = std::to_string(c + 1);
    buf_ += "<col min=\"" + n + "\" max=\"" + n + "\" width=\"";
    AppendNumber(buf_, StoredWidth(layout[c].Width > 0 ? layout[c].Width : 8.43));
    buf_ += "\"";
    if (style != 0) buf_ += " style=\"" + std::to_string(style) + "\"";
    buf_ += " customWidth=\"1\"/>";
  }
  if (cols) buf_ += "</cols>";
  buf_ += rows > 0 ? "<sheetData>" : "<sheetData/>";
}

CSheetXmlWriter::~CSheetXmlWriter() = default;

void CSheetXmlWriter::Flush() {
  if (ok_ && !buf_.empty()) {
    std::string piece;
    piece.reserve(kFlushBytes + 4096);
    piece.swap(buf_);
    if (!deflate_->Add(std::move(piece))) ok_ = false;
  }
  buf_.clear();
}

void CSheetXmlWriter::BeginRow() {
  ++row_;
  rowText_.clear();
  AppendInt(rowText_, row_);
  buf_ += "<row r=\"";
  buf_ += rowText_;
  buf_ += "\">";
}

void CSheetXmlWriter::Cell(int column, TCellStyle cellStyle) {
  // Every cell names its column and row: both are made once, not per cell.
  if (column < 0 || column >= kMaxColumns) throw std::out_of_range("no such worksheet column");
  while (static_cast<size_t>(column) >= cellStarts_.size())
    cellStarts_.push_back("<c r=\"" + ColumnName(static_cast<int>(cellStarts_.size())));
  buf_ += cellStarts_[static_cast<size_t>(column)];
  buf_ += rowText_;
  buf_ += '"';
  if (const int style = styles_[static_cast<size_t>(cellStyle)]; style != 0) {
    buf_ += " s=\"";
    AppendInt(buf_, style);
    buf_ += '"';
  }
}

void CSheetXmlWriter::Number(int column, double value, TCellStyle style) {
  Cell(column, style);
  buf_ += "><v>";
  AppendNumber(buf_, value);
  buf_ += "</v></c>";
}

void CSheetXmlWriter::Text(int column, std::string_view text, TCellStyle style) {
  Cell(column, style);
  buf_ += " t=\"inlineStr\"><is><t";
  // Blanks at either end are kept only when the text says so.
  if (!text.empty() &&
      (text.front() == ' ' || text.back() == ' ' || text.front() == '\t' || text.back() == '\t' ||
       text.front() == '\n' || text.back() == '\n' || text.front() == '\r' || text.back() == '\r'))
    buf_ += " xml:space=\"preserve\"";
  buf_ += '>';
  AppendEscaped(buf_, text);
  buf_ += "</t></is></c>";
}

void CSheetXmlWriter::EndRow() {
  buf_ += "</row>";
  if (buf_.size() >= kFlushBytes) Flush();
}

bool CSheetXmlWriter::Finish() {
  if (row_ > 0) buf_ += "</sheetData>";
  buf_ +=
      "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
      "footer=\"0.3\"/></worksheet>";
  Flush();
  if (!deflate_->Finish(deflated_)) ok_ = false;
  deflate_.reset();
  return ok_;
}
