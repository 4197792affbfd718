#include "core/entry_text.h"

namespace vellumor {

std::string SizeText(std::uint64_t bytes) { return std::to_string(bytes / 1024) + "KB"; }

namespace {

// Days from 1970-01-01 to a civil date and back (proleptic Gregorian calendar).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kDays1601To1970 = 134774;

}  // namespace

CivilTime CivilFromFileTime(std::uint64_t ticks) {
    const std::uint64_t seconds = ticks / kTicksPerSecond;
    const auto days = static_cast<std::int64_t>(seconds / 86400) - kDays1601To1970;
    const auto secondOfDay = static_cast<int>(seconds % 86400);
    CivilTime t;
    CivilFromDays(days, t.year, t.month, t.day);
    t.hour = secondOfDay / 3600;
    t.minute = secondOfDay / 60 % 60;
    t.second = secondOfDay % 60;
    return t;
}

std::optional<DosDateTime> ToDosDateTime(const CivilTime& t) {
    if (t.year < 1980 || t.year > 2107) return std::nullopt;
    DosDateTime dos;
    dos.date = static_cast<std::uint16_t>(((t.year - 1980) << 9) | (t.month << 5) | t.day);
    dos.time = static_cast<std::uint16_t>((t.hour << 11) | (t.minute << 5) | (t.second / 2));
    return dos;
}

CivilTime FromDosDateTime(DosDateTime dos) {
    CivilTime t;
    t.year = 1980 + (dos.date >> 9);
    t.month = (dos.date >> 5) & 0x0F;
    t.day = dos.date & 0x1F;
    t.hour = dos.time >> 11;
    t.minute = (dos.time >> 5) & 0x3F;
    t.second = 2 * (dos.time & 0x1F);
    return t;
}

std::string EntryTimeText(std::uint64_t localFileTime, const TimeFormats& formats) {
    CivilTime t = CivilFromFileTime(localFileTime);
    if (auto dos = ToDosDateTime(t)) {
        t = FromDosDateTime(*dos);
    } else {
        t.second -= t.second % 2;
    }
    std::string text = formats.shortDate(t);
    if (t.hour != 0 || t.minute != 0 || t.second != 0) text += ' ' + formats.longTime(t);
    return text;
}

std::uint64_t FileTimeFromCivil(const CivilTime& t) {
    const std::int64_t days = DaysFromCivil(t.year, t.month, t.day) + kDays1601To1970;
    const std::int64_t seconds = days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
    return static_cast<std::uint64_t>(seconds) * kTicksPerSecond;
}

}  // namespace vellumor
