// A zone's history of offsets from UTC, read from the bytes of its file in the
// compiled IANA time zone database (TZif, versions 1 to 4), and a station
// clock's reading turned into UTC by it. Bytes in, answers out: the file is
// found and read elsewhere.
#ifndef TORVAN_ZONE_RULES_H
#define TORVAN_ZONE_RULES_H

#include <cstddef>
#include <cstdint>

// Room for the changes of any zone's file: the most in the database, Asia/Hebron's, are 310.
constexpr int ZONE_CHANGES = 2000;
// Seconds from 1970 beyond which nothing is anyone's clock (36 billion years;
// every int32 year lies within): a file with a change beyond them is refused,
// and a reading or an instant beyond them is taken as at them.
constexpr int64_t ZONE_TIME_LIMIT = (int64_t)1 << 60;

// When the TZ string's yearly change falls: a day of the year, and a time of
// that day in the offset in force before the change.
enum t_rule_day { RULE_JULIAN_DAY, RULE_YEAR_DAY, RULE_MONTH_WEEKDAY };
struct t_rule_change {
    t_rule_day form;
    int32_t day;       // Jn: 1 to 365, 29 February never counted; n: 0 to 365, counted
    int32_t month, week, weekday;   // Mm.w.d: week 1 to 5, 5 the last; weekday 0 Sunday to 6
    int32_t time;      // seconds from midnight, -167 to 167 hours
};

// The file's footer, a TZ string such as CET-1CEST,M3.5.0,M10.5.0/3, which
// rules from the file's last change on: standard time, and daylight time from
// one change to the other each year where the zone has it. Offsets here, as
// everywhere in this room, are seconds east of UTC (+3600 for CET).
struct t_zone_footer {
    bool present;
    int32_t standard_offset;
    bool daylight;
    int32_t daylight_offset;
    t_rule_change daylight_start, daylight_end;
};

// A zone: the offset before its first change, each change (a UTC instant,
// ascending) with the offset it brings, and the footer. Without a footer the
// last change's offset lasts for ever. Names of times and leap seconds are
// not kept: the offsets are all a station's clock needs, in civil UTC.
struct t_zone_rules {
    int32_t first_offset;
    int32_t change_count;
    int64_t changes[ZONE_CHANGES];
    int32_t offsets_after[ZONE_CHANGES];
    t_zone_footer footer;
};

enum t_local_kind { LOCAL_UNIQUE, LOCAL_SKIPPED, LOCAL_REPEATED };

// A wall-clock reading resolved. UNIQUE: one UTC instant, in earlier and later
// alike, with its offset in both offsets. REPEATED: the clock showed the
// reading twice, at earlier under earlier_offset (the first pass) and at later
// under later_offset (the second). SKIPPED: the clock jumped over the reading,
// so that it names no instant: earlier and later are 0, and the offsets are
// those before and after the jump. For SKIPPED and REPEATED, change is the UTC
// instant of the change that skipped or repeated the reading, and the readings
// it skipped or repeated run from span_start to just before span_end (02:00 to
// 03:00 on a spring night in Prague); for UNIQUE these three are 0.
struct t_local_resolution {
    t_local_kind kind;
    int64_t earlier, later;
    int32_t earlier_offset, later_offset;
    int64_t change, span_start, span_end;
};

// The zone of a TZif file's bytes, length of them: version 1's data, or the
// 64-bit data and the footer of versions 2 to 4. False for bytes that are no
// such file, or a file with more changes than the record holds, an offset of
// 25 hours west or 26 east or more, changes out of order or beyond the limit,
// or a footer that cannot be read; the record then holds nothing of use.
bool readZoneRules(const unsigned char* bytes, size_t length, t_zone_rules* zone);
// The offset in force at a UTC instant, in seconds since 1970-01-01 00:00.
int32_t zoneOffsetAt(const t_zone_rules* zone, int64_t utc);
// A reading of the zone's clock, as the seconds from 1970-01-01 00:00 that the
// same date and time would be in UTC, turned into UTC.
t_local_resolution resolveLocal(const t_zone_rules* zone, int64_t local);

#endif
