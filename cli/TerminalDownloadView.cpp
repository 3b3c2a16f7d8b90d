#include "cli/TerminalDownloadView.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "app/LogTable.h"
#include "cli/FtpSession.h"
#include "cli/TerminalWidth.h"
#include "meter/DataFolder.h"
#include "retrieval/FtpErrors.h"

namespace {

double NowSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Below this, bytes over time say more about the clock than about the link.
constexpr double kRateInterval = 1.0;

}  // namespace

CTerminalDownloadView::CTerminalDownloadView(CZELMeterObj& meter, TFtpClient& ftp, bool tty)
    : meter_(meter), ftp_(ftp), tty_(tty) {
  if (!tty_) return;
  WatchTerminalWidth();
  columns_ = TerminalColumns();
  stdoutTty_ = isatty(STDOUT_FILENO) == 1;
}

CTerminalDownloadView::~CTerminalDownloadView() { EndLine(); }

void CTerminalDownloadView::ShowStatus(int panel, const std::string& text) {
  if (panel == 0 && text.empty()) hasProgress_ = false;
  if (text.empty()) {
    panels_[panel].clear();
    return;
  }
  if (tty_) {
    panels_[panel] = text;
    Redraw();
    if (panel == 2 && text.rfind("Get file failed: ", 0) == 0) Line(text);
  } else if (panel != 2 || text.rfind("Get file failed: ", 0) == 0) {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

void CTerminalDownloadView::Redraw() {
  if (TerminalResized()) columns_ = TerminalColumns();
  std::string line;
  if (hasProgress_) {
    progress_.Detail = panels_[1];
    line = FitProgressLine(progress_, columns_);
  } else {
    line = FitText(panels_[1].empty() ? panels_[0] : panels_[1], columns_);
  }
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  open_ = true;
}

// The final line goes to stdout; what else a box would say goes to stderr.
void CTerminalDownloadView::ShowMessage(TMessageKind kind, const std::string& text) {
  if (kind != TMessageKind::Information) Line(text);
}

void CTerminalDownloadView::ShowError(const std::string& text) { Line(text); }

bool CTerminalDownloadView::Pump() {
  // A resize while nothing else is drawn (a pause between files) redraws at once.
  if (tty_ && open_ && TerminalResized()) {
    columns_ = TerminalColumns();
    Redraw();
  }
  return Interrupted();
}

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

TWorkbookUpdate CTerminalDownloadView::UpdateWorkbook(CWorkbookBuild& build, int group) {
  return ::UpdateWorkbook(build, group, [] { return Interrupted(); });
}

void CTerminalDownloadView::CloseFtp() { FtpCloseQuietly(ftp_); }

bool CTerminalDownloadView::FtpOpen() { return FtpConnectedQuietly(ftp_); }

void CTerminalDownloadView::BeginGroup(int group, const std::string&) {
  // The bar of the group before would stand under this one's name.
  hasProgress_ = false;
  progress_.Group = group;
  groupStarted_ = false;
  fetching_ = false;
  groupFetched_ = lastBytesDone_ = 0;
}

void CTerminalDownloadView::FileStarted(int32_t expectedSize) {
  expected_ = expectedSize;
  if (!groupStarted_) {
    groupStarted_ = true;
    groupStart_ = NowSeconds();
  }
  fetching_ = true;
}

void CTerminalDownloadView::GroupProgress(int group, size_t filesDone, size_t files,
                                          int64_t bytesDone, int64_t bytes) {
  if (!tty_) {
    CDownloadView::GroupProgress(group, filesDone, files, bytesDone, bytes);
    return;
  }
  progress_.Group = group;
  progress_.FilesDone = filesDone;
  progress_.Files = files;
  progress_.BytesDone = bytesDone;
  progress_.Bytes = bytes;
  // The bytes since the last report were fetched when a file was started
  // since; a sync's files that were already here cost no time.
  if (fetching_) groupFetched_ += bytesDone - lastBytesDone_;
  fetching_ = false;
  lastBytesDone_ = bytesDone;
  const double seconds = groupStarted_ ? NowSeconds() - groupStart_ : 0;
  progress_.Rate = seconds >= kRateInterval && groupFetched_ > 0
                       ? static_cast<double>(groupFetched_) / seconds
                       : 0;
  hasProgress_ = true;
  Redraw();
}

void CTerminalDownloadView::WorkBegin(int32_t maximum) {
  meterLine_.Begin(maximum, expected_, NowSeconds());
}

void CTerminalDownloadView::Work(int32_t count) {
  ShowStatus(1, meterLine_.Work(count, NowSeconds()));
}

void CTerminalDownloadView::EndLine() {
  if (!open_) return;
  // With the results on the same terminal the line has said its part: it
  // goes, so that the final line is read once, from stdout.
  if (stdoutTty_ && finalOnStdout_) {
    std::fputs("\r\033[K", stderr);
  } else if (!hasProgress_ && !panels_[1].empty()) {
    // A message that stays is shown whole, though it may take two rows.
    std::fprintf(stderr, "\r\033[K%s\n", panels_[1].c_str());
  } else {
    std::fputc('\n', stderr);
  }
  open_ = false;
}

void CTerminalDownloadView::Line(const std::string& text) {
  EndLine();
  std::fprintf(stderr, "%s\n", text.c_str());
}
