// The rooms that take and give bytes, called directly: the text rules.
#include <gtest/gtest.h>

#include <string>

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
