#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "core/filetime.h"
#include "core/text.h"
#include "support/times.h"

namespace plimsy {
namespace {

using test::utc;

TEST(FormatText, KeepsThePrintfTemplatesOfTheProgram) {
  EXPECT_EQ(formatText("%u", 7u), "7");
  EXPECT_EQ(formatText(""), "");
  EXPECT_EQ(formatText("%s%s", std::string("/books/"), "ch1.xhtml"), "/books/ch1.xhtml");
  EXPECT_EQ(formatText("%S!", std::string("narrow")), "narrow!");
  EXPECT_EQ(formatText("%I64d", std::int64_t{-12}), "-12");
  EXPECT_EQ(formatText(",%03I64d", std::int64_t{7}), ",007");
  EXPECT_EQ(formatText("0x%llx", std::uint64_t{0xFFFFFFFFFFULL}), "0xffffffffff");
  EXPECT_EQ(formatText("%llu", std::uint64_t{18446744073709551615ULL}), "18446744073709551615");
  EXPECT_EQ(formatText("%4.2f", 0.254), "0.25");
  EXPECT_EQ(formatText("%x", 0x4d2u), "4d2");
  EXPECT_EQ(formatText("100%% done"), "100% done");
  // An unsigned conversion of a negative 32-bit value shows the unsigned view.
  EXPECT_EQ(formatText("%u", -1), "4294967295");
}

TEST(FormatText, GivesErrorInsteadOfUndefinedBehaviour) {
  EXPECT_EQ(formatText("%s %s", std::string("one")), "ERROR");  // missing argument
  EXPECT_EQ(formatText("%d", std::string("text")), "ERROR");    // wrong type
  // The buffer holds 16,383 characters and the terminator.
  EXPECT_EQ(formatText("%s", std::string(16'383, 'a')).size(), 16'383u);
  EXPECT_EQ(formatText("%s", std::string(16'384, 'a')), "ERROR");
  // Characters, not bytes: 16,383 two-byte characters still fit.
  std::string wide;
  for (int i = 0; i < 16'383; ++i) wide += "\xC3\xA9";
  EXPECT_EQ(formatText("%s", wide), wide);
  EXPECT_EQ(formatTextUnlimited("%s", std::string(70'000, 'b')).size(), 70'000u);
  // Text passed as an argument is never read as a template.
  EXPECT_EQ(formatText("%s", std::string("100%.xhtml")), "100%.xhtml");
}

TEST(FormatText, AppendFormattedAppendsOrLeavesAlone) {
  std::string text = "a";
  appendFormatted(text, "-%u", 5u);
  appendFormatted(text, "");
  EXPECT_EQ(text, "a-5");
}

TEST(GroupThousands, CommaEveryThreeDigits) {
  EXPECT_EQ(groupThousands(0), "0");
  EXPECT_EQ(groupThousands(999), "999");
  EXPECT_EQ(groupThousands(1000), "1,000");
  EXPECT_EQ(groupThousands(1001), "1,001");
  EXPECT_EQ(groupThousands(1234567), "1,234,567");
  EXPECT_EQ(groupThousands(1000000), "1,000,000");
  EXPECT_EQ(groupThousands(18446744073709551615ULL), "18,446,744,073,709,551,615");
}

TEST(FormatFileTime, ShowsUtcCalendarText) {
  EXPECT_EQ(formatFileTime(0), "1601-Jan-01 00:00:00");
  EXPECT_EQ(formatFileTime(utc(2022, 3, 4, 10, 20, 30)), "2022-Mar-04 10:20:30");
  EXPECT_EQ(formatFileTime(utc(2107, 12, 31, 23, 59, 58)), "2107-Dec-31 23:59:58");
  EXPECT_EQ(formatFileTime(0x8000000000000000ULL), "(invalid time 0x8000000000000000)");
  EXPECT_EQ(monthAbbreviation(0), "Error");
  EXPECT_EQ(monthAbbreviation(13), "Error");
}

// Central European time with daylight saving: +1 in winter, +2 in summer.
class ParseDatetime : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::ScopedTimeZone::kSupported) GTEST_SKIP() << "the time zone cannot be set for one process";
  }
  test::ScopedTimeZone zone_{test::kCentralEuropeanTime};
};

TEST_F(ParseDatetime, AcceptsTheFourFormsWithTheOffsetOfThatDate) {
  const std::pair<const char*, FileTime> cases[] = {
      {"2022-03-04", utc(2022, 3, 3, 23)},   // winter: one hour ahead of UTC
      {"2022-07-01", utc(2022, 6, 30, 22)},  // summer: two hours ahead, whatever today's offset
      {"2022-03-04Z", utc(2022, 3, 4)},
      {"2022-03-04T10:20:30Z", utc(2022, 3, 4, 10, 20, 30)},
      {"2022-07-01T10:20:30", utc(2022, 7, 1, 8, 20, 30)},
      {"1601-01-01Z", 0},
  };
  for (const auto& [text, expected] : cases) {
    FileTime t = 0;
    ASSERT_TRUE(parseDatetime(text, t)) << text;
    EXPECT_EQ(t, expected) << text;
  }
}

TEST(ParseDatetimeRefusals, RefuseEverythingElseAndLeaveTheOutputAlone) {
  FileTime t = 42;
  for (const char* text : {"2022-03-04T10:20", "2022-3-4", "2022-13-01", "2022-02-30", "2022-03-04 10:20:30",
                           "2022-03-04T24:00:00", "2022-03-04T10:60:00", "2022-03-04T10:20:30z", "1600-12-31Z", "",
                           "2022-03-04ZZ", " 2022-03-04", "2022-03-04T10:20:30ZZ"}) {
    EXPECT_FALSE(parseDatetime(text, t)) << text;
    EXPECT_EQ(t, 42u) << text;
  }
  EXPECT_TRUE(parseDatetime("2024-02-29Z", t));
}

TEST(RegexCaptures, MatchesWholeTextAndFillsFourGroups) {
  std::string a, b, c, d;
  EXPECT_TRUE(regexCaptures("ab12", "([a-z]+)(\\d+)", a, b, c, d));
  EXPECT_EQ(a, "ab");
  EXPECT_EQ(b, "12");
  EXPECT_EQ(c, "");
  EXPECT_EQ(d, "");
  EXPECT_FALSE(regexCaptures("ab12x", "([a-z]+)(\\d+)", a, b, c, d));
  EXPECT_FALSE(regexCaptures("x", "(", a, b, c, d));  // invalid pattern: no exception
}

TEST(DisplayUtf8, ReplacesEachMaximalInvalidSubsequence) {
  EXPECT_EQ(displayUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
  EXPECT_EQ(displayUtf8("a\xFF"
                        "b"),
            "a\xEF\xBF\xBD"
            "b");
  // A truncated three-byte sequence is one replacement, not two.
  EXPECT_EQ(displayUtf8("\xE2\x82"
                        "x"),
            "\xEF\xBF\xBD"
            "x");
  // Overlong encodings and surrogates are invalid byte by byte.
  EXPECT_EQ(displayUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(displayUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(displayUtf8("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(utf8Length("caf\xC3\xA9"), 4u);
}

TEST(ShellExecuteErrorText, MapsResultCodes) {
  EXPECT_EQ(shellExecuteErrorText(42), "");
  EXPECT_EQ(shellExecuteErrorText(33), "");
  EXPECT_EQ(shellExecuteErrorText(12), "An error occurred while calling operating system function ShellExecute.");
  EXPECT_EQ(shellExecuteErrorText(2), "The specified file was not found.");
  EXPECT_FALSE(shellExecuteErrorText(26).empty());
  EXPECT_EQ(shellExecuteErrorText(31), "There is no application associated with the given file name.");
}

TEST(TrimWhiteSpace, TrimsBlankAndControlWhiteSpaceOnly) {
  EXPECT_EQ(trimWhiteSpace(" \t\r\n\v\fpath x\f "), "path x");
  EXPECT_EQ(trimWhiteSpace("   "), "");
  EXPECT_EQ(trimWhiteSpace("\xC2\xA0x"), "\xC2\xA0x");  // no-break space is kept
}

}  // namespace
}  // namespace plimsy
