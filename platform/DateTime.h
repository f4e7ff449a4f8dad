#pragma once
// Date-times as the program keeps them: days since 1899-12-30 as a double, local time,
// the fraction being the time of day. Pure arithmetic lives here; the clock and the
// time zone are in Platform.h.
#include <cstdint>
#include <string>

namespace trawlex {

using TDateTime = double;

struct TDateTimeParts {
  int Year = 1899, Month = 12, Day = 30;
  int Hour = 0, Minute = 0, Second = 0, MilliSecond = 0;
};

constexpr double MSecsPerDay = 86400000.0;
constexpr double SecsPerDay = 86400.0;

// Whole days from 1899-12-30 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int year, int month, int day);
TDateTime EncodeDateTime(const TDateTimeParts& parts);
// Splits a date-time into its parts, rounding to the nearest millisecond.
TDateTimeParts DecodeDateTime(TDateTime value);

// Formats with the tokens yyyy, yy, mm (month, or minute right after hh), dd, hh, nn
// (minutes), ss, zzz; everything else is copied. The time separator is ":".
std::string FormatDateTime(const std::string& pattern, TDateTime value);

}  // namespace trawlex
