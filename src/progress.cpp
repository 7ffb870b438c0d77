#include "progress.h"

#include <cinttypes>
#include <cstring>

#include "os/system.h"
#include "text_rules.h"

size_t composeProgress(const t_progress* progress, int width, char* line)
{
    uint64_t done = progress->converted + progress->skipped + progress->failed;
    double rate = progress->seconds > 0 ? progress->converted / progress->seconds : 0;
    uint64_t left = rate > 0 ? (uint64_t)((progress->total - done) / rate + 0.5) : 0;
    char parts[3][PROGRESS_LINE];
    int lengths[3];

    lengths[0] = snprintf(parts[0], sizeof parts[0], "%" PRIu64 "/%" PRIu64 " snimku",
                          done, progress->total);
    lengths[1] = snprintf(parts[1], sizeof parts[1], ", %.1f snimku/s", rate);
    // Nothing to tell of the time left before a picture is converted.
    lengths[2] = progress->converted > 0
        ? snprintf(parts[2], sizeof parts[2], ", zbyva %" PRIu64 ":%02u", left / 60,
                   (unsigned)(left % 60))
        : snprintf(parts[2], sizeof parts[2], ", zbyva ?");
    // A terminal that does not tell its width (a serial line) is taken as 80 wide.
    size_t room = width > 1 ? (size_t)width - 1 : width == 0 ? 79 : 0, used = 0;
    if (room >= PROGRESS_LINE)
        room = PROGRESS_LINE - 1;
    for (int i = 0; i < 3 && used + (size_t)lengths[i] <= room; i++) {
        memcpy(line + used, parts[i], (size_t)lengths[i]);
        used += (size_t)lengths[i];
    }
    if (used == 0) {   // not even the count fits: as much of it as does
        used = room < (size_t)lengths[0] ? room : (size_t)lengths[0];
        memcpy(line, parts[0], used);
    }
    line[used] = '\0';
    return used;
}

void clearProgress(t_console* console)
{
    if (console->standing > 0)
        printText(console->stream, "\r%*s\r", (int)console->standing, "");
    console->standing = 0;
}

void drawProgress(t_console* console, const t_progress* progress)
{
    char line[PROGRESS_LINE];

    std::lock_guard<std::mutex> hold(console->lock);
    clearProgress(console);
    if (!console->drawing || !inForeground(console->stream))
        return;
    console->standing = composeProgress(progress, terminalWidth(console->stream), line);
    printText(console->stream, "%s", line);
    fflush(console->stream);
}

void printLine(t_console* console, const char* text)
{
    std::lock_guard<std::mutex> hold(console->lock);
    clearProgress(console);
    printText(console->stream, "%s\n", text);
}

void printAbout(t_console* console, const char* what, const char* words)
{
    char shown[PATH_BUFFER];

    lineSafe(what, shown, sizeof shown);
    std::lock_guard<std::mutex> hold(console->lock);
    clearProgress(console);
    printText(console->stream, "%s: %s\n", shown, words);
}
