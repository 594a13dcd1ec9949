#include "platform/base/FileTime.h"

#include <sys/time.h>

#include <ctime>

#include "platform/base/Errors.h"

namespace tessaline {
namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int* year, unsigned* month, unsigned* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (*month <= 2));
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// The last instant a SYSTEMTIME can carry: 30827-12-31 23:59:59.999.
constexpr uint64_t kMaxTicks = 0x7FFFFFFFFFFFFFFFull;

bool ValidTicks(int64_t ticks) { return ticks >= 0 && static_cast<uint64_t>(ticks) <= kMaxTicks; }

// The local zone's offset from UTC, in seconds, at the Unix time T.
int64_t LocalOffsetAt(time_t t) {
  struct tm local;
  if (localtime_r(&t, &local) == nullptr) return 0;
  return local.tm_gmtoff;
}

int64_t UnixSecondsOfTicks(int64_t ticks) {
  return ticks / static_cast<int64_t>(kTicksPerSecond) - kUnixEpochSeconds;
}

// Offset (seconds) to subtract from a local wall-clock instant to reach UTC:
// found by asking the C library for the zone in force at that wall time.
int64_t LocalOffsetForWallTime(int64_t local_unix_seconds) {
  const int64_t guess = local_unix_seconds - LocalOffsetAt(static_cast<time_t>(local_unix_seconds));
  return LocalOffsetAt(static_cast<time_t>(guess));
}

}  // namespace

bool FileTimeFromFields(int year, int month, int day, int hour, int minute, int second, FILETIME* out) {
  if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    return false;
  }
  const int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  const int64_t seconds = (days * 86400 + hour * 3600 + minute * 60 + second) + kUnixEpochSeconds;
  *out = FileTimeFromTicks(static_cast<uint64_t>(seconds) * kTicksPerSecond);
  return true;
}

}  // namespace tessaline

using tessaline::FileTimeFromTicks;
using tessaline::FileTimeTicks;
using tessaline::kTicksPerSecond;
using tessaline::kUnixEpochSeconds;

LONG CompareFileTime(const FILETIME* a, const FILETIME* b) {
  const uint64_t x = FileTimeTicks(*a);
  const uint64_t y = FileTimeTicks(*b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

void GetSystemTimeAsFileTime(FILETIME* time) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  const uint64_t ticks = (static_cast<uint64_t>(now.tv_sec) + kUnixEpochSeconds) * kTicksPerSecond +
                         static_cast<uint64_t>(now.tv_nsec) / 100;
  *time = FileTimeFromTicks(ticks);
}

void GetSystemTime(SYSTEMTIME* time) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  (void)FileTimeToSystemTime(&now, time);
}

void GetLocalTime(SYSTEMTIME* time) {
  FILETIME now;
  FILETIME local;
  GetSystemTimeAsFileTime(&now);
  (void)FileTimeToLocalFileTime(&now, &local);
  (void)FileTimeToSystemTime(&local, time);
}

BOOL FileTimeToSystemTime(const FILETIME* file_time, SYSTEMTIME* system_time) {
  if (file_time == nullptr || system_time == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  const uint64_t ticks = FileTimeTicks(*file_time);
  if (ticks > tessaline::kMaxTicks) return FailWith(ERROR_INVALID_PARAMETER);
  const auto seconds = static_cast<int64_t>(ticks / kTicksPerSecond);
  const int64_t days = seconds / 86400 - kUnixEpochSeconds / 86400;  // the epoch offset is whole days
  const int64_t rest = seconds % 86400;
  int year;
  unsigned month;
  unsigned day;
  tessaline::CivilFromDays(days, &year, &month, &day);
  SYSTEMTIME out;
  out.wYear = static_cast<WORD>(year);
  out.wMonth = static_cast<WORD>(month);
  out.wDay = static_cast<WORD>(day);
  out.wDayOfWeek = static_cast<WORD>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday (4)
  out.wHour = static_cast<WORD>(rest / 3600);
  out.wMinute = static_cast<WORD>(rest / 60 % 60);
  out.wSecond = static_cast<WORD>(rest % 60);
  out.wMilliseconds = static_cast<WORD>(ticks % kTicksPerSecond / 10000);
  *system_time = out;
  return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* system_time, FILETIME* file_time) {
  if (system_time == nullptr || file_time == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  const SYSTEMTIME& s = *system_time;
  FILETIME whole;
  if (s.wMilliseconds > 999 ||
      !tessaline::FileTimeFromFields(s.wYear, s.wMonth, s.wDay, s.wHour, s.wMinute, s.wSecond, &whole)) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  *file_time = FileTimeFromTicks(FileTimeTicks(whole) + s.wMilliseconds * 10000ull);
  return TRUE;
}

namespace {

BOOL ShiftFileTime(const FILETIME* in, FILETIME* out, int64_t offset_seconds) {
  if (in == nullptr || out == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  const auto ticks = static_cast<int64_t>(FileTimeTicks(*in));
  const int64_t shifted = ticks + offset_seconds * static_cast<int64_t>(kTicksPerSecond);
  if (ticks < 0 || !tessaline::ValidTicks(shifted)) return FailWith(ERROR_INVALID_PARAMETER);
  *out = FileTimeFromTicks(static_cast<uint64_t>(shifted));
  return TRUE;
}

int64_t OffsetNow() { return tessaline::LocalOffsetAt(time(nullptr)); }

}  // namespace

BOOL FileTimeToLocalFileTime(const FILETIME* file_time, FILETIME* local_file_time) {
  return ShiftFileTime(file_time, local_file_time, OffsetNow());
}

BOOL LocalFileTimeToFileTime(const FILETIME* local_file_time, FILETIME* file_time) {
  return ShiftFileTime(local_file_time, file_time, -OffsetNow());
}

BOOL SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* universal,
                                     SYSTEMTIME* local) {
  FILETIME utc;
  if (local == nullptr || !SystemTimeToFileTime(universal, &utc)) return FailWith(ERROR_INVALID_PARAMETER);
  const int64_t offset =
      zone != nullptr ? -static_cast<int64_t>(zone->Bias) * 60
                      : tessaline::LocalOffsetAt(static_cast<time_t>(
                            tessaline::UnixSecondsOfTicks(static_cast<int64_t>(FileTimeTicks(utc)))));
  FILETIME shifted;
  if (!ShiftFileTime(&utc, &shifted, offset)) return FALSE;
  return FileTimeToSystemTime(&shifted, local);
}

BOOL TzSpecificLocalTimeToSystemTime(const TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* local,
                                     SYSTEMTIME* universal) {
  FILETIME wall;
  if (universal == nullptr || !SystemTimeToFileTime(local, &wall)) return FailWith(ERROR_INVALID_PARAMETER);
  const int64_t offset =
      zone != nullptr ? -static_cast<int64_t>(zone->Bias) * 60
                      : tessaline::LocalOffsetForWallTime(
                            tessaline::UnixSecondsOfTicks(static_cast<int64_t>(FileTimeTicks(wall))));
  FILETIME shifted;
  if (!ShiftFileTime(&wall, &shifted, -offset)) return FALSE;
  return FileTimeToSystemTime(&shifted, universal);
}
