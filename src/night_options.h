// kvr2fits's command line: its options and operands, what a night's headers
// hold, and the words of a refusal. Nothing is printed here.
#ifndef TORVAN_NIGHT_OPTIONS_H
#define TORVAN_NIGHT_OPTIONS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fits_writer.h"
#include "user_cards.h"

// Whose clock the capture times are: as read, taken as UTC; a clock on one
// offset all year; or a zone's, by its history.
enum t_clock_kind { CLOCK_AS_READ, CLOCK_OFFSET, CLOCK_ZONE };
// A time in an hour the clock shows twice: told by the night's order, or as asked.
enum t_repeat_choice { REPEAT_BY_ORDER, REPEAT_FIRST, REPEAT_SECOND };

struct t_clock_options {
    t_clock_kind kind;
    int32_t offset;            // seconds east of UTC, for CLOCK_OFFSET
    const char* zone;          // the IANA zone's name, for CLOCK_ZONE
    t_repeat_choice repeat;
    char rule[64];             // as the header's COMMENT names it
};

struct t_night_options {
    int workers;
    bool force;                // replace what stands at an output's name
    bool quiet;
    bool recursive;            // every folder below a source folder too
    bool dryRun;               // say what would be done, write nothing
    t_header_plan plan;
    t_user_cards cards;
    t_clock_options clock;
    std::vector<const char*> operands;   // the sources, then the folder
    std::string dropped;       // the folder for a lone source folder: its fits
};

enum t_command { COMMAND_RUN, COMMAND_HELP, COMMAND_VERSION, COMMAND_REFUSED };

// Room for the words of a refusal, an argument quoted in full among them.
constexpr size_t REFUSAL_TEXT_SIZE = 8192;

// Reads the command line into options (all zero before); after
// COMMAND_REFUSED, words says why.
t_command parseNightOptions(int argc, char* argv[], t_night_options* options, char* words);
void printNightHelp();

#endif
