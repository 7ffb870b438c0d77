#include "zone_rules.h"

#include <cstring>

#include "calendar.h"

static const int64_t DAY_SECONDS = 86400;
// The widest offsets a zone's file may hold: under 25 hours west, 26 east.
static const int32_t WESTMOST = -89999, EASTMOST = 93599;
// A reading and the instant it names lie less than this apart.
static const int64_t NEAR = 2 * DAY_SECONDS;
static const uint64_t HEADER_SIZE = 44;

// The six counts of a header, in file order, each a 32-bit big-endian number.
struct t_tzif_counts {
    uint64_t ut_flags, standard_flags, leaps, changes, types, chars;
};

// What is left of the TZ string being read.
struct t_tz_text {
    const char* at;
    const char* end;
};

static uint32_t decodeUint32(const unsigned char* bytes)
{
    return (uint32_t)bytes[0] << 24 | (uint32_t)bytes[1] << 16 | (uint32_t)bytes[2] << 8 |
           (uint32_t)bytes[3];
}

// Two's complement, byte by byte, whatever the host.
static int64_t decodeInt64(const unsigned char* bytes)
{
    return (int64_t)((uint64_t)decodeUint32(bytes) << 32 | decodeUint32(bytes + 4));
}

static int64_t withinLimit(int64_t seconds)
{
    return seconds < -ZONE_TIME_LIMIT ? -ZONE_TIME_LIMIT
         : seconds > ZONE_TIME_LIMIT ? ZONE_TIME_LIMIT : seconds;
}

// Passes size bytes from *at, if the bytes hold them.
static bool pass(uint64_t length, uint64_t* at, uint64_t size)
{
    if (size > length - *at)
        return false;
    *at += size;
    return true;
}

// The header at *at, if the bytes hold one: its version ('\0' for 1, or '2'
// to '4') and its counts.
static bool readHeader(const unsigned char* bytes, uint64_t length, uint64_t* at,
                       t_tzif_counts* counts, unsigned char* version)
{
    const unsigned char* header = bytes + *at;

    if (!pass(length, at, HEADER_SIZE) || memcmp(header, "TZif", 4) != 0)
        return false;
    *version = header[4];
    counts->ut_flags = decodeUint32(header + 20);
    counts->standard_flags = decodeUint32(header + 24);
    counts->leaps = decodeUint32(header + 28);
    counts->changes = decodeUint32(header + 32);
    counts->types = decodeUint32(header + 36);
    counts->chars = decodeUint32(header + 40);
    return *version == 0 || (*version >= '2' && *version <= '4');
}

// The bytes of a data block whose times are time_size bytes each: changes and
// their types, the types (6 bytes each), names, leap seconds and two flags a type.
static uint64_t blockSize(const t_tzif_counts* counts, uint64_t time_size)
{
    return counts->changes * (time_size + 1) + counts->types * 6 + counts->chars +
           counts->leaps * (time_size + 4) + counts->standard_flags + counts->ut_flags;
}

// The offsets of a data block that the bytes hold whole: every type's within
// bounds, and the changes ascending, each with its type's.
static bool readBlock(const unsigned char* block, const t_tzif_counts* counts,
                      uint64_t time_size, t_zone_rules* zone)
{
    const unsigned char* change_types = block + counts->changes * time_size;
    const unsigned char* types = change_types + counts->changes;

    if (counts->types == 0 || counts->changes > ZONE_CHANGES)
        return false;
    for (uint64_t type = 0; type < counts->types; type++) {
        int32_t offset = (int32_t)decodeUint32(types + 6 * type);
        if (offset < WESTMOST || offset > EASTMOST)
            return false;
    }
    zone->first_offset = (int32_t)decodeUint32(types);
    zone->change_count = (int32_t)counts->changes;
    for (int32_t i = 0; i < zone->change_count; i++) {
        int64_t when = time_size == 4 ? (int32_t)decodeUint32(block + 4 * i)
                                      : decodeInt64(block + 8 * i);
        if (change_types[i] >= counts->types || when < -ZONE_TIME_LIMIT ||
            when > ZONE_TIME_LIMIT || (i > 0 && when <= zone->changes[i - 1]))
            return false;
        zone->changes[i] = when;
        zone->offsets_after[i] = (int32_t)decodeUint32(types + 6 * change_types[i]);
    }
    return true;
}

static bool takeChar(t_tz_text* text, char c)
{
    if (text->at == text->end || *text->at != c)
        return false;
    text->at++;
    return true;
}

// Digits up to most; the reading stops before a number could overflow.
static bool takeNumber(t_tz_text* text, int32_t most, int32_t* value)
{
    const char* start = text->at;
    int32_t number = 0;

    while (text->at != text->end && *text->at >= '0' && *text->at <= '9' && number <= most)
        number = number * 10 + (*text->at++ - '0');
    *value = number;
    return text->at != start && number <= most;
}

