// The rooms that take and give bytes, called directly: the text rules, the progress line.
#include <gtest/gtest.h>

#include <string>

#include "progress.h"
#include "text_rules.h"

// Every name a program prints: a terminal's controls as '?' on a line, escaped in a field.
TEST(TextRules, NamesAsPrinted)
{
    const struct { std::string name, line, field; } rows[] = {
        {"f\x1b]2;x\x07.kvr", "f?]2;x?.kvr", "f\\033]2;x\\007.kvr"},
        {"a\tb\nc\\", "a?b?c\\", "a\\tb\\nc\\\\"},
        {"\x7f\xc2\x80\xc2\x9f\xc2\xa0", "???\xc2\xa0", "\\177\\302\\200\\302\\237\xc2\xa0"},
        {"\x9d" "2;t\x9c \x80\xa0\xff", "?2;t? ?\xa0\xff", "\\2352;t\\234 \\200\xa0\xff"},
        {"M\xc4\x9bs\xc3\xad" "c", "M\xc4\x9bs\xc3\xad" "c", "M\xc4\x9bs\xc3\xad" "c"},
    };
    for (const auto& row : rows) {
        char line[64], field[64];
        lineSafe(row.name.c_str(), line, sizeof line);
        EXPECT_EQ(line, row.line) << row.name;
        EXPECT_EQ(fieldSafe(row.name.c_str(), field, sizeof field), row.name.size());
        EXPECT_EQ(field, row.field) << row.name;
    }
}

// The progress line fits any terminal, shortened by its last parts; its rate and the time left
// are counted over conversions alone, not over pictures skipped.
TEST(Progress, LineForAWidth)
{
    const t_progress converting = {120, 200, 100, 2.0}, resumed = {120, 200, 20, 2.0};
    const struct { t_progress progress; int width; std::string line; } rows[] = {
        {converting, 42, "120/200 snimku, 50.0 snimku/s, zbyva 0:02"},
        {converting, 0, "120/200 snimku, 50.0 snimku/s, zbyva 0:02"},   // a width not told
        {converting, 41, "120/200 snimku, 50.0 snimku/s"}, {converting, 20, "120/200 snimku"},
        {converting, 8, "120/200"}, {converting, 1, ""},
        {resumed, 80, "120/200 snimku, 10.0 snimku/s, zbyva 0:08"},
        {{3, 200, 0, 0.5}, 80, "3/200 snimku, 0.0 snimku/s, zbyva ?"},
    };
    for (const auto& row : rows) {
        char line[PROGRESS_LINE];
        EXPECT_EQ(composeProgress(&row.progress, row.width, line), row.line.size()) << row.width;
        EXPECT_EQ(line, row.line) << row.width;
    }
}
