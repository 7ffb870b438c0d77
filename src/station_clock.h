// The capture station's clock: how a frame's capture time, as its header holds
// it, becomes UTC, by a fixed offset or by a zone's history. Records in,
// records out: the zone's file is read elsewhere, and the night's order, which
// tells the two passes through an hour the clock shows twice, is the night's.
#ifndef TORVAN_STATION_CLOCK_H
#define TORVAN_STATION_CLOCK_H

#include <cstddef>
#include <cstdint>

#include "defs.h"
#include "zone_rules.h"

// Whose clock the capture times are: as read, taken as UTC; a clock on one
// offset all year; or a zone's, by its history.
enum t_clock_kind { CLOCK_AS_READ, CLOCK_OFFSET, CLOCK_ZONE };
// A time in an hour the clock shows twice: told by the night's order, or as asked.
enum t_repeat_choice { REPEAT_BY_ORDER, REPEAT_FIRST, REPEAT_SECOND };

struct t_station_clock {
    t_clock_kind kind;
    int32_t offset;                 // seconds east of UTC, for CLOCK_OFFSET
    const t_zone_rules* zone;       // for CLOCK_ZONE
    t_repeat_choice repeat;
};

// What a capture time is on the station's clock.
enum t_clock_reading {
    READING_IN_UTC,        // one instant
    READING_SKIPPED,       // in the hour the clock jumped over
    READING_REPEATED,      // in the hour it showed twice, the pass unknown
    READING_OUT_OF_RANGE,  // in UTC past the years a header holds
};

// A frame's place in an hour shown twice: unknown, or its first or second pass.
enum t_pass { PASS_UNKNOWN, PASS_FIRST, PASS_SECOND };

// The capture time of header in UTC: utc becomes a copy of header with its
// date and time so moved (its thousandths as they were). pass is the frame's
// in an hour shown twice, where the night's order told it; resolution tells,
// where the time is skipped or repeated, which hour.
t_clock_reading readClock(const t_station_clock* clock, const t_kvr_header* header, t_pass pass,
                          t_kvr_header* utc, t_local_resolution* resolution);
// The seconds from 1970-01-01 00:00 that the reading of header would be in UTC.
int64_t readingSeconds(const t_kvr_header* header);

#endif
