// The station's clock: the calendar, and a zone's TZif bytes read and readings turned into
// UTC, against zdump's figures for Europe/Prague and for TZ strings.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "calendar.h"
#include "zone_rules.h"

using namespace std::string_literals;

// Every day of 4000 years about year 0 and of 400 about each int32 year's end, from a known
// first day, follows the day before, weekday too, and comes back with a second of it.
TEST(Calendar, DaysAndSeconds)
{
    const struct { int64_t days, year; int month, weekday; int64_t count; } starts[] = {
        {-1449953, -2000, 3, 3, 1461000}, {-784353088881, INT32_MIN - 200LL, 1, 6, 146097},
        {784351503363, INT32_MAX - 200LL, 1, 5, 146097},
    };
    const t_civil_time local = {1999, 12, 31, 23, 30, 0}, west = {2000, 1, 1, 0, 30, 0};
    EXPECT_TRUE(daysFromCivil(1970, 1, 1) == 0 && daysInMonth(2003, 0) == 0 &&
                daysInMonth(2003, 13) == 0 && !dateExists(2003, 1, 0) &&
                secondsFromCivil(&local) + 3600 == secondsFromCivil(&west));
    for (const auto& start : starts) {
        t_civil_time day = {start.year, start.month, 1, 0, 0, 0}, next, time;
        for (int64_t days = start.days; days < start.days + start.count; days++, day = next) {
            bool same_month = dateExists(day.year, day.month, day.day + 1);
            int64_t year, second = days * 86400 + (days * 7919 & 0xFFFF) % 86400;
            int month, date;
            civilFromDays(days + 1, &year, &month, &date);
            civilFromSeconds(second, &time);
            next = {year, month, date, 0, 0, 0};
            ASSERT_TRUE(daysFromCivil(day.year, day.month, day.day) == days &&
                        dateExists(day.year, day.month, day.day) &&
                        weekdayFromDays(days) == (start.weekday + days - start.days) % 7 &&
                        date == (same_month ? day.day + 1 : 1) &&
                        month == (same_month ? day.month : day.month % 12 + 1) &&
                        year == day.year + (!same_month && day.month == 12) &&
                        time.year == day.year && time.month == day.month && time.day == day.day &&
                        time.minute < 60 && time.second < 60 && secondsFromCivil(&time) == second)
                << days;
        }
    }
}

