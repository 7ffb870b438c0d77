// The proleptic Gregorian calendar, in astronomical numbering (year 0 is 1 BC,
// year -1 is 2 BC), over any year a header may hold: dates and times of day
// counted from 1970-01-01 00:00 in whole days and seconds, integers only.
#ifndef TORVAN_CALENDAR_H
#define TORVAN_CALENDAR_H

#include <cstdint>

// A date and a time of day to the second, as a station's clock or UTC reads it.
struct t_civil_time {
    int64_t year;
    int month, day, hour, minute, second;
};

bool isLeapYear(int64_t year);
// 28 to 31; 0 for a month outside 1 to 12.
int daysInMonth(int64_t year, int month);
// Whether the day is one of the month's: 30 February and 31 April are not.
bool dateExists(int64_t year, int month, int day);
// The days from 1970-01-01 to a date that exists, exact for every year within
// 10^16 of year 0 (every int32 year by far).
int64_t daysFromCivil(int64_t year, int month, int day);
// The date of a day counted from 1970-01-01, for any count of days.
void civilFromDays(int64_t days, int64_t* year, int* month, int* day);
// The weekday of a day counted from 1970-01-01: 0 for Sunday to 6 for Saturday.
int weekdayFromDays(int64_t days);
// The seconds from 1970-01-01 00:00 to a date that exists and a time of day of
// 0 to 23, 59 and 59 (or beyond: they carry into the next day), exact for
// every year within 10^11 of year 0 (every int32 year by far).
int64_t secondsFromCivil(const t_civil_time* time);
// The date and time of day of any count of seconds from 1970-01-01 00:00.
void civilFromSeconds(int64_t seconds, t_civil_time* time);

#endif
