// The console of a night: failure lines, and on a terminal a progress line
// below them. The line is composed for a width apart from the job loop, then
// drawn and blanked under the console's lock.
#ifndef TORVAN_PROGRESS_H
#define TORVAN_PROGRESS_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>

// Where a night stands.
struct t_progress {
    uint64_t converted;   // what the rate and the time left are counted over
    uint64_t skipped;
    uint64_t failed;
    uint64_t total;
    double seconds;       // since the night began
};

// Room for the longest line, whatever the terminal's width.
constexpr size_t PROGRESS_LINE = 96;

// The progress line for a terminal of width columns, in line (PROGRESS_LINE
// bytes): "120/200 snimku, 41.3 snimku/s, zbyva 0:02", shortened by its last
// parts, never longer than width - 1, so that the cursor never wraps; a width
// of 0 is unknown, taken as 80. Its length.
size_t composeProgress(const t_progress* progress, int width, char* line);

// Standard error, written one thread at a time.
struct t_console {
    std::mutex lock;
    FILE* stream;
    bool drawing;          // a progress line may be drawn
    size_t standing;       // the length of the progress line standing, to blank it
};

// Drawn only while the run is in the terminal's foreground.
void drawProgress(t_console* console, const t_progress* progress);
// A line of its own above the progress line.
void printLine(t_console* console, const char* text);
// A line about what (a name, shown on one line): what, a colon and words.
void printAbout(t_console* console, const char* what, const char* words);
void clearProgress(t_console* console);

#endif
