// Points in time as the platform's callers hold them: FILETIME (100 ns
// ticks since 1601-01-01 UTC) and SYSTEMTIME (calendar fields), in UTC or in
// the local time zone of the process (the TZ environment variable and the
// system zone, as the C library sees them).
//
// BOOL functions fail with ERROR_INVALID_PARAMETER (last error) for null
// pointers, fields out of range, or instants outside 1601-30827.
#pragma once

#include <cstdint>

#include "platform/base/CryptTypes.h"
#include "platform/base/Types.h"

struct TIME_ZONE_INFORMATION {
  LONG Bias;  // minutes: UTC = local time + Bias
  WCHAR StandardName[32];
  SYSTEMTIME StandardDate;
  LONG StandardBias;
  WCHAR DaylightName[32];
  SYSTEMTIME DaylightDate;
  LONG DaylightBias;
};

// -1, 0 or 1 as *A is earlier than, equal to or later than *B.
LONG CompareFileTime(const FILETIME* a, const FILETIME* b);

void GetSystemTimeAsFileTime(FILETIME* time);
void GetSystemTime(SYSTEMTIME* time);
void GetLocalTime(SYSTEMTIME* time);

BOOL FileTimeToSystemTime(const FILETIME* file_time, SYSTEMTIME* system_time);
// Checks every field (wDayOfWeek is ignored).
BOOL SystemTimeToFileTime(const SYSTEMTIME* system_time, FILETIME* file_time);

// Shift by the local zone's offset in force now, whatever the date converted.
BOOL FileTimeToLocalFileTime(const FILETIME* file_time, FILETIME* local_file_time);
BOOL LocalFileTimeToFileTime(const FILETIME* local_file_time, FILETIME* file_time);

// Shift by the offset in force at the date converted (daylight saving
// included). With ZONE null, the process's zone; otherwise its Bias only.
BOOL SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* universal,
                                     SYSTEMTIME* local);
BOOL TzSpecificLocalTimeToSystemTime(const TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* local,
                                     SYSTEMTIME* universal);

namespace tessaline {

// FILETIME as one 64-bit tick count and back.
constexpr uint64_t FileTimeTicks(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}
constexpr FILETIME FileTimeFromTicks(uint64_t ticks) {
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

inline constexpr uint64_t kTicksPerSecond = 10000000;
// Seconds from 1601-01-01 to 1970-01-01.
inline constexpr int64_t kUnixEpochSeconds = 11644473600;

// The FILETIME of a UTC calendar instant given as fields; false when a field
// is out of range.
bool FileTimeFromFields(int year, int month, int day, int hour, int minute, int second, FILETIME* out);

}  // namespace tessaline
