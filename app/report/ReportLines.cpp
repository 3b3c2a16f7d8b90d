#include "app/report/ReportLines.h"

#include <charconv>
#include <cmath>

namespace {

std::string GroupText(int group) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "Group %.2d", group + 1);
  return buf;
}

// A field of a TAB line: tabs and line breaks of names would split it.
std::string TabField(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  return out;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// One item: TAB fields in order, or a JSON object of the same fields by name.
class CLine {
 public:
  CLine(bool json, const char* kind) : json_(json) {
    if (json_) {
      text_ = "{\"kind\":" + JsonString(kind);
    } else {
      text_ = kind;
    }
  }
  CLine& Text(const char* key, const std::string& v) {
    return Raw(key, JsonString(v), TabField(v));
  }
  CLine& Number(const char* key, double v) {
    const std::string n = NumberText(v);
    return Raw(key, n, n);
  }
  CLine& Group(int group) { return Raw("group", std::to_string(group + 1), GroupText(group)); }
  CLine& Time(const char* key, TReportSeconds t) { return Text(key, FormatReportTime(t)); }
  bool Write(std::FILE* out) {
    text_ += json_ ? "}\n" : "\n";
    return std::fwrite(text_.data(), 1, text_.size(), out) == text_.size();
  }

 private:
  CLine& Raw(const char* key, const std::string& json, const std::string& tab) {
    if (json_) {
      text_ += ",";
      text_ += JsonString(key);
      text_ += ":" + json;
    } else {
      text_ += "\t" + tab;
    }
    return *this;
  }
  bool json_;
  std::string text_;
};

}  // namespace

std::string NumberText(double v) {
  if (!std::isfinite(v)) return "0";
  if (v == 0) v = 0;  // no "-0"
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

bool WriteReportLines(std::FILE* out, const TReport& report, const std::vector<TTenant>& tenants,
                      const std::vector<TTenantPeriod>& tenantPeriods, std::optional<double> price,
                      bool json) {
  bool ok = true;
  for (const TReportSeries& s : report.Series) {
    for (const TPeriodStats& p : s.Periods) {
      CLine line(json, s.Energy ? "energy" : "demand");
      line.Text("period", PeriodLabel(p.Period))
          .Group(s.Group)
          .Text("caption", s.Caption)
          .Text("circuit", s.Circuit);
      if (s.Energy)
        line.Number("consumption", p.Consumption);
      else
        line.Number("max", p.Max).Time("time", p.MaxTime).Number("mean", p.Mean());
      ok = line.Write(out) && ok;
    }
  }
  for (const TTenantPeriod& t : tenantPeriods) {
    CLine line(json, "tenant");
    line.Text("period", PeriodLabel(t.Period)).Text("name", tenants[t.Tenant].Name);
    line.Number("kwh", t.Consumption[0])
        .Number("kvarh", t.Consumption[1])
        .Number("kvah", t.Consumption[2]);
    if (price) line.Number("cost", t.Consumption[0] * *price);
    ok = line.Write(out) && ok;
  }
  for (const TResetEvent& r : report.Resets) {
    const TReportSeries& s = report.Series[r.Series];
    CLine line(json, "reset");
    line.Group(s.Group).Text("caption", s.Caption).Time("time", r.Time).Number("before", r.Before);
    ok = line.Number("after", r.After).Write(out) && ok;
  }
  for (const TGapEvent& g : report.Gaps) {
    CLine line(json, "gap");
    ok = line.Group(g.Group).Time("start", g.Start).Time("end", g.End).Write(out) && ok;
  }
  for (const TOverloadEvent& o : report.Overloads) {
    const TReportSeries& s = report.Series[o.Series];
    const TPeriodStats& p = s.Periods[o.Period];
    CLine line(json, "overload");
    line.Text("period", PeriodLabel(p.Period))
        .Group(s.Group)
        .Text("caption", s.Caption)
        .Text("circuit", s.Circuit);
    ok = line.Number("max", p.Max).Time("time", p.MaxTime).Write(out) && ok;
  }
  return ok;
}
