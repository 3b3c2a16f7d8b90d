#include "app/LogDownload.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <stdexcept>
#include <thread>

#include "app/GroupFiles.h"
#include "app/GroupKeys.h"
#include "app/LogTable.h"
#include "app/OfflineLoad.h"
#include "app/TransferMeter.h"
#include "meter/DataFolder.h"
#include "meter/DateTimeUtil.h"
#include "meter/FileReplace.h"
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

void CDownloadSink::GroupProgress(int group, size_t filesDone, size_t files, int64_t bytesDone,
                                  int64_t bytes) {
  char caption[32];
  std::snprintf(caption, sizeof caption, "Group %.2d: ", group + 1);
  ShowStatus(0, caption + std::to_string(filesDone) + "/" + std::to_string(files) + " files, " +
                    ByteSize(bytesDone) + " of " + ByteSize(bytes));
}

void CLogDownload::Pause(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (sink_.Pump() || !sink_.SessionOpen()) return;
    const auto left = end - std::chrono::steady_clock::now();
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(20)));
  }
}

TGroupFetchEvents CLogDownload::Events() {
  TGroupFetchEvents e;
  e.Continue = [this] { return sink_.SessionOpen() && !sink_.Pump(); };
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
  const TDataLogSetup& setup = GroupSetups[static_cast<size_t>(group)];
  // Files written with other keys would be read as nonsense: they step aside,
  // whole, before any file of the new keys arrives.
  if (setupRead_ && !SameGroupKeys(dataLog, group, setup)) {
    const std::string aside = MoveGroupAside(dataLog, group);
    if (!aside.empty() && onlyNew)
      sink_.ShowMessage(TMessageKind::Error,
                        "The keys that Group " + std::to_string(group + 1) +
                            " logs have changed: its earlier files were moved to " + aside + ".");
    std::remove(GroupKeysPath(dataLog, group).c_str());
  }
  // A link in the group's place is never followed: the fetch stays in the data folder.
  if (!MakeRealFolder(d)) throw std::runtime_error("Unable to make the folder " + d);
  RemoveStaleTempsIn(d);
  sink_.ShowStatus(1, CGroupFetcher::RemoteFolder(group));

  events.FileStarted = [this](const std::string& remotePath, int32_t expected) {
    sink_.FileStarted(expected);
    sink_.ShowStatus(2, remotePath);
  };
  events.FileFailed = [this](const std::string& local, const std::string&) {
    sink_.ShowStatus(2, "Get file failed: " + local);
  };
  if (!onlyNew) {
    events.FileArrived = [this, group](const std::string& local, const std::string& name) {
      CZELMeterObj::ReadDataLogFile(group, local);
      sink_.RecordsChanged(LogRecords.Count());
      sink_.FileNodeAdded(NodeText(name));
    };
  }
  events.Progress = [this, group](size_t filesDone, size_t files, int64_t bytesDone,
                                  int64_t bytes) {
    sink_.GroupProgress(group, filesDone, files, bytesDone, bytes);
  };
  const TGroupFetchResult r =
      fetcher_.FetchGroup(group, d, events, onlyNew ? TFetchMode::OnlyNew : TFetchMode::All);
  // Keys are recorded only from a setup read whole, for files that were listed.
  if (setupRead_ && !r.ListFailed) WriteGroupKeys(dataLog, group, setup);
  result.Files[group] = r.Fetched;
  result.Failed += r.Failed;
  std::vector<std::string> files;
  if (onlyNew || r.ListFailed) FindFiles(d, ".dat", files);
  // A folder the meter does not have, for a group with nothing here, loses nothing.
  const bool listFailed = r.ListFailed && !files.empty();
  if (!r.Completed && !(r.ListFailed && files.empty())) groupsCompleted_ = false;
  sink_.ShowStatus(2, "");
  if (listFailed) {
    ++result.ListFailed;
    sink_.ShowStatus(1, "The files of Group " + std::to_string(group + 1) +
                            " could not be listed (" + r.Error + "); its earlier files were kept.");
  }
  if (onlyNew || listFailed) {
    // Every local file of the group, the meter's dropped ones included, as an offline load reads
    // them.
    ReadGroupRecords(dataLog, group, [this] { return sink_.Pump(); });
    sink_.RecordsChanged(LogRecords.Count());
    std::vector<std::string> nodes;
    for (const std::string& f : files) nodes.push_back(NodeText(f.substr(d.size())));
    std::stable_sort(nodes.begin(), nodes.end(), [](const std::string& a, const std::string& b) {
      return strcasecmp(a.c_str(), b.c_str()) < 0;  // as the listing's names are walked
    });
    for (const std::string& n : nodes) sink_.FileNodeAdded(n);
    result.Kept[group] = files.size() > r.Fetched ? files.size() - r.Fetched : 0;
  }
}

bool CLogDownload::SameMeterOrConfirmed(const std::string& dataLog) {
  if (MeterSerial == 0) return true;
  const std::string held = CZELMeterObj::FolderSerialNumber(dataLog);
  const std::string serial = std::to_string(MeterSerial);
  if (held.empty() || held == serial) return true;
  const std::string text =
      "The folder " + dataLog + " holds the logs of the meter with serial number " + held +
      ", but this meter's serial number is " + serial + " (two meters with the same device name?).";
  if (ReplaceOtherMeter || sink_.ConfirmOtherMeter(text + "\nReplace them with this meter's logs?"))
    return true;
  sink_.ShowMessage(TMessageKind::Error, text + "\nNothing was downloaded.");
  return false;
}