// Europe/Prague from Debian 12 (tzdata 2025b): version 2, 144 changes to 2037 and the footer
// CET-1CEST,M3.5.0,M10.5.0/3. Europe/Bratislava is a link to it.
static const char PRAGUE[] =
  "VFppZjIAAAAAAAAAAAAAAAAAAAAAAAAIAAAACAAAAAAAAACPAAAACAAAABGAAAAAmwwXYJvV2vCc2a6QnaS1kJ65kJCfhJeQ"
  "yAlxkMznSxDNqReQzqJDEM+SNBDQgiUQ0XIWENJiBxDTgByQ1EnSENSTtCDVAnIg1Uw4ENYptBDXLBoQ2AmWENkBcBDZ6XgQ"
  "EWQnkBJUGJATTUQQFDP6kBUj65AWE9yQFwPNkBfzvpAY46+QGdOgkBrDkZAbvL0QHKyuEB2cnxAejJAQH3yBECBschAhXGMQ"
  "IkxUECM8RRAkLDYQJRwnECYMGBAnBUOQJ/U0kCjlJZAp1RaQKsUHkCu0+JAspOmQLZTakC6Ey5AvdLyQMGStkDFd2RAycrQQ"
  "Mz27EDRSlhA1HZ0QNjJ4EDb9fxA4G5SQON1hEDn7dpA6vUMQO9tYkDymX5A9uzqQPoZBkD+bHJBAZiOQQYQ5EEJGBZBDZBsQ"
  "RCXnkEVD/RBGBcmQRyPfEEfu5hBJA8EQSc7IEErjoxBLrqoQTMy/kE2OjBBOrKGQT25uEFCMg5BRV4qQUmxlkFM3bJBUTEeQ"
  "VRdOkFYsKZBW9zCQWBVGEFjXEpBZ9SgQWrb0kFvVChBcoBEQXbTsEF5/8xBflM4QYF/VEGF96pBiP7cQY13MkGQfmRBlPa6Q"
  "Zgi1kGcdkJBn6JeQaP1ykGnIeZBq3VSQa6hbkGzGcRBtiD2QbqZTEG9oH5BwhjUQcVE8EHJmFxBzMR4QdEX5EHURABB2LxWQ"
  "dvDiEHgO95B40MQQee7ZkHqwphB7zruQfJnCkH2unZB+eaSQf45/kAIBAgMEAwQDBAMEAwQDBAMEBQIDBAMEAwQGBwYHBgcG"
  "BwYHBgcGBwYHBgcGBwYHBgcGBwYHBgcGBwYHBgcGBwYHBgcGBwYHBgcGBwYHBgcGBwYHBgcGBwYHBgcGBwYHBgcGBwYHBgcG"
  "BwYHBgcGBwYHBgcGBwYHBgcGBwYHBgcGBwYHBgcGBwYHBgcGBwYHAAANiAAAAAAcIAEEAAAOEAAJAAAcIAEEAAAOEAAJAAAA"
  "AAENAAAcIAEEAAAOEAAJTE1UAENFU1QAQ0VUAEdNVAAAAAABAQABAQAAAAAAAAEBVFppZjIAAAAAAAAAAAAAAAAAAAAAAAAJ"
  "AAAACQAAAAAAAACQAAAACQAAABX/////HkmS+P////9sz+r4/////5sMF2D/////m9Xa8P////+c2a6Q/////52ktZD/////"
  "nrmQkP////+fhJeQ/////8gJcZD/////zOdLEP/////NqReQ/////86iQxD/////z5I0EP/////QgiUQ/////9FyFhD/////"
  "0mIHEP/////TgByQ/////9RJ0hD/////1JO0IP/////VAnIg/////9VMOBD/////1im0EP/////XLBoQ/////9gJlhD/////"
  "2QFwEP/////Z6XgQAAAAABFkJ5AAAAAAElQYkAAAAAATTUQQAAAAABQz+pAAAAAAFSPrkAAAAAAWE9yQAAAAABcDzZAAAAAA"
  "F/O+kAAAAAAY46+QAAAAABnToJAAAAAAGsORkAAAAAAbvL0QAAAAABysrhAAAAAAHZyfEAAAAAAejJAQAAAAAB98gRAAAAAA"
  "IGxyEAAAAAAhXGMQAAAAACJMVBAAAAAAIzxFEAAAAAAkLDYQAAAAACUcJxAAAAAAJgwYEAAAAAAnBUOQAAAAACf1NJAAAAAA"
  "KOUlkAAAAAAp1RaQAAAAACrFB5AAAAAAK7T4kAAAAAAspOmQAAAAAC2U2pAAAAAALoTLkAAAAAAvdLyQAAAAADBkrZAAAAAA"
  "MV3ZEAAAAAAycrQQAAAAADM9uxAAAAAANFKWEAAAAAA1HZ0QAAAAADYyeBAAAAAANv1/EAAAAAA4G5SQAAAAADjdYRAAAAAA"
  "Oft2kAAAAAA6vUMQAAAAADvbWJAAAAAAPKZfkAAAAAA9uzqQAAAAAD6GQZAAAAAAP5sckAAAAABAZiOQAAAAAEGEORAAAAAA"
  "QkYFkAAAAABDZBsQAAAAAEQl55AAAAAARUP9EAAAAABGBcmQAAAAAEcj3xAAAAAAR+7mEAAAAABJA8EQAAAAAEnOyBAAAAAA"
  "SuOjEAAAAABLrqoQAAAAAEzMv5AAAAAATY6MEAAAAABOrKGQAAAAAE9ubhAAAAAAUIyDkAAAAABRV4qQAAAAAFJsZZAAAAAA"
  "UzdskAAAAABUTEeQAAAAAFUXTpAAAAAAViwpkAAAAABW9zCQAAAAAFgVRhAAAAAAWNcSkAAAAABZ9SgQAAAAAFq29JAAAAAA"
  "W9UKEAAAAABcoBEQAAAAAF207BAAAAAAXn/zEAAAAABflM4QAAAAAGBf1RAAAAAAYX3qkAAAAABiP7cQAAAAAGNdzJAAAAAA"
  "ZB+ZEAAAAABlPa6QAAAAAGYItZAAAAAAZx2QkAAAAABn6JeQAAAAAGj9cpAAAAAAach5kAAAAABq3VSQAAAAAGuoW5AAAAAA"
  "bMZxEAAAAABtiD2QAAAAAG6mUxAAAAAAb2gfkAAAAABwhjUQAAAAAHFRPBAAAAAAcmYXEAAAAABzMR4QAAAAAHRF+RAAAAAA"
  "dREAEAAAAAB2LxWQAAAAAHbw4hAAAAAAeA73kAAAAAB40MQQAAAAAHnu2ZAAAAAAerCmEAAAAAB7zruQAAAAAHyZwpAAAAAA"
  "fa6dkAAAAAB+eaSQAAAAAH+Of5ABAwIDBAUEBQQFBAUEBQQFBAUGAwQFBAUEBQcIBwgHCAcIBwgHCAcIBwgHCAcIBwgHCAcI"
  "BwgHCAcIBwgHCAcIBwgHCAcIBwgHCAcIBwgHCAcIBwgHCAcIBwgHCAcIBwgHCAcIBwgHCAcIBwgHCAcIBwgHCAcIBwgHCAcI"
  "BwgHCAcIBwgHCAcIBwgHCAcIBwgAAA2IAAAAAA2IAAQAABwgAQgAAA4QAA0AABwgAQgAAA4QAA0AAAAAAREAABwgAQgAAA4Q"
  "AA1MTVQAUE1UAENFU1QAQ0VUAEdNVAAAAAAAAQEAAQEAAAAAAAAAAQEKQ0VULTFDRVNULE0zLjUuMCxNMTAuNS4wLzMK";

