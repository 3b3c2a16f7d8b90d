#include <gtest/gtest.h>

#include "meter/DisplayFormat.h"
#include "meter/TextCodec.h"

namespace {

struct CFormats : ::testing::Test {
  void SetUp() override { SetFormatSettings(TFormatSettings{}); }
};

}  // namespace

TEST_F(CFormats, DisplayFormsWithAndWithoutMilliseconds) {
  const TDateTime t = EncodeDate(2026, 12, 7) + EncodeTime(14, 3, 7, 250);
  EXPECT_EQ(DateTimeToDisplayStr(true, t), "2026-12-07 14:03:07.250");
  EXPECT_EQ(DateTimeToDisplayStr(false, t), "2026-12-07 14:03:07");
  EXPECT_EQ(DateToDisplayStr(t), "2026-12-07");
  EXPECT_EQ(DateTimeToDisplayStr(true, EncodeDate(2000, 1, 1)), "2000-01-01 00:00:00.000");
  EXPECT_EQ(DateTimeToDisplayStr(false, EncodeDate(2026, 12, 7) + EncodeTime(23, 59, 59, 999)),
            "2026-12-07 23:59:59");
}

TEST_F(CFormats, OnlyTheFirstSecondsFieldGetsMilliseconds) {
  TFormatSettings s;
  s.LongTimeFormat = "HH:mm:SS 'ss'";
  SetFormatSettings(s);
  EXPECT_EQ(DateTimeToDisplayStr(true, EncodeTime(1, 2, 3, 45)), "1899-12-30 01:02:03.045 ss");
}

TEST(DateTime, EncodeDecodeAndTheErrors) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(2026, 12, 7), 46363.0);
  const TDateParts p = DecodeDateTime(EncodeDate(2024, 2, 29) + EncodeTime(23, 59, 58, 999));
  EXPECT_EQ(p.Year, 2024);
  EXPECT_EQ(p.Month, 2);
  EXPECT_EQ(p.Day, 29);
  EXPECT_EQ(p.Hour, 23);
  EXPECT_EQ(p.Second, 58);
  EXPECT_EQ(p.MilliSecond, 999);
  EXPECT_EQ(p.DayOfWeek, 5);  // Thursday

  for (auto bad : {std::array<int, 3>{2023, 2, 29},
                   {2026, 13, 1},
                   {2026, 0, 1},
                   {2026, 4, 31},
                   {0, 1, 1},
                   {10000, 1, 1}}) {
    EXPECT_THROW(
        {
          try {
            EncodeDate(bad[0], bad[1], bad[2]);
          } catch (const EConvertError& e) {
            EXPECT_STREQ(e.what(), "Invalid argument to date encode");
            throw;
          }
        },
        EConvertError);
  }
  for (auto bad :
       {std::array<int, 4>{24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000}}) {
    try {
      EncodeTime(bad[0], bad[1], bad[2], bad[3]);
      ADD_FAILURE() << "no error";
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), "Invalid argument to time encode");
    }
  }
}

TEST(DisplayFormat, LocalePatternsFromStrftime) {
  EXPECT_EQ(PatternFromStrftime("%d.%m.%Y"), "dd'.'MM'.'yyyy");
  EXPECT_EQ(PatternFromStrftime("%m/%d/%Y"), "MM'/'dd'/'yyyy");
  EXPECT_EQ(PatternFromStrftime("%T"), "HH:mm:ss");
  EXPECT_EQ(PatternFromStrftime("%I:%M:%S %p"), "hh':'mm':'ss' 'tt");
  const TDateTime t = EncodeDate(2026, 12, 7) + EncodeTime(14, 3, 7, 250);
  EXPECT_EQ(FormatDateTimePattern(PatternFromStrftime("%d.%m.%Y"), t), "07.12.2026");
  EXPECT_EQ(FormatDateTimePattern(PatternFromStrftime("%r"), t), "02:03:07 PM");
  EXPECT_EQ(FormatDateTimePattern(PatternFromStrftime("%y/%e"), t), "26/7");
}

TEST(TextCodec, NameFieldsSkipZerosAndTrim) {
  const uint8_t model[] = {'A', 'B', 0, 'C', ' ', ' ', '\t', 0};
  EXPECT_EQ(DecodeNameField(model, sizeof model), "ABC");
  const uint8_t blanks[40] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                              ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                              ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  EXPECT_EQ(DecodeNameField(blanks, 40), "");
  const uint8_t cp1252[] = {'M', 0xFC, 'h', 'l', 'e', ' ', 0x80};
  EXPECT_EQ(DecodeNameField(cp1252, sizeof cp1252), "M\xC3\xBChle \xE2\x82\xAC");
  EXPECT_TRUE(IsValidUtf8("M\xC3\xBChle"));
  EXPECT_FALSE(IsValidUtf8("M\xFChle"));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));
}
