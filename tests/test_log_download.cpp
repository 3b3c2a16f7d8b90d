// The download's events, in the order a window or a terminal sees them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/LogDownload.h"
#include "tests/support/MeterFixture.h"

namespace {

struct TRecordingSink : CDownloadSink {
  std::vector<std::string> Events;
  int StopAt = -1;  // GroupStarted answers false for this group
  void ShowStatus(int, const std::string&) override {}
  void ShowMessage(TMessageKind, const std::string&) override {}
  bool Pump() override { return false; }
  bool SessionOpen() override { return true; }
  bool GroupStarted(int group) override {
    Events.push_back("start " + std::to_string(group));
    return group != StopAt;
  }
  void FileNodeAdded(const std::string& text) override { Events.push_back("node " + text); }
  void GroupEnded(int group, size_t records, bool timesValid) override {
    Events.push_back("end " + std::to_string(group) + " " + std::to_string(records) +
                     (timesValid ? "" : " bad times"));
  }
  void DownloadFinished() override { Events.push_back("finished"); }
};

struct LogDownload : ::testing::Test {
  MeterFixture meter{{"--records", "3000", "--log-start", "2026-11-01", "--group", "2:60:1"}};
  TFtpClient ftp;
  TRecordingSink sink;
  CLogDownload download{ftp, sink, 0};
  void SetUp() override {
    ASSERT_TRUE(meter.Meter().ReadDeviceInfo());
    ftp.Host = "127.0.0.1";
    ftp.Port = meter.FtpPort();
    ftp.Username = "anonymous";
    ftp.Password = "test@localhost";
    ftp.Passive = true;
    download.DeviceNameRead = meter.Meter().NamesRead();
    download.ReadMeterSetup = [this] { return meter.Meter().ReadSnapShotSetup(); };
  }
};

}  // namespace

TEST_F(LogDownload, EachGroupStartsGetsItsFileNodesAndEnds) {
  const TDownloadResult r = download.mniDownload1Click();
  ASSERT_TRUE(r.Finished);
  // start 0, its nodes, end 0, start 1, ... end 9, finished.
  size_t at = 0;
  std::vector<std::string> groupTwoNodes;
  for (int g = 0; g < kGroupCount; ++g) {
    ASSERT_LT(at, sink.Events.size());
    ASSERT_EQ(sink.Events[at++], "start " + std::to_string(g));
    for (; at < sink.Events.size() && sink.Events[at].rfind("node ", 0) == 0; ++at)
      if (g == 1) groupTwoNodes.push_back(sink.Events[at]);
    ASSERT_LT(at, sink.Events.size());
    ASSERT_EQ(sink.Events[at++], "end " + std::to_string(g) + " " + std::to_string(r.Records[g]));
  }
  ASSERT_EQ(sink.Events.size(), at + 1);
  EXPECT_EQ(sink.Events[at], "finished");
  // 3000 records a minute apart: three day files.
  EXPECT_EQ(groupTwoNodes,
            (std::vector<std::string>{"node 20261101", "node 20261102", "node 20261103"}));
  EXPECT_EQ(r.Records[1], 3000u);
}

TEST_F(LogDownload, AGroupTheSinkCannotShowEndsTheDownload) {
  sink.StopAt = 2;
  const TDownloadResult r = download.mniDownload1Click();
  EXPECT_FALSE(r.Finished);
  ASSERT_FALSE(sink.Events.empty());
  EXPECT_EQ(sink.Events.back(), "start 2");
  EXPECT_FALSE(FtpConnectedQuietly(ftp));
}
