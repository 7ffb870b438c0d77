// One conversion after another, each compared byte for byte with what it should give.
#ifndef TORVAN_TESTS_CONVERSIONS_H
#define TORVAN_TESTS_CONVERSIONS_H

#include <array>

#include "support.h"

// An input's name of 255 bytes, the most a file system takes.
static const std::string LONG_NAME(251, 'n'), LONG_INPUT = LONG_NAME + ".kvr";
// Past the 260 characters of a plain Windows path.
static const std::string LONG_FOLDER = std::string(100, 'd') + "/" + std::string(100, 'e') + "/" +
                                       std::string(100, 'f'), LONG_PATH = LONG_FOLDER + "/o.fit";

// One conversion: a picture of width x height, taken at taken (day first), read from inp, written
// to out, card 8 naming it as card, messages as shown; POSIX only, the shell's steps around it.
struct Conversion {
    int32_t width = 2, height = 2;
    std::string inp = "a.kvr", card = "", shown = "", out = "o", options = "";
    std::array<int32_t, 7> taken = {9, 10, 2004, 11, 21, 4, 50};
    std::string date = "='09/10/04'", time = "11:21:04.050";
    std::string before = "", after = "", result = "", check = "", note = "";
    int pictures = 1;

    using Text = const std::string&;
    Conversion& size(int32_t w, int32_t h) { width = w, height = h; return *this; }
    Conversion& from(Text name, Text inCard = "", Text inMessages = "")
    {
        inp = name, card = inCard, shown = inMessages;
        return *this;
    }
    Conversion& into(Text name) { out = name; return *this; }
    Conversion& at(std::array<int32_t, 7> when, Text shortDate, Text cardTime)
    {
        taken = when, date = "='" + shortDate + "'", time = cardTime;
        return *this;
    }
    // With -i, card 6 holds value, the time of card 7 follows from it.
    Conversion& iso(Text value, std::array<int32_t, 7> when)
    {
        taken = when, options = "-i ", date = "= '" + value + "'";
        time = value.substr(value.find('T') + 1);
        return *this;
    }
    Conversion& first(Text text) { before = text; return *this; }   // shell text before the run
    Conversion& redirected(Text text) { after = text; return *this; }
    // The file that then holds the picture, count times over.
    Conversion& landing(Text holder, int count = 1)
    {
        result = holder, pictures = count;
        return *this;
    }
    Conversion& holding(Text truth) { check = truth; return *this; }   // what the shell finds true
    Conversion& noted(Text text) { note = text; return *this; }   // what kvrinfo adds to OK
};

// Each conversion runs in an empty folder of its own.
void expectConversions(std::initializer_list<Conversion> rows);

#endif
