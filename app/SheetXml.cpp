#include "app/SheetXml.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace {

constexpr size_t kFlushBytes = 1 << 20;

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

// Text as XML character data; characters XML can't hold are written as the
// spreadsheet escape _xHHHH_, and so is a literal "_x" that would read as one.
void AppendEscaped(std::string& out, std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') ||
            (c == '_' && i + 1 < text.size() && text[i + 1] == 'x')) {
          char esc[16];
          std::snprintf(esc, sizeof esc, "_x%04X_", c);
          out += esc;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
}

}  // namespace

std::string ColumnName(int column) {
  std::string name;
  for (int n = column + 1; n > 0; n = (n - 1) / 26) name.insert(name.begin(), static_cast<char>('A' + (n - 1) % 26));
  return name;
}

CSheetXmlWriter::CSheetXmlWriter(const std::string& path, long rows, int columns, bool selected,
                                 const std::vector<TSheetColumn>& layout) {
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) throw std::runtime_error("Unable to write " + path);
  buf_.reserve(kFlushBytes + 4096);
  buf_ =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><dimension ref=\"A1";
  if (rows > 1 || columns > 1) {
    buf_ += ":" + ColumnName(std::max(columns, 1) - 1);
    AppendInt(buf_, std::max(rows, 1L));
  }
  buf_ += "\"/><sheetViews><sheetView ";
  if (selected) buf_ += "tabSelected=\"1\" ";
  buf_ += "workbookViewId=\"0\"/></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>";
  bool cols = false;
  for (size_t c = 0; c < layout.size(); ++c) {
    if (layout[c].Width <= 0 && layout[c].Style == 0) continue;
    if (!cols) buf_ += "<cols>";
    cols = true;
    const std::string n = std::to_string(c + 1);
    buf_ += "<col min=\"" + n + "\" max=\"" + n + "\" width=\"";
    AppendNumber(buf_, StoredWidth(layout[c].Width > 0 ? layout[c].Width : 8.43));
    buf_ += "\"";
    if (layout[c].Style != 0) buf_ += " style=\"" + std::to_string(layout[c].Style) + "\"";
    buf_ += " customWidth=\"1\"/>";
  }
  if (cols) buf_ += "</cols>";
  buf_ += rows > 0 ? "<sheetData>" : "<sheetData/>";
}

CSheetXmlWriter::~CSheetXmlWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

void CSheetXmlWriter::Flush() {
  if (ok_ && !buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), file_) != buf_.size()) ok_ = false;
  buf_.clear();
}

void CSheetXmlWriter::BeginRow() {
  ++row_;
  buf_ += "<row r=\"";
  AppendInt(buf_, row_);
  buf_ += "\">";
}

void CSheetXmlWriter::Cell(int column, int style) {
  buf_ += "<c r=\"";
  buf_ += ColumnName(column);
  AppendInt(buf_, row_);
  buf_ += '"';
  if (style != 0) {
    buf_ += " s=\"";
    AppendInt(buf_, style);
    buf_ += '"';
  }
}

void CSheetXmlWriter::Number(int column, double value, int style) {
  Cell(column, style);
  buf_ += "><v>";
  AppendNumber(buf_, value);
  buf_ += "</v></c>";
}

void CSheetXmlWriter::Text(int column, std::string_view text, int style) {
  Cell(column, style);
  buf_ += " t=\"inlineStr\"><is><t";
  // Blanks at either end are kept only when the text says so.
  if (!text.empty() && (text.front() == ' ' || text.back() == ' ' || text.front() == '\t' ||
                        text.back() == '\t' || text.front() == '\n' || text.back() == '\n'))
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
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return ok_ && closed;
}