// Days of Prague's changes at 01:00 UTC from 1979 to 2026 (zdump -v -c 1979,2027 Europe/Prague;
// summer time ended on 24 September 1995, 27 October 1996), the file's last two in 2037, then
// 2038 and 2100 from the footer. Summer time runs from the first of each pair to the second.
static const int64_t PRAGUE_CHANGE_DAYS[] = {
    3377, 3559, 3748, 3923, 4105, 4287, 4469, 4651, 4833, 5015, 5197, 5386, 5568, 5750, 5932,
    6114, 6296, 6478, 6660, 6842, 7024, 7206, 7388, 7577, 7759, 7941, 8123, 8305, 8487, 8669,
    8851, 9033, 9215, 9397, 9586, 9796, 9950, 10160, 10314, 10524, 10678, 10895, 11042, 11259,
    11406, 11623, 11777, 11987, 12141, 12351, 12505, 12722, 12869, 13086, 13233, 13450, 13597,
    13814, 13968, 14178, 14332, 14542, 14696, 14913, 15060, 15277, 15424, 15641, 15795, 16005,
    16159, 16369, 16523, 16733, 16887, 17104, 17251, 17468, 17615, 17832, 17986, 18196, 18350,
    18560, 18714, 18931, 19078, 19295, 19442, 19659, 19813, 20023, 20177, 20387, 20541, 20751,
    24559, 24769, 24923, 25140, 47568, 47785,
};

static std::string fromBase64(const char* text)
{
    static const char DIGITS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    for (uint32_t bits = 0, count = 0; *text != '\0' && *text != '='; text++)
        if (bits = bits << 6 | (uint32_t)(strchr(DIGITS, *text) - DIGITS), (count += 6) >= 8)
            bytes += (char)(bits >> (count -= 8));
    return bytes;
}

// The bytes in a buffer of their own size, where the sanitizers see any read past them.
static bool read(const std::string& bytes, t_zone_rules* zone)
{
    std::vector<unsigned char> exact(bytes.begin(), bytes.end());
    return readZoneRules(exact.data(), exact.size(), zone);
}

// A version 2 file of types types of offset 0 and changes changes a second apart from 1970
// (none in its first block), whose footer rules from the last change on.
static std::string zoneFile(const std::string& footer, char types = 1, uint32_t changes = 0)
{
    std::string first = "TZif2"s + std::string(34, '\0') + types + "\0\0\0\1"s;
    first += std::string(6 * types + 1, '\0');
    std::string second = first.substr(0, 34) + (char)(changes >> 8) + (char)changes;
    second += first.substr(36, 8);
    for (uint32_t i = 0; i < changes; i++)
        second += std::string(6, '\0') + (char)(i >> 8) + (char)i;
    return first + second + std::string(changes, '\0') + first.substr(44) + "\n" + footer + "\n";
}

// A reading resolved under the first offset (and the second); a skipped or repeated one with
// its span of readings from span_start, its change at that start's UTC.
static void expectResolved(const t_zone_rules* zone, int64_t local, t_local_kind kind,
                           int32_t first, int32_t second = 0, int64_t span_start = 0)
{
    t_local_resolution r = resolveLocal(zone, local);
    bool none = kind == LOCAL_SKIPPED, one = kind == LOCAL_UNIQUE;
    second = one ? first : second;
    int64_t start = one ? 0 : span_start, change = one ? 0 : span_start - std::min(first, second);
    std::vector<int64_t> want = {kind, none ? 0 : local - first, none ? 0 : local - second, first,
                                 second, change, start, one ? 0 : start + std::abs(first - second)};
    EXPECT_EQ(std::vector<int64_t>({r.kind, r.earlier, r.later, r.earlier_offset, r.later_offset,
                                    r.change, r.span_start, r.span_end}), want) << local;
}

