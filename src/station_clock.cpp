#include "station_clock.h"

#include "calendar.h"

int64_t readingSeconds(const t_kvr_header* h)
{
    t_civil_time reading = {h->year, h->month, h->day, h->hour, h->minute, h->second};

    return secondsFromCivil(&reading);
}

// The night's order first; where it cannot tell, what the user asked for.
static t_pass chosenPass(const t_station_clock* clock, t_pass pass)
{
    if (pass != PASS_UNKNOWN || clock->repeat == REPEAT_BY_ORDER)
        return pass;
    return clock->repeat == REPEAT_FIRST ? PASS_FIRST : PASS_SECOND;
}

t_clock_reading readClock(const t_station_clock* clock, const t_kvr_header* header, t_pass pass,
                          t_kvr_header* utc, t_local_resolution* resolution)
{
    t_civil_time moved;

    *utc = *header;
    *resolution = {};
    if (clock->kind == CLOCK_AS_READ)
        return READING_IN_UTC;
    int64_t reading = readingSeconds(header), instant = reading;
    if (clock->kind == CLOCK_OFFSET) {
        instant = reading - clock->offset;
    } else {
        *resolution = resolveLocal(clock->zone, reading);
        pass = chosenPass(clock, pass);
        if (resolution->kind == LOCAL_SKIPPED)
            return READING_SKIPPED;
        if (resolution->kind == LOCAL_REPEATED && pass == PASS_UNKNOWN)
            return READING_REPEATED;
        instant = pass == PASS_SECOND ? resolution->later : resolution->earlier;
    }
    civilFromSeconds(instant, &moved);
    if (moved.year < INT32_MIN || moved.year > INT32_MAX)
        return READING_OUT_OF_RANGE;
    utc->year = (int32_t)moved.year;
    utc->month = moved.month, utc->day = moved.day;
    utc->hour = moved.hour, utc->minute = moved.minute, utc->second = moved.second;
    return READING_IN_UTC;
}