void CLogDownload::ReadSetup(const std::string& dataLog, TDownloadResult& result) {
  const auto before = GroupSetups;  // a read that fails part-way leaves zeros behind it
  setupRead_ = ReadMeterSetup && ReadMeterSetup();
  if (setupRead_) {
    CZELMeterObj::SaveSetupAndNames(MeterSerial);
    sink_.ShowStatus(1, "Read SnapShot Setup Successed.");
    return;
  }
  result.SetupFailed = true;
  GroupSetups = before;
  // The files are read with the setup they were written with, and the file
  // keeps that setup beside the names.
  if (FileExists(dataLog + "DataLogSetup.ini")) {
    const TPanelName names = PanelNames;
    CZELMeterObj::LoadDataLogSetup(dataLog);
    PanelNames = names;
  }
  CZELMeterObj::SaveSetupAndNames(MeterSerial);
  sink_.ShowStatus(1, "Read SnapShot Setup failed.");
}

void CLogDownload::EndEarly() {
  if (FtpConnectedQuietly(ftp_)) FtpCloseQuietly(ftp_);
}

TDownloadResult CLogDownload::Run(bool onlyNew, bool workbook) {
  // Panel 0's group progress never outlives the command, however it ends.
  struct ClearProgress {
    CDownloadSink& sink;
    ~ClearProgress() { sink.ShowStatus(0, ""); }
  } clearProgress{sink_};
  TDownloadResult result;
  groupsCompleted_ = true;
  sink_.EnableDownload(false);
  if (!DeviceNameRead) {
    // The name still held belongs to another meter (or to none): its folder must not be touched.
    sink_.ShowMessage(TMessageKind::Error,
                      "The device name could not be read from the meter, so its folder is unknown. "
                      "Nothing was downloaded; connect again and retry.");
    return result;
  }
  if (!sink_.ShowsEveryGroup()) throw std::out_of_range("Invalid index");
  // A session the server dropped since the last download must not pass for
  // one that lists nothing.
  fetcher_.EnsureLiveSession(Events());

  const std::string dataLog = DeviceDataLogFolder(PanelNames.DeviceName);
  if (!SameMeterOrConfirmed(dataLog)) {
    sink_.EnableDownload(true);  // nothing was started: the operator may still change his mind
    result.OtherMeter = true;
    return result;
  }
  ForceFolders(dataLog);
  RemoveStaleTempsIn(dataLog);  // what killed runs left
  ReadSetup(dataLog, result);
  std::unique_ptr<CWorkbookBuild> build;
  if (workbook) {
    build = std::make_unique<CWorkbookBuild>(WorkbookPathOf(dataLog));
    UpdateWorkbook(*build, -1, [this] { return sink_.Pump(); });
  }
  const auto start = std::chrono::steady_clock::now();
  sink_.ShowStatus(1, "Starting to download logs.");

  for (int group = 0; group < kGroupCount; ++group) {
    if (!sink_.SessionOpen() || sink_.Pump() || !sink_.GroupStarted(group)) {
      EndEarly();
      return result;
    }
    DownloadGroup(group, result, onlyNew);
    sink_.EnableDownload(true);
    result.Records[group] = LogRecords.Count();
    // One bad time stamp must not end a long download.
    bool timesValid = true;
    try {
      TDateTime first = 0, last = 0;
      RecordsTimeSpan(LogRecords, first, last);
    } catch (const EConvertError& e) {
      timesValid = false;
      sink_.ShowMessage(TMessageKind::Error, e.what());
    }
    sink_.GroupEnded(group, LogRecords.Count(), timesValid);
    if (build && UpdateWorkbook(*build, group, [this] { return sink_.Pump(); }).Stopped) {
      EndEarly();
      return result;
    }
  }
  if (build && !build->Commit())
    throw EWorkbookError("Unable to write the workbook " + build->Target());
  // What the meter no longer has goes once every group is in place, as the
  // full download's fresh folder would hold it.
  if (!onlyNew && groupsCompleted_ && result.ListFailed == 0) {
    std::set<std::string> keep = {"DataLogSetup.ini", "template.xlsx"};
    for (int g = 1; g <= kGroupCount; ++g) {
      keep.insert("Group" + std::to_string(g));
      keep.insert("Group" + std::to_string(g) + ".keys");
    }
    PruneFolder(dataLog, keep);
  }
  sink_.DownloadFinished();
  const auto seconds = static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
          .count());
  result.FinalText = (onlyNew ? "Finished to download new files, elapsed time: "
                              : "Finished to download logs, elapsed time: ") +
                     ClockText(seconds);
  result.Finished = true;
  sink_.ShowStatus(0, "");
  sink_.ShowStatus(1, result.FinalText);
  std::string failures;
  if (result.Failed != 0)
    failures.append("\n")
        .append(std::to_string(result.Failed))
        .append(result.Failed == 1 ? " file could not be fetched."
                                   : " files could not be fetched.");
  if (result.ListFailed != 0)
    failures.append("\n")
        .append(std::to_string(result.ListFailed))
        .append(result.ListFailed == 1
                    ? " group could not be listed; its earlier files were kept."
                    : " groups could not be listed; their earlier files were kept.");
  if (result.SetupFailed)
    failures +=
        "\nThe meter's data log setup could not be read: the files were read with the setup kept "
        "from before.";
  sink_.ShowMessage(failures.empty() ? TMessageKind::Information : TMessageKind::Warning,
                    result.FinalText + failures);
  return result;
}
