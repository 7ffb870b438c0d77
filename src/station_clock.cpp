#include "station_clock.h"

#include "calendar.h"

// The reading as the seconds the same date and time would be in UTC.
static int64_t readingSeconds(const t_kvr_header* h)
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

// An hour shown twice in one night: its frames so far, and whether a time
// went back within it.
struct t_shown_twice {
    size_t night;
    int64_t change;
    int64_t last;
    bool wentBack;
};

void orderPasses(const t_station_clock* clock, const std::vector<t_ordered_frame>& frames,
                 std::vector<t_pass>* passes)
{
    std::vector<t_shown_twice> hours;
    std::vector<std::pair<size_t, size_t>> met;   // a frame's place in passes, and its hour
    std::vector<bool> afterStep;

    for (size_t f = 0; clock->kind == CLOCK_ZONE && f < frames.size(); f++) {
        const t_ordered_frame& frame = frames[f];
        int64_t reading = readingSeconds(frame.header);
        t_local_resolution resolution = resolveLocal(clock->zone, reading);
        if (resolution.kind != LOCAL_REPEATED)
            continue;
        size_t hour = 0;
        while (hour < hours.size() &&
               (hours[hour].night != frame.night || hours[hour].change != resolution.change))
            hour++;
        if (hour == hours.size())
            hours.push_back({frame.night, resolution.change, reading, false});
        hours[hour].wentBack = hours[hour].wentBack || reading < hours[hour].last;
        hours[hour].last = reading;
        met.emplace_back(frame.index, hour);
        afterStep.push_back(hours[hour].wentBack);
    }
    for (size_t i = 0; i < met.size(); i++)
        if (hours[met[i].second].wentBack)
            (*passes)[met[i].first] = afterStep[i] ? PASS_SECOND : PASS_FIRST;
}
