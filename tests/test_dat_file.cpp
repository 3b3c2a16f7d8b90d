#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <vector>

#include "meter/ZelDef.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"

namespace {

std::vector<uint8_t> Record(const std::vector<int32_t>& raw, std::array<uint8_t, 6> time) {
  return DatRecord(raw, time);
}

std::string WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

void SetGroup(int g, std::vector<uint16_t> keys) {
  GroupSetups = {};
  GroupSetups[static_cast<size_t>(g)].KeyNum = static_cast<uint16_t>(keys.size());
  for (size_t i = 0; i < keys.size() && i < 64; ++i)
    GroupSetups[static_cast<size_t>(g)].keyArr[i] = keys[i];
}

struct DatFile : ::testing::Test {
  TempDir dir;
  void SetUp() override { LogRecords.Clear(); }
  void TearDown() override { LogRecords.Clear(); }
};

}  // namespace

TEST_F(DatFile, ScalingNoValueAndTimeBytes) {
  SetGroup(3, {1, 10, 0, 205, 204, 2010, 9999});
  auto bytes = Record({22000, 5000, 7, 456, 987, -15, -2147483647 - 1}, {26, 12, 7, 23, 59, 58});
  const std::string path = WriteFile(dir.Path() + "/a.dat", bytes);
  CZELMeterObj::ReadDataLogFile(3, path);
  ASSERT_EQ(LogRecords.Count(), 1u);
  const TLogRecord r = LogRecords[0];
  const TSystemTime stamp = r.Stamp();
  EXPECT_EQ(r.Value(0), 220.0);
  EXPECT_EQ(r.Value(1), 5.0);
  EXPECT_EQ(r.Value(2), -2147483648.0);  // key 0: no value, whatever the file holds
  EXPECT_EQ(r.Value(3), 456 / 10.0);
  EXPECT_EQ(r.Value(4), 987 / 1000.0);
  EXPECT_EQ(r.Value(5), -1.5);
  EXPECT_EQ(r.Value(6), -2147483648.0);  // divisor 1
  for (int j = 7; j < kMaxKeys; ++j) ASSERT_EQ(r.Value(j), 0.0);
  EXPECT_EQ(stamp.wYear, 2026);
  EXPECT_EQ(stamp.wMonth, 12);
  EXPECT_EQ(stamp.wDayOfWeek, 0);
  EXPECT_EQ(stamp.wDay, 7);
  EXPECT_EQ(stamp.wHour, 23);
  EXPECT_EQ(stamp.wMinute, 59);
  EXPECT_EQ(stamp.wSecond, 58);
  EXPECT_EQ(stamp.wMilliseconds, 0);
}

TEST_F(DatFile, WholeRecordsOnlyAndFilesAppendInOrder) {
  SetGroup(0, {1, 2});
  std::vector<uint8_t> bytes = Record({100, 200}, {26, 1, 1, 0, 0, 0});
  auto second = Record({300, 400}, {26, 1, 1, 0, 15, 0});
  bytes.insert(bytes.end(), second.begin(), second.end());
  bytes.push_back(0xAB);  // 29 bytes: the last one is no record
  const std::string a = WriteFile(dir.Path() + "/a.dat", bytes);
  const std::string b = WriteFile(dir.Path() + "/b.dat", Record({500, 600}, {27, 2, 3, 4, 5, 6}));
  const std::string tiny = WriteFile(dir.Path() + "/tiny.dat", std::vector<uint8_t>(13, 1));
  CZELMeterObj::ReadDataLogFile(0, a);
  ASSERT_EQ(LogRecords.Count(), 2u);
  CZELMeterObj::ReadDataLogFile(0, tiny);
  EXPECT_EQ(LogRecords.Count(), 2u);
  CZELMeterObj::ReadDataLogFile(0, b);
  ASSERT_EQ(LogRecords.Count(), 3u);
  EXPECT_EQ(LogRecords[0].Value(0), 1.0);
  EXPECT_EQ(LogRecords[1].Value(1), 4.0);
  EXPECT_EQ(LogRecords[1].Stamp().wMinute, 15);
  EXPECT_EQ(LogRecords[2].Value(0), 5.0);
  EXPECT_EQ(LogRecords[2].Stamp().wYear, 2027);
}

TEST_F(DatFile, ManyRecordsAcrossReadChunksAndArenaBlocks) {
  SetGroup(1, {10});
  std::vector<uint8_t> bytes;
  const int n = 150000;  // 1.5 MB: several read chunks and arena blocks
  for (int i = 0; i < n; ++i) {
    auto r = Record({i}, {26, 1, 1, static_cast<uint8_t>(i % 24), 0, 0});
    bytes.insert(bytes.end(), r.begin(), r.end());
  }
  CZELMeterObj::ReadDataLogFile(1, WriteFile(dir.Path() + "/big.dat", bytes));
  ASSERT_EQ(LogRecords.Count(), static_cast<size_t>(n));
  for (int i = 0; i < n; i += 997) {
    ASSERT_EQ(LogRecords[static_cast<size_t>(i)].Value(0), i / 1000.0) << i;
    ASSERT_EQ(LogRecords[static_cast<size_t>(i)].Stamp().wHour, i % 24) << i;
  }
  EXPECT_EQ(LogRecords[n - 1].Value(0), (n - 1) / 1000.0);
}

