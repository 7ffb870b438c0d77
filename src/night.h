// The night a command names, as kvrinfo and kvr2fits take it: its pictures,
// each once, their outputs' names and folders, the outputs that would clash,
// and the sources that gave no picture. A source is a file as it is, a folder
// as every file in it whose name ends in .kvr in any case, sorted by name, and
// its subfolders' (never through a link) where the night is a tree; on
// Windows a name with * or ? as the files it matches.
#ifndef TORVAN_NIGHT_H
#define TORVAN_NIGHT_H

#include <string>
#include <vector>

#include "station_clock.h"

// What a source gave.
enum t_source_found { SOURCE_PICTURES, SOURCE_NOTHING, SOURCE_UNLISTABLE };

// Adds the pictures of one source; subfolders tells whether a folder among
// it has folders, which are not searched.
t_source_found collectPictures(const char* source, std::vector<std::string>* pictures,
                               bool* subfolders);

// One picture of the night and where it goes.
struct t_picture {
    std::string source;       // the source folder as given, then the file's name
    std::string output;       // the output folder as given, then the output's name
    size_t name;              // where the output's name starts in output
    size_t folder;            // the output's folder, in the plan's folders
    size_t night;             // the source folder it was found in, or its own operand
    const char* clash;        // another picture that converts to the same output, or NULL
};

// A source, or a folder in it, that gave no picture.
struct t_source_note {
    std::string operand;
    t_source_found found;
    bool subfolders;
};

// The pictures in the order they are converted, each folder's together; the
// output folders, the first the one given.
struct t_night_plan {
    std::vector<t_picture> pictures;
    std::vector<std::string> folders;
    std::vector<t_source_note> notes;
    size_t nights;            // source folders and operands so far
};

// The pictures of every source, each once, with their outputs in folder, or
// in its subfolders as the sources' tree has them where recursive. Two
// pictures clash where both convert and their outputs' names are one as FAT
// and Windows compare them (F0001.fit is f0001.fit).
void planNight(const std::vector<const char*>& sources, const char* folder, bool recursive,
               t_night_plan* plan);
// The pass of each picture of the night numbered night through an hour the
// zone's clock shows twice, by that night's order: its pictures' capture
// times are read for it, once one of them is found in such an hour.
void planPasses(const t_night_plan* plan, const t_station_clock* clock, size_t night,
                std::vector<t_pass>* passes);

#endif