// [+|-]hh[:mm[:ss]] in seconds, with hours up to most.
static bool takeClock(t_tz_text* text, int32_t most, int32_t* seconds)
{
    int32_t sign = 1, hours, minutes = 0, rest = 0;

    if (takeChar(text, '-'))
        sign = -1;
    else
        takeChar(text, '+');
    if (!takeNumber(text, most, &hours) ||
        (takeChar(text, ':') && (!takeNumber(text, 59, &minutes) ||
                                 (takeChar(text, ':') && !takeNumber(text, 59, &rest)))))
        return false;
    *seconds = sign * (hours * 3600 + minutes * 60 + rest);
    return true;
}

// A letter, or in a name in <> a digit or sign too.
static bool isNameChar(char c, bool quoted)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (quoted && ((c >= '0' && c <= '9') || c == '+' || c == '-'));
}

// A time's name: three letters or more, or in <> three or more letters,
// digits and signs (<+03>). The names are not kept.
static bool takeName(t_tz_text* text)
{
    bool quoted = takeChar(text, '<');
    const char* start = text->at;

    while (text->at != text->end && isNameChar(*text->at, quoted))
        text->at++;
    return text->at - start >= 3 && (!quoted || takeChar(text, '>'));
}

// Jn, n or Mm.w.d, then /time; the time is 02:00 when not given.
static bool takeChange(t_tz_text* text, t_rule_change* change)
{
    bool read;

    *change = {};
    if (takeChar(text, 'J')) {
        change->form = RULE_JULIAN_DAY;
        read = takeNumber(text, 365, &change->day) && change->day >= 1;
    } else if (takeChar(text, 'M')) {
        change->form = RULE_MONTH_WEEKDAY;
        read = takeNumber(text, 12, &change->month) && change->month >= 1 &&
               takeChar(text, '.') && takeNumber(text, 5, &change->week) &&
               change->week >= 1 && takeChar(text, '.') && takeNumber(text, 6, &change->weekday);
    } else {
        change->form = RULE_YEAR_DAY;
        read = takeNumber(text, 365, &change->day);
    }
    change->time = 2 * 3600;
    return read && (!takeChar(text, '/') || takeClock(text, 167, &change->time));
}

// std offset [dst [offset],start,end]. Its offsets count hours west of UTC,
// daylight time's one hour less than standard time's when not given. Daylight
// time without its changes is refused: the database always writes them.
static bool readTzString(t_tz_text text, t_zone_footer* footer)
{
    int32_t west;

    footer->present = text.at != text.end;
    if (!footer->present)
        return true;
    if (!takeName(&text) || !takeClock(&text, 24, &west))
        return false;
    footer->standard_offset = -west;
    footer->daylight = text.at != text.end;
    if (!footer->daylight)
        return true;
    if (!takeName(&text))
        return false;
    footer->daylight_offset = footer->standard_offset + 3600;
    if (text.at != text.end && *text.at != ',') {
        if (!takeClock(&text, 24, &west))
            return false;
        footer->daylight_offset = -west;
    }
    return takeChar(&text, ',') && takeChange(&text, &footer->daylight_start) &&
           takeChar(&text, ',') && takeChange(&text, &footer->daylight_end) &&
           text.at == text.end;
}

// The footer: a TZ string between two newlines; an empty one rules nothing.
static bool readFooter(const unsigned char* bytes, uint64_t left, t_zone_footer* footer)
{
    if (left == 0 || bytes[0] != '\n')
        return false;
    const void* end = memchr(bytes + 1, '\n', (size_t)left - 1);
    return end != NULL && readTzString({(const char*)bytes + 1, (const char*)end}, footer);
}

bool readZoneRules(const unsigned char* bytes, size_t length, t_zone_rules* zone)
{
    t_tzif_counts counts;
    unsigned char version, second_version;
    uint64_t at = 0;

    if (!readHeader(bytes, length, &at, &counts, &version))
        return false;
    // Version 2 on repeats the data with 64-bit times after the 32-bit block,
    // and adds the footer: this reader takes them and passes the first block.
    if (version != 0 && !(pass(length, &at, blockSize(&counts, 4)) &&
                          readHeader(bytes, length, &at, &counts, &second_version)))
        return false;
    uint64_t time_size = version != 0 ? 8 : 4, block = at;
    if (!pass(length, &at, blockSize(&counts, time_size)) ||
        !readBlock(bytes + block, &counts, time_size, zone))
        return false;
    zone->footer.present = false;
    return version == 0 || readFooter(bytes + at, length - at, &zone->footer);
}