TEST_F(DatFile, FailuresLeaveTheListAsItWas) {
  SetGroup(2, {});
  // KeyNum 0: the file is not even opened.
  CZELMeterObj::ReadDataLogFile(2, dir.Path() + "/missing.dat");
  EXPECT_EQ(LogRecords.Count(), 0u);

  SetGroup(2, {1});
  WriteFile(dir.Path() + "/one.dat", Record({1}, {26, 1, 1, 0, 0, 0}));
  CZELMeterObj::ReadDataLogFile(2, dir.Path() + "/one.dat");
  try {
    CZELMeterObj::ReadDataLogFile(2, dir.Path() + "/missing.dat");
    FAIL() << "no error";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open file \"" + dir.Path() + "/missing.dat\". No such file or directory");
  }
  EXPECT_EQ(LogRecords.Count(), 1u);

  // Another program holding the file keeps us out, with a reason.
  const std::string held = WriteFile(dir.Path() + "/held.dat", Record({1}, {26, 1, 1, 0, 0, 0}));
  const int fd = open(held.c_str(), O_RDONLY);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  EXPECT_THROW(CZELMeterObj::ReadDataLogFile(2, held), EFOpenError);
  close(fd);
  CZELMeterObj::ReadDataLogFile(2, held);
  EXPECT_EQ(LogRecords.Count(), 2u);

  // More keys than a record holds: refused, nothing written past the 64 slots.
  GroupSetups[2].KeyNum = 65;
  try {
    CZELMeterObj::ReadDataLogFile(2, held);
    FAIL() << "no error";
  } catch (const EDataLogError& e) {
    EXPECT_NE(std::string(e.what()).find("65 keys"), std::string::npos) << e.what();
  }
  EXPECT_EQ(LogRecords.Count(), 2u);
  EXPECT_THROW(CZELMeterObj::ReadDataLogFile(2, dir.Path()), std::exception);  // a folder
}

TEST_F(DatFile, MemoryFollowsTheKeyCount) {
  SetGroup(4, {10});
  std::vector<uint8_t> bytes;
  const int n = 100000;
  for (int i = 0; i < n; ++i) {
    auto r = Record({i}, {26, 1, 1, 0, 0, 0});
    bytes.insert(bytes.end(), r.begin(), r.end());
  }
  LogRecords.Release();
  CZELMeterObj::ReadDataLogFile(4, WriteFile(dir.Path() + "/one.dat", bytes));
  ASSERT_EQ(LogRecords.Count(), static_cast<size_t>(n));
  // Ten bytes a record in the file; in memory its stamp, its value and its place in the order.
  EXPECT_LT(LogRecords.CapacityBytes(), 5 * bytes.size());
  EXPECT_EQ(LogRecords[n - 1].Value(0), (n - 1) / 1000.0);
  for (int j = 1; j < kMaxKeys; ++j) ASSERT_EQ(LogRecords[0].Value(j), 0.0);

  // A wider group read into the same list keeps what was read before.
  GroupSetups[5].KeyNum = 3;
  GroupSetups[5].keyArr[0] = 10;
  CZELMeterObj::ReadDataLogFile(
      5, WriteFile(dir.Path() + "/three.dat", Record({1, 2, 3}, {26, 1, 2, 0, 0, 0})));
  ASSERT_EQ(LogRecords.Count(), static_cast<size_t>(n) + 1);
  EXPECT_EQ(LogRecords[n - 1].Value(0), (n - 1) / 1000.0);
  EXPECT_EQ(LogRecords[n - 1].Value(1), 0.0);
  EXPECT_EQ(LogRecords[n].Value(0), 0.001);
  EXPECT_EQ(LogRecords[n].Value(1), -2147483648.0);
  EXPECT_EQ(LogRecords[n].Value(2), -2147483648.0);
  EXPECT_EQ(LogRecords[n].Stamp().wDay, 2);

  // A narrower file after it has the values it lacks at 0.0, whatever the
  // list's kept storage held there before.
  const std::string three = dir.Path() + "/three.dat";
  LogRecords.Clear();
  CZELMeterObj::ReadDataLogFile(5, three);
  CZELMeterObj::ReadDataLogFile(5, three);
  LogRecords.Clear();
  CZELMeterObj::ReadDataLogFile(5, three);
  CZELMeterObj::ReadDataLogFile(
      4, WriteFile(dir.Path() + "/narrow.dat", Record({7}, {26, 1, 3, 0, 0, 0})));
  ASSERT_EQ(LogRecords.Count(), 2u);
  EXPECT_EQ(LogRecords[1].Value(0), 0.007);
  EXPECT_EQ(LogRecords[1].Value(1), 0.0);
  EXPECT_EQ(LogRecords[1].Value(2), 0.0);
}

TEST_F(DatFile, BytesInMemoryReadAsAFileWould) {
  SetGroup(6, {10, 0});
  std::vector<uint8_t> bytes = Record({1500, 9}, {26, 3, 4, 5, 6, 7});
  auto second = Record({-2, 9}, {26, 3, 4, 5, 6, 8});
  bytes.insert(bytes.end(), second.begin(), second.end());
  bytes.resize(bytes.size() + 13);  // a record cut short: not read
  TLogRecordList list;
  CZELMeterObj::ReadDataLogBytes(6, bytes, "x.dat", list);
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list[0].Value(0), 1.5);
  EXPECT_EQ(list[0].Value(1), -2147483648.0);
  EXPECT_EQ(list[1].Value(0), -0.002);
  EXPECT_EQ(list[1].Stamp().wSecond, 8);
  EXPECT_EQ(LogRecords.Count(), 0u);

  GroupSetups[6].KeyNum = 65;
  try {
    CZELMeterObj::ReadDataLogBytes(6, bytes, "x.dat", list);
    FAIL() << "no error";
  } catch (const EDataLogError& e) {
    EXPECT_NE(std::string(e.what()).find("\"x.dat\" is not read"), std::string::npos) << e.what();
  }
  EXPECT_EQ(list.Count(), 2u);
}
