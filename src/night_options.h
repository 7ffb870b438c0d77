// kvr2fits's command line: its options and operands, what a night's headers
// hold, and the words of a refusal. Nothing is printed here.
#ifndef TORVAN_NIGHT_OPTIONS_H
#define TORVAN_NIGHT_OPTIONS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fits_writer.h"
#include "station_clock.h"
#include "user_cards.h"


struct t_night_options {
    int workers;
    bool force;                // replace what stands at an output's name
    bool quiet;
    bool recursive;            // every folder below a source folder too
    bool dryRun;               // say what would be done, write nothing
    t_header_plan plan;
    t_user_cards cards;
    t_station_clock clock;
    char clockRule[64];        // the clock as the header's COMMENT names it
    std::vector<const char*> operands;   // the sources, then the folder
    std::string dropped;       // the folder for a lone source folder: its fits
};

enum t_command { COMMAND_RUN, COMMAND_HELP, COMMAND_VERSION, COMMAND_REFUSED };

// Room for the words of a refusal, an argument quoted in full among them.
constexpr size_t REFUSAL_TEXT_SIZE = 8192;

// Reads the command line into options (all zero before), and the zone's
// file and the cards files it names; after COMMAND_REFUSED, words says why.
t_command parseNightOptions(int argc, char* argv[], t_night_options* options, char* words);
void freeNightOptions(t_night_options* options);
void printNightHelp();

#endif