// Each change: the reading before, the first and last skipped or repeated, the one after; in
// the file, with a leap second in each block (passed over), and as version 1 alone (its first
// 840 bytes: 32-bit times, no footer). Then LMT, 2100, the int32 years' ends and beyond.
TEST(ZoneRules, PragueEveryChange)
{
    std::string bytes = fromBase64(PRAGUE), leaps = bytes, version1 = bytes.substr(0, 840);
    t_zone_rules zone;
    leaps.insert(2255, 12, '\0'), leaps[871] = 1, leaps.insert(824, 8, '\0'), leaps[31] = 1;
    version1[4] = '\0';
    for (const std::string* file : {&bytes, &leaps, &version1}) {
        ASSERT_TRUE(read(*file, &zone));
        for (size_t i = 0; i < (file == &version1 ? 98 : std::size(PRAGUE_CHANGE_DAYS)); i++) {
            int64_t change = PRAGUE_CHANGE_DAYS[i] * 86400 + 3600;
            int32_t before = i % 2 == 0 ? 3600 : 7200, after = 10800 - before;
            expectResolved(&zone, change + 3599, LOCAL_UNIQUE, before);
            expectResolved(&zone, change + 7200, LOCAL_UNIQUE, after);
            for (int64_t local : {change + 3600, change + 7199})
                expectResolved(&zone, local, i % 2 == 0 ? LOCAL_SKIPPED : LOCAL_REPEATED, before,
                               after, change + 3600);
        }
    }
    const struct { const std::string* file; t_civil_time local; int32_t offset; } rows[] = {
        {&bytes, {1850, 1, 1, 0, 0, 0}, 3464}, {&version1, {1850, 1, 1, 0, 0, 0}, 3464},
        {&version1, {1910, 1, 1, 0, 0, 0}, 3600},
        {&bytes, {2100, 7, 1, 0, 0, 0}, 7200}, {&version1, {2100, 7, 1, 0, 0, 0}, 3600},
        {&bytes, {INT32_MAX, 7, 1, 0, 0, 0}, 7200}, {&bytes, {INT32_MIN, 1, 1, 0, 0, 0}, 3464},
    };
    for (const auto& row : rows)
        if (read(*row.file, &zone))
            expectResolved(&zone, secondsFromCivil(&row.local), LOCAL_UNIQUE, row.offset);
    for (int64_t beyond : {INT64_MIN, INT64_MAX})
        EXPECT_EQ(resolveLocal(&zone, beyond).earlier + zoneOffsetAt(&zone, beyond),
                  beyond < 0 ? -ZONE_TIME_LIMIT : ZONE_TIME_LIMIT);
}

// Footers alone, against zdump -v on the zone or the TZ string, 2040: Sydney's summer over the
// new year, Nuuk's changes at -1:00, Jerusalem's at 26:00, n and Jn about 29 February, summer
// all year, for no time, for 30 minutes an hour back, one whose change moves a year, an offset
// of 24:59:59. Spans start at hhmm of the reading's day.
TEST(ZoneRules, FooterRules)
{
    const t_local_kind ONE = LOCAL_UNIQUE, GAP = LOCAL_SKIPPED, TWICE = LOCAL_REPEATED;
    const struct {
        const char* footer;
        t_civil_time local;
        t_local_kind kind;
        int first, second, span;
    } rows[] = {
        {"AEST-10AEDT,M10.1.0,M4.1.0/3", {2040, 1, 15, 12, 0, 0}, ONE, 39600, 0, 0},
        {"<-02>2<-01>,M3.5.0/-1,M10.5.0/0", {2040, 3, 24, 23, 0, 0}, GAP, -7200, -3600, 2300},
        {"IST-2IDT,M3.4.4/26,M10.5.0", {2040, 3, 23, 2, 30, 0}, GAP, 7200, 10800, 200},
        {"<+00>0<+01>,59,304", {2040, 2, 29, 2, 30, 0}, GAP, 0, 3600, 200},
        {"<+00>0<+01>,J59,J60", {2040, 2, 28, 2, 30, 0}, GAP, 0, 3600, 200},
        {"<+00>0<+01>,J59,J60", {2040, 3, 1, 1, 30, 0}, TWICE, 3600, 0, 100},
        {"XXX3EDT4,0/0,J365/23", {2040, 1, 1, 0, 30, 0}, ONE, -14400, 0, 0},
        {"AAA0BBB,J100,J100/3", {2040, 4, 10, 12, 0, 0}, ONE, 0, 0, 0},
        {"AAA-2BBB0,J100/2,J100/0:30", {2040, 4, 10, 1, 0, 0}, ONE, 7200, 0, 0},
        {"AAA0BBB,J365/167,J365/160", {2040, 1, 5, 12, 0, 0}, ONE, 3600, 0, 0},
        {"<+245959>-24:59:59", {2040, 7, 1, 0, 0, 0}, ONE, 89999, 0, 0},
    };
    t_zone_rules zone;
    for (const auto& row : rows) {
        t_civil_time span = row.local;
        span.hour = row.span / 100, span.minute = row.span % 100;
        ASSERT_TRUE(read(zoneFile(row.footer), &zone)) << row.footer;
        expectResolved(&zone, secondsFromCivil(&row.local), row.kind, row.first, row.second,
                       secondsFromCivil(&span));
    }
}

