#include "cli/TerminalDownloadView.h"

#include <chrono>
#include <cstdio>

#include "app/LogTable.h"
#include "cli/FtpSession.h"
#include "meter/DataFolder.h"
#include "retrieval/FtpErrors.h"

namespace {

double NowSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

CTerminalDownloadView::CTerminalDownloadView(CZELMeterObj& meter, TFtpClient& ftp, bool tty)
    : meter_(meter), ftp_(ftp), tty_(tty) {}

CTerminalDownloadView::~CTerminalDownloadView() { EndLine(); }

void CTerminalDownloadView::ShowStatus(int panel, const std::string& text) {
  if (text.empty()) {
    panels_[panel].clear();
    return;
  }
  if (tty_) {
    panels_[panel] = text;
    std::fprintf(stderr, "\r\033[K%s  %s", panels_[0].c_str(), panels_[1].c_str());
    if (panel == 2 && text.rfind("Get file failed: ", 0) == 0) std::fprintf(stderr, "\n%s\n", text.c_str());
    open_ = true;
  } else if (panel != 2 || text.rfind("Get file failed: ", 0) == 0) {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

// The final line goes to stdout; what else a box would say goes to stderr.
void CTerminalDownloadView::ShowMessage(TMessageKind kind, const std::string& text) {
  if (kind != TMessageKind::Information) Line(text);
}

void CTerminalDownloadView::ShowError(const std::string& text) { Line(text); }

bool CTerminalDownloadView::Pump() { return Interrupted(); }

bool CTerminalDownloadView::SessionOpen() { return !Interrupted(); }

std::string CTerminalDownloadView::NodeCaption(size_t node) {
  char caption[32];
  std::snprintf(caption, sizeof caption, "Group %.2d", static_cast<int>(node) + 1);
  return caption;
}

void CTerminalDownloadView::SetTimeRange() {
  TDateTime a = 0, b = 0;
  RecordsTimeSpan(LogRecords, a, b);
}

TWorkbookUpdate CTerminalDownloadView::UpdateWorkbook(const std::string& path, int group) {
  return ::UpdateWorkbook(path, group, [] { return Interrupted(); });
}

void CTerminalDownloadView::CloseFtp() { FtpCloseQuietly(ftp_); }

bool CTerminalDownloadView::FtpOpen() { return FtpConnectedQuietly(ftp_); }

void CTerminalDownloadView::GroupProgress(int group, size_t filesDone, size_t files, int64_t bytesDone,
                                          int64_t bytes) {
  if (!tty_) {
    CDownloadView::GroupProgress(group, filesDone, files, bytesDone, bytes);
    return;
  }
  if (filesDone <= 1 || group != group_) {
    group_ = group;
    groupStart_ = NowSeconds();
  }
  constexpr int kWidth = 24;
  const double part = bytes > 0 ? static_cast<double>(bytesDone) / static_cast<double>(bytes) : 1.0;
  const int filled = static_cast<int>(part * kWidth);
  const double seconds = NowSeconds() - groupStart_;
  const double rate = seconds > 0 ? bytesDone / seconds : 0;
  const std::string left = rate > 0 ? ClockText(static_cast<uint32_t>((bytes - bytesDone) / rate)) : "--:--:--";
  char text[200];
  std::snprintf(text, sizeof text, "Group %.2d [%s%s] %zu/%zu files %s of %s, %s/s, %s left", group + 1,
                std::string(static_cast<size_t>(filled), '#').c_str(),
                std::string(static_cast<size_t>(kWidth - filled), '.').c_str(), filesDone, files,
                ByteSize(bytesDone).c_str(), ByteSize(bytes).c_str(), ByteSize(static_cast<int64_t>(rate)).c_str(),
                left.c_str());
  ShowStatus(0, text);
}

void CTerminalDownloadView::WorkBegin(int32_t maximum) { meterLine_.Begin(maximum, expected_, NowSeconds()); }

void CTerminalDownloadView::Work(int32_t count) { ShowStatus(1, meterLine_.Work(count, NowSeconds())); }

void CTerminalDownloadView::EndLine() {
  if (open_) std::fputc('\n', stderr);
  open_ = false;
}

void CTerminalDownloadView::Line(const std::string& text) {
  EndLine();
  std::fprintf(stderr, "%s\n", text.c_str());
}
