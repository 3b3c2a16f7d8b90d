#include <gtest/gtest.h>

#include "meter/DateTimeUtil.h"
#include "retrieval/FtpErrors.h"
#include "retrieval/FtpListing.h"
#include "retrieval/FtpPasv.h"
#include "retrieval/FtpReplyReader.h"

namespace {

tm Today(int year, int month, int day) {
  tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  return t;
}

std::vector<TFtpReply> Replies(CFtpReplyReader& r, const std::string& bytes) {
  r.Feed(bytes.data(), bytes.size());
  std::vector<TFtpReply> out;
  while (auto reply = r.NextReply()) out.push_back(*reply);
  return out;
}

}  // namespace

TEST(FtpReplies, SingleMultiLineAndSplitReplies) {
  CFtpReplyReader r;
  auto got =
      Replies(r, "220-Welcome\r\n220-second line\r\n  220 Ready.  \r\n\r\n331 Password\r\n25");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].Code, 220);
  EXPECT_EQ(got[0].Text, (std::vector<std::string>{"Welcome", "second line", "Ready."}));
  EXPECT_EQ(got[0].JoinedText(), "Welcome\nsecond line\nReady.");
  EXPECT_EQ(got[1].Code, 331);
  EXPECT_TRUE(r.HasPendingBytes());
  got = Replies(r, "0 CWD ok\n");  // a reply split across receives, LF only
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Code, 250);

  // Inner lines may look like other codes; the end is "code " in any case,
  // or a line too short to continue it.
  got = Replies(r, "211-Features:\r\n 211-not the end\r\n MDTM\r\n211 End\r\n");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Text.size(), 4u);
  got = Replies(r, "abc-x\r\nABC done\r\n");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Code, 0);
  got = Replies(r, "230-a\r\nok\r\n");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Text.back(), "");
}

TEST(FtpReplies, LimitsOnLinesAndReplies) {
  {
    CFtpReplyReader r;
    auto got = Replies(r, "220 " + std::string(17000, 'x') + "\r\n");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].Text[0].size(), 17000u);
  }
  {
    // Over the limit without its end yet: refused before it is all held.
    CFtpReplyReader r;
    const std::string part(20000, 'x');
    r.Feed("220 ", 4);
    r.Feed(part.data(), part.size());
    try {
      r.Feed(part.data(), part.size());
      FAIL() << "no error";
    } catch (const EFtpError& e) {
      EXPECT_STREQ(e.what(), "Max line length exceeded.");
    }
  }
  {
    CFtpReplyReader r;
    const std::string line = "220 " + std::string(40000, 'y') + "\r\n";
    EXPECT_THROW(Replies(r, line), EFtpLimitError);
  }
  {
    CFtpReplyReader r;
    std::string many;
    for (int i = 0; i < 600; ++i) many += "250-line " + std::to_string(i) + "\r\n";
    many += "250 done\r\n";
    auto got = Replies(r, many);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].Text.size(), 601u);
  }
  {
    CFtpReplyReader r;
    std::string endless;
    for (size_t i = 0; i < CFtpReplyReader::kMaxReplyLines + 5; ++i) endless += "250-more\r\n";
    EXPECT_THROW(Replies(r, endless), EFtpLimitError);
  }
}

TEST(FtpPasv, FormsAndBadNumbers) {
  for (const char* line : {"Entering Passive Mode (192,168,1,10,19,137)",
                           "Entering Passive Mode (192,168,1,10,19,137).", "192,168,1,10,19,137",
                           "=192,168,1,10,19,137", "Entering Passive Mode 192,168,1,10,19,137",
                           "Entering Passive Mode ( 192, 168, 1, 10, 19, 137 )"}) {
    const TPasvAddress a = ParsePasvReply(line);
    EXPECT_EQ(a.Host, "192.168.1.10") << line;
    EXPECT_EQ(a.Port, 5001) << line;
  }
  for (const char* line : {"Entering Passive Mode (1216,256,2,127,127,127)", "(127,0,0,1,256,1)",
                           "(127,0,0,1,19)", "nothing here", "", "(a,b,c,d,e,f)"}) {
    try {
      const TPasvAddress a = ParsePasvReply(line);
      ADD_FAILURE() << "accepted " << line << " as " << a.Host << ":" << a.Port;
    } catch (const EFtpError& e) {
      EXPECT_NE(std::string(e.what()).find("Invalid passive mode reply"), std::string::npos);
    }
  }
}

