#include "app/LogDownload.h"

#include <strings.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "app/GroupFiles.h"
#include "app/GroupKeys.h"
#include "app/OfflineLoad.h"
#include "app/TransferMeter.h"
#include "meter/DataFolder.h"
#include "meter/FileReplace.h"
#include "meter/DateTimeUtil.h"
#include "meter/ZelDef.h"
#include "retrieval/MirrorFolder.h"

namespace {

// The file node's text: the name with every ".dat" removed, letter case ignored.
std::string NodeText(std::string name) {
  for (size_t at = 0; at + 4 <= name.size();) {
    if (strncasecmp(name.c_str() + at, ".dat", 4) == 0) {
      name.erase(at, 4);
    } else {
      ++at;
    }
  }
  return name;
}

}  // namespace

std::string ByteSize(int64_t bytes) {
  char text[32];
  if (bytes < 1048576) {
    std::snprintf(text, sizeof text, "%.0f kB", bytes / 1024.0);
  } else {
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1048576.0);
  }
  return text;
}

void CDownloadView::GroupProgress(int group, size_t filesDone, size_t files, int64_t bytesDone, int64_t bytes) {
  char caption[32];
  std::snprintf(caption, sizeof caption, "Group %.2d: ", group + 1);
  ShowStatus(0, caption + std::to_string(filesDone) + "/" + std::to_string(files) + " files, " + ByteSize(bytesDone) +
                    " of " + ByteSize(bytes));
}

void CLogDownload::Pause(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (view_.Pump() || !view_.SessionOpen()) return;
    const auto left = end - std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(20)));
  }
}

TGroupFetchEvents CLogDownload::Events() {
  TGroupFetchEvents e;
  e.Continue = [this] { return view_.SessionOpen() && !view_.Pump(); };
  e.Pause = [this](int ms) { Pause(ms); };
  return e;
}

void CLogDownload::DownloadGroup(int group, TDownloadResult& result, bool onlyNew) {
  TGroupFetchEvents events = Events();
  fetcher_.EnsureSession(events);
  if (group < 0 || group >= kGroupCount) return;
  const std::string dataLog = DeviceDataLogFolder(PanelNames.DeviceName);
  ForceFolders(dataLog);
  LogRecords.Clear();
  const std::string d = dataLog + "Group" + std::to_string(group + 1) + "/";
  if (!onlyNew) ClearFolder(d);
  ForceFolders(d);
  if (onlyNew) RemoveStaleTempsIn(d);
  view_.ShowStatus(1, CGroupFetcher::RemoteFolder(group));

  events.FileStarted = [this](const std::string& remotePath, int32_t expected) {
    view_.FileStarted(expected);
    view_.ShowStatus(2, remotePath);
  };
  events.FileFailed = [this](const std::string& local, const std::string&) {
    view_.ShowStatus(2, "Get file failed: " + local);
  };
  if (!onlyNew) {
    events.FileArrived = [this, group](const std::string& local, const std::string& name) {
      CZELMeterObj::ReadDataLogFile(group, local);
      view_.ShowRecords(LogRecords.Count());
      view_.AddFileNode(NodeText(name));
    };
  }
  events.Progress = [this, group](size_t filesDone, size_t files, int64_t bytesDone, int64_t bytes) {
    view_.GroupProgress(group, filesDone, files, bytesDone, bytes);
  };
  const TGroupFetchResult r = fetcher_.FetchGroup(group, d, events, onlyNew);
  WriteGroupKeys(dataLog, group, GroupSetups[static_cast<size_t>(group)]);
  result.Files[group] = r.Fetched;
  result.Failed += r.Failed;
  if (!r.Ended) view_.ShowStatus(2, "");
  if (onlyNew) {
    // Every local file of the group, the meter's dropped ones included, as an offline load reads them.
    std::vector<std::string> files;
    FindFiles(d, ".dat", files);
    ReadGroupRecords(dataLog, group, [this] { return view_.Pump(); });
    view_.ShowRecords(LogRecords.Count());
    for (const std::string& f : files) view_.AddFileNode(NodeText(f.substr(d.size())));
    result.Kept[group] = files.size() > r.Fetched ? files.size() - r.Fetched : 0;
  }
}