// The Prague file cut short, or its bytes overwritten at an offset: the version 2 header at
// 840 (counts from 860), changes at 884, their types at 2036, the types at 2180, the footer at
// 2273. Footers that are no TZ string, and some that are; no types; the room.
TEST(ZoneRules, DamagedFiles)
{
    const std::string bytes = fromBase64(PRAGUE);
    const struct { size_t at; std::string with; bool reads; } rows[] = {
        {0, "TZiF", 0}, {4, "1", 0}, {4, "4", 1}, {840, "TZiF", 0}, {32, "\xff", 0},
        {43, "\x12", 0}, {872, "\xff", 0}, {863, "\x0a", 0}, {867, "\x0a", 0}, {871, "\x01", 0},
        {883, "\x16", 0}, {2036, "\x09", 0}, {2036, "\x08", 1},
        {892, "\xff\xff\xff\xff\x1e\x49\x92\xf8", 0},
        {884, "\xf0\0\0\0\0\0\0\0"s, 1}, {884, "\xef\xff\xff\xff\xff\xff\xff\xff", 0},
        {2028, "\x10\0\0\0\0\0\0\0"s, 1}, {2028, "\x10\0\0\0\0\0\0\1"s, 0},
        {2180, "\0\1\x6d\x9f"s, 1}, {2180, "\0\1\x6d\xa0"s, 0}, {2180, "\xff\xfe\xa0\x71", 1},
        {2180, "\xff\xfe\xa0\x70", 0},
    };
    std::istringstream refused(
        "CET CET-1CEST CET-1CEST,M3.5.0 CE-1 <+03-3 CET-25 CET-1:60 CET-1:00:60 "
        "CET-1CEST25,M3.5.0,M10.5.0 CET-1CEST,M3.5.0,M10.5.0/3x CET-1CEST,M3.5.0/168,M10.5.0 "
        "CET-1CEST,M0.5.0,M10.5.0 CET-1CEST,M13.5.0,M10.5.0 CET-1CEST,M3.0.0,M10.5.0 "
        "CET-1CEST,M3.6.0,M10.5.0 CET-1CEST,M3.5.7,M10.5.0 CET-1CEST,M3.5,M10.5.0 "
        "CET-1CEST,J0,J365 CET-1CEST,J1,J366 CET-1CEST,J1,366");
    t_zone_rules zone;
    for (size_t size : {43, 839, 883, 2272, 2273, 2300})
        EXPECT_FALSE(read(bytes.substr(0, size), &zone)) << size;
    for (const auto& row : rows)
        EXPECT_EQ(read(bytes.substr(0, row.at) + row.with + bytes.substr(row.at + row.with.size()),
                       &zone), row.reads) << row.at;
    for (std::string footer; refused >> footer;)
        EXPECT_FALSE(read(zoneFile(footer), &zone)) << footer;
    for (const char* footer : {"AZaz-24:59:59", "CET+1CEST+0:30,J1/-167,365/167", "",
                               "<Az09+->-1<A-2>-24,M1.1.0/+3,M12.5.6/03:00:00"})
        EXPECT_TRUE(read(zoneFile(footer), &zone)) << footer;
    EXPECT_TRUE(read(bytes.substr(0, 2273) + "\n\n", &zone) && !read(zoneFile("CET-1", 0), &zone) &&
                read(zoneFile("", 1, ZONE_CHANGES), &zone) &&
                !read(zoneFile("", 1, ZONE_CHANGES + 1), &zone));
}
