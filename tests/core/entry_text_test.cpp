#include "core/entry_text.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace vellumor;

namespace {

// Fixed formats: ISO date, 24-hour time, so expectations read plainly.
TimeFormats IsoFormats() {
    return {[](const CivilTime& t) {
                char b[32];
                std::snprintf(b, sizeof b, "%04d-%02d-%02d", t.year, t.month, t.day);
                return std::string(b);
            },
            [](const CivilTime& t) {
                char b[32];
                std::snprintf(b, sizeof b, "%02d:%02d:%02d", t.hour, t.minute, t.second);
                return std::string(b);
            }};
}

std::string TextFor(CivilTime t) { return EntryTimeText(FileTimeFromCivil(t), IsoFormats()); }

}  // namespace

TEST(SizeText, DividesByKibibyteTowardZero) {
    EXPECT_EQ(SizeText(0), "0KB");
    EXPECT_EQ(SizeText(1023), "0KB");
    EXPECT_EQ(SizeText(1024), "1KB");
    EXPECT_EQ(SizeText(2047), "1KB");
    // 2 GiB and more keep their true size instead of wrapping negative.
    EXPECT_EQ(SizeText(0x80000000ull), "2097152KB");
    EXPECT_EQ(SizeText(5ull << 30), "5242880KB");
}

TEST(FileTime, CivilConversionRoundTrips) {
    const CivilTime t{2024, 2, 29, 23, 59, 58};
    EXPECT_EQ(CivilFromFileTime(FileTimeFromCivil(t)), t);
    EXPECT_EQ(CivilFromFileTime(0), (CivilTime{1601, 1, 1, 0, 0, 0}));
    // 1980-01-01 00:00:00 is a well-known tick count.
    EXPECT_EQ(FileTimeFromCivil({1980, 1, 1, 0, 0, 0}), 119600064000000000ull);
}

TEST(DosDateTime, EncodesAndDecodesBitFields) {
    auto dos = ToDosDateTime({2007, 6, 15, 10, 15, 37});
    ASSERT_TRUE(dos);
    EXPECT_EQ(dos->date, ((2007 - 1980) << 9) | (6 << 5) | 15);
    EXPECT_EQ(dos->time, (10 << 11) | (15 << 5) | 18);
    EXPECT_EQ(FromDosDateTime(*dos), (CivilTime{2007, 6, 15, 10, 15, 36}));
    EXPECT_FALSE(ToDosDateTime({1979, 12, 31, 23, 59, 59}));
    EXPECT_FALSE(ToDosDateTime({2108, 1, 1, 0, 0, 0}));
    EXPECT_TRUE(ToDosDateTime({2107, 12, 31, 23, 59, 58}));
}

TEST(EntryTimeText, OddSecondsDropToTheEvenSecondBelow) {
    EXPECT_EQ(TextFor({2021, 3, 4, 10, 15, 37}), "2021-03-04 10:15:36");
    EXPECT_EQ(TextFor({2021, 3, 4, 10, 15, 36}), "2021-03-04 10:15:36");
}

TEST(EntryTimeText, MidnightShowsTheDateAlone) {
    EXPECT_EQ(TextFor({2021, 3, 4, 0, 0, 0}), "2021-03-04");
    // One second past midnight falls to midnight at the two-second grain.
    EXPECT_EQ(TextFor({2021, 3, 4, 0, 0, 1}), "2021-03-04");
    EXPECT_EQ(TextFor({2021, 3, 4, 0, 0, 2}), "2021-03-04 00:00:02");
}

TEST(EntryTimeText, TimesOutsideTheDosRangeKeepTheirRealDate) {
    EXPECT_EQ(TextFor({1970, 5, 6, 7, 8, 9}), "1970-05-06 07:08:08");
    EXPECT_EQ(TextFor({2200, 1, 2, 0, 0, 0}), "2200-01-02");
    EXPECT_EQ(TextFor({1980, 1, 1, 0, 0, 0}), "1980-01-01");
}