TDownloadResult CLogDownload::Run(bool onlyNew, bool workbook) {
  TDownloadResult result;
  view_.EnableDownload(false);
  if (!view_.DeviceNameRead()) {
    // The name still held belongs to another meter (or to none): its folder must not be touched.
    view_.ShowMessage(TMessageKind::Error,
                      "The device name could not be read from the meter, so its folder is unknown. "
                      "Nothing was downloaded; connect again and retry.");
    return result;
  }
  // Nothing of the earlier download goes before the tree and the FTP server are known to work.
  size_t groupsInTree = 0;
  for (size_t i = 0; i < view_.NodeCount(); ++i) groupsInTree += view_.IsGroupNode(i) ? 1 : 0;
  if (groupsInTree < static_cast<size_t>(kGroupCount)) throw std::out_of_range("Invalid index");
  fetcher_.EnsureSession(Events());

  const std::string dataLog = DeviceDataLogFolder(PanelNames.DeviceName);
  if (!onlyNew) ClearFolder(dataLog);
  // The names first, as the connect writes them, so that the folder opens offline.
  CZELMeterObj::SavePanelNames();
  if (view_.ReadSnapShotSetup()) {
    if (onlyNew) {
      for (int g = 0; g < kGroupCount; ++g) {
        if (SameGroupKeys(dataLog, g, GroupSetups[static_cast<size_t>(g)])) continue;
        const std::string aside = MoveGroupAside(dataLog, g);
        if (!aside.empty())
          view_.ShowError("The keys that Group " + std::to_string(g + 1) +
                          " logs have changed: its earlier files were moved to " + aside + ".");
        std::remove(GroupKeysPath(dataLog, g).c_str());
      }
    }
    CZELMeterObj::SaveDataLogSetup();
    view_.ShowStatus(1, "Read SnapShot Setup Successed.");
  } else {
    view_.ShowStatus(1, "Read SnapShot Setup failed.");
  }
  if (workbook) {
    std::remove((dataLog + "template.xlsx").c_str());  // rebuilt from the group's files
    view_.UpdateWorkbook(-1);
  }
  const auto start = std::chrono::steady_clock::now();
  view_.ShowStatus(1, "Starting to download logs.");

  size_t node = 0;
  int group = 0;
  while (group < kGroupCount) {
    if (!view_.SessionOpen() || view_.Pump()) {
      if (view_.FtpOpen()) view_.CloseFtp();
      return result;
    }
    if (node >= view_.NodeCount()) throw std::out_of_range("Invalid index");
    if (!view_.IsGroupNode(node)) {
      ++node;
      continue;
    }
    if (!view_.SelectNode(node)) return result;
    view_.BeginGroup(group, view_.NodeCaption(node));
    view_.RemoveChildren(node);
    DownloadGroup(group, result, onlyNew);
    view_.EnableDownload(true);
    result.Records[group] = LogRecords.Count();
    try {
      view_.SetTimeRange();
    } catch (const EConvertError& e) {
      view_.ShowError(e.what());  // one bad time stamp must not end a long download
    }
    view_.SetLogsNumber(LogRecords.Count());
    if (workbook && view_.UpdateWorkbook(group).Stopped) return result;
    ++node;
    ++group;
  }
  view_.SelectFirstNode();
  view_.EnableDisplayGroup();
  const auto seconds = static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count());
  result.FinalText = (onlyNew ? "Finished to download new files, elapsed time: "
                               : "Finished to download logs, elapsed time: ") +
                     ClockText(seconds);
  result.Finished = true;
  view_.ShowStatus(0, "");
  view_.ShowStatus(1, result.FinalText);
  if (result.Failed == 0) {
    view_.ShowMessage(TMessageKind::Information, result.FinalText);
  } else {
    view_.ShowMessage(TMessageKind::Warning,
                      result.FinalText + "\n" + std::to_string(result.Failed) +
                          (result.Failed == 1 ? " file could not be fetched." : " files could not be fetched."));
  }
  return result;
}