// The day, counted from 1970-01-01, on which a yearly change falls in year.
static int64_t changeDay(const t_rule_change* change, int64_t year)
{
    int64_t first = daysFromCivil(year, change->form == RULE_MONTH_WEEKDAY ? change->month : 1, 1);

    if (change->form == RULE_JULIAN_DAY)
        return first + change->day - 1 + (isLeapYear(year) && change->day >= 60);
    if (change->form == RULE_YEAR_DAY)
        return first + change->day;
    int64_t day = first + (change->weekday - weekdayFromDays(first) + 7) % 7 +
                  7 * (change->week - 1);
    return day - first < daysInMonth(year, change->month) ? day : day - 7;
}

static int64_t changeInstant(const t_rule_change* change, int64_t year, int32_t offset_before)
{
    return changeDay(change, year) * DAY_SECONDS + change->time - offset_before;
}

// The footer's offset at utc, from its last change at or before it, and its
// first change after it, if any. A change's time may move it by a week into
// another year, so five years are looked at. Of two changes at one instant
// the later year's rules, a year's end after its start: daylight time that
// ends on 31 December at 24:00 and begins on 1 January at 00:00 lasts all year.
static bool footerAround(const t_zone_footer* footer, int64_t utc, int32_t* offset, int64_t* next)
{
    t_civil_time civil;
    int64_t last = INT64_MIN;
    bool found = false;

    *offset = footer->standard_offset;
    if (!footer->daylight)
        return false;
    civilFromSeconds(utc, &civil);
    for (int64_t year = civil.year - 2; year <= civil.year + 2; year++) {
        int64_t start = changeInstant(&footer->daylight_start, year, footer->standard_offset);
        int64_t end = changeInstant(&footer->daylight_end, year, footer->daylight_offset);
        if (start <= utc && start >= last)
            last = start, *offset = footer->daylight_offset;
        if (end <= utc && end >= last)
            last = end, *offset = footer->standard_offset;
        if (start > utc && (!found || start < *next))
            *next = start, found = true;
        if (end > utc && (!found || end < *next))
            *next = end, found = true;
    }
    return found;
}

// The index of the last change at or before utc, -1 before the first.
static int32_t lastChangeBy(const t_zone_rules* zone, int64_t utc)
{
    int32_t low = 0, high = zone->change_count;

    while (low < high) {
        int32_t middle = low + (high - low) / 2;
        if (zone->changes[middle] <= utc)
            low = middle + 1;
        else
            high = middle;
    }
    return low - 1;
}

// The footer rules from the last change on, or everywhere in a file of none.
static int32_t offsetAt(const t_zone_rules* zone, int64_t utc)
{
    int32_t last = lastChangeBy(zone, utc), offset;
    int64_t next;

    if (last == zone->change_count - 1 && zone->footer.present) {
        footerAround(&zone->footer, utc, &offset, &next);
        return offset;
    }
    return last < 0 ? zone->first_offset : zone->offsets_after[last];
}

// The first change after utc, if there is one.
static bool nextChange(const t_zone_rules* zone, int64_t utc, int64_t* next)
{
    int32_t last = lastChangeBy(zone, utc), offset;

    if (last + 1 < zone->change_count) {
        *next = zone->changes[last + 1];
        return true;
    }
    return zone->footer.present && footerAround(&zone->footer, utc, &offset, next);
}

int32_t zoneOffsetAt(const t_zone_rules* zone, int64_t utc)
{
    return offsetAt(zone, withinLimit(utc));
}

// The reading is walked through every stretch of one offset that lies near
// it: it names an instant in each stretch that holds local - offset. Where no
// stretch holds it, a change jumped over it; where two do, a change took the
// clock back over it after the first. Such a change is kept with the readings
// its jump spans: a jump forward while no instant is found, one back after the
// first.
t_local_resolution resolveLocal(const t_zone_rules* zone, int64_t local)
{
    t_local_resolution result = {};
    int64_t from, change;
    int32_t offset, found = 0;

    local = withinLimit(local);
    from = local - NEAR;
    offset = offsetAt(zone, from);
    for (;;) {
        bool more = nextChange(zone, from, &change);
        if (local - offset >= from && (!more || local - offset < change)) {
            result.later = local - offset, result.later_offset = offset;
            if (found++ == 0)
                result.earlier = result.later, result.earlier_offset = offset;
        }
        if (!more || change > local + NEAR)
            break;
        int32_t after = offsetAt(zone, change);
        int64_t low = change + (after < offset ? after : offset);
        int64_t high = change + (after < offset ? offset : after);
        if (low <= local && local < high && found == (after > offset ? 0 : 1)) {
            result.change = change, result.span_start = low, result.span_end = high;
            if (found == 0)
                result.earlier_offset = offset, result.later_offset = after;
        }
        from = change, offset = after;
    }
    result.kind = found == 0 ? LOCAL_SKIPPED : found == 1 ? LOCAL_UNIQUE : LOCAL_REPEATED;
    if (found == 1)
        result.change = result.span_start = result.span_end = 0;
    return result;
}
