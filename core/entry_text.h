// Texts of a file-list row: the size text and the creation and last-write time texts.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vellumor {

// A calendar date and time of day, as the user's clock shows it.
struct CivilTime {
    int year = 1601, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0;
    bool operator==(const CivilTime&) const = default;
};

// An MS-DOS date word and time word.
struct DosDateTime {
    std::uint16_t date = 0;
    std::uint16_t time = 0;
};

// The byte count divided by 1024 toward zero, then "KB". The full 64-bit size is used, so a
// file of 2 GiB or more shows its true size.
std::string SizeText(std::uint64_t bytes);

// A Windows file time (100 ns ticks since 1601-01-01) as a calendar date and time.
CivilTime CivilFromFileTime(std::uint64_t ticks);
std::uint64_t FileTimeFromCivil(const CivilTime& time);

// The DOS pair for a time, seconds cut to an even number; empty outside 1980 to 2107.
std::optional<DosDateTime> ToDosDateTime(const CivilTime& time);
CivilTime FromDosDateTime(DosDateTime dos);

// The locale's formats, injected so the Windows side can hand in the user's regional settings
// and tests can use fixed ones.
struct TimeFormats {
    std::function<std::string(const CivilTime&)> shortDate;
    std::function<std::string(const CivilTime&)> longTime;
};

// The text of a time cell from a local file time: through the DOS date and time (two-second
// grain), then the short date, and unless the time is exactly midnight, a blank and the long
// time. A time outside the DOS range keeps its real date and time at the same two-second grain.
std::string EntryTimeText(std::uint64_t localFileTime, const TimeFormats& formats);

}  // namespace vellumor