TEST(FtpListing, UnixListings) {
  const tm now = Today(2026, 3, 10);
  auto entries = ParseListing({"total 12", "-rw-r--r-- 1 root root 1048576 Jan 5 12:00 data1.dat",
                               "drwxr-xr-x   2 krvo     krvo         4096 Dec 31  2025 Group1",
                               "-rw-r--r-- 1 root root 10 Feb 28 2024 a  b.dat",
                               "lrwxrwxrwx 1 root root 9 Mar 1 08:15 latest -> a  b.dat",
                               "-rw-r--r-- 1 root root 7 Apr 1 10:00 future.dat", "   "},
                              now);
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[0].Name, "data1.dat");
  EXPECT_EQ(entries[0].Size, 1048576);
  EXPECT_EQ(entries[0].ItemType, TFtpItemType::ditFile);
  EXPECT_EQ(entries[1].Name, "Group1");
  EXPECT_EQ(entries[1].ItemType, TFtpItemType::ditDirectory);
  EXPECT_EQ(entries[2].Name, "a  b.dat");  // inner blanks kept exactly
  EXPECT_EQ(entries[3].ItemType, TFtpItemType::ditSymbolicLink);
  EXPECT_EQ(entries[3].Name, "latest");
  EXPECT_EQ(entries[3].LinkTarget, "a  b.dat");
  // "Apr 1 10:00" seen in March is last year's.
  TDateTime lastYear = 0;
  ASSERT_TRUE(TryEncodeDate(2025, 4, 1, lastYear));
  EXPECT_EQ(static_cast<int>(entries[4].ModifiedTime), static_cast<int>(lastYear));

  // Without the group column: recognised by the size field, names with blanks too.
  entries = ParseListing(
      {"-rw-r--r-- 1 krvo 2048 Jan 5 12:00 my log.dat", "drwxr-xr-x 2 krvo 4096 Jan 5 2025 sub dir",
       "lrwxrwxrwx 1 krvo 5 Jan 5 12:00 x y -> z"},
      now);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].Name, "my log.dat");
  EXPECT_EQ(entries[0].Size, 2048);
  EXPECT_EQ(entries[1].Name, "sub dir");
  EXPECT_EQ(entries[2].Name, "x y");
  EXPECT_EQ(entries[2].LinkTarget, "z");

  // A line that makes no date empties what came before; later lines still count.
  entries =
      ParseListing({"-rw-r--r-- 1 a a 1 Jan 5 12:00 one", "-rw-r--r-- 1 a a 1 Foo 5 12:00 bad",
                    "-rw-r--r-- 1 a a 1 Feb 30 2024 bad2", "-rw-r--r-- 1 a a 1 Jan 5 24:00 bad3",
                    "-rw-r--r-- 1 a a 3 Jan 6 12:00 last"},
                   now);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Name, "last");
}

TEST(FtpListing, DosListings) {
  const tm now = Today(2026, 3, 10);
  const std::string file = "01-05-20  12:00PM" + std::string(14, ' ') + "1048576 data1.dat";
  ASSERT_EQ(file.find("1048576") + 7, 38u);  // the size ends at column 38
  const std::string dir = "12-08-26  09:30AM       <DIR>          Group 1";
  EXPECT_EQ(DetectListFormat(file), TFtpListFormat::flfDos);
  EXPECT_EQ(DetectListFormat(dir), TFtpListFormat::flfDos);
  auto entries =
      ParseListing({file, dir, "01/05/20  01:00AM            1,234 with  blanks.dat"}, now);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].Name, "data1.dat");
  EXPECT_EQ(entries[0].Size, 1048576);
  EXPECT_EQ(entries[0].ItemType, TFtpItemType::ditFile);
  EXPECT_GT(entries[0].ModifiedTime, 0);
  EXPECT_EQ(entries[1].Name, "Group 1");
  EXPECT_EQ(entries[1].ItemType, TFtpItemType::ditDirectory);
  EXPECT_EQ(entries[2].Name, "with  blanks.dat");
  EXPECT_EQ(entries[2].Size, 1234);

  // Thousands separators that reach column 30 or further left: not DOS, no entries.
  const std::string wide = "01-05-20  12:00PM" + std::string(12, ' ') + "1,048,576 data1.dat";
  ASSERT_EQ(wide.find("576") + 3, 38u);
  EXPECT_EQ(DetectListFormat(wide), TFtpListFormat::flfUnknown);
  EXPECT_TRUE(ParseListing({wide, file}, now).empty());
  EXPECT_TRUE(ParseListing({"hello world"}, now).empty());
  EXPECT_EQ(DetectListFormat("TOTAL 0"), TFtpListFormat::flfUnix);
  EXPECT_EQ(DetectListFormat("DSK: listing"), TFtpListFormat::flfUnix);
}
