#include "platform/DateTime.h"

#include <cmath>
#include <cstdio>

namespace trawlex {

int64_t DaysFromCivil(int year, int month, int day) {
  // Howard Hinnant's days_from_civil, shifted from 1970-01-01 to 1899-12-30.
  const int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t mp = (month + 9) % 12;
  const int64_t doy = (153 * mp + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 25569;
}

static void CivilFromDays(int64_t days, int& year, int& month, int& day) {
  const int64_t z = days - 25569 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

TDateTime EncodeDateTime(const TDateTimeParts& p) {
  const double days = static_cast<double>(DaysFromCivil(p.Year, p.Month, p.Day));
  const double ms = ((p.Hour * 60.0 + p.Minute) * 60.0 + p.Second) * 1000.0 + p.MilliSecond;
  return days + ms / MSecsPerDay;
}

TDateTimeParts DecodeDateTime(TDateTime value) {
  // Work in whole milliseconds so that 23:59:59.9996 becomes the next day, not 24:00.
  const int64_t totalMs = std::llround(value * MSecsPerDay);
  int64_t days = totalMs / 86400000;
  int64_t ms = totalMs % 86400000;
  if (ms < 0) {
    ms += 86400000;
    days -= 1;
  }
  TDateTimeParts p;
  CivilFromDays(days, p.Year, p.Month, p.Day);
  p.Hour = static_cast<int>(ms / 3600000);
  p.Minute = static_cast<int>(ms / 60000 % 60);
  p.Second = static_cast<int>(ms / 1000 % 60);
  p.MilliSecond = static_cast<int>(ms % 1000);
  return p;
}

std::string FormatDateTime(const std::string& pattern, TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  std::string out;
  char buf[16];
  bool afterHour = false;
  for (size_t i = 0; i < pattern.size();) {
    auto starts = [&](const char* tok) { return pattern.compare(i, std::char_traits<char>::length(tok), tok) == 0; };
    if (starts("yyyy")) {
      std::snprintf(buf, sizeof buf, "%04d", p.Year); out += buf; i += 4;
    } else if (starts("yy")) {
      std::snprintf(buf, sizeof buf, "%02d", p.Year % 100); out += buf; i += 2;
    } else if (starts("mm")) {
      std::snprintf(buf, sizeof buf, "%02d", afterHour ? p.Minute : p.Month); out += buf; i += 2;
      afterHour = false;
    } else if (starts("dd")) {
      std::snprintf(buf, sizeof buf, "%02d", p.Day); out += buf; i += 2;
    } else if (starts("hh")) {
      std::snprintf(buf, sizeof buf, "%02d", p.Hour); out += buf; i += 2;
      afterHour = true;
      continue;
    } else if (starts("nn")) {
      std::snprintf(buf, sizeof buf, "%02d", p.Minute); out += buf; i += 2;
    } else if (starts("ss")) {
      std::snprintf(buf, sizeof buf, "%02d", p.Second); out += buf; i += 2;
    } else if (starts("zzz")) {
      std::snprintf(buf, sizeof buf, "%03d", p.MilliSecond); out += buf; i += 3;
    } else {
      out += pattern[i++];
      continue;  // a separator between hh and mm keeps mm meaning minutes
    }
    afterHour = false;
  }
  return out;
}

}  // namespace trawlex
