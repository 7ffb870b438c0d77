// One picture of a night, as a worker of kvr2fits converts it: its job made
// from the night's options, and what became of it said on the night's
// console; and the night's own lines, of sources that gave nothing and of a
// failing output folder, which stops it.
#ifndef TORVAN_NIGHT_JOB_H
#define TORVAN_NIGHT_JOB_H

#include <atomic>
#include <mutex>
#include <vector>

#include "conversion.h"
#include "night.h"
#include "night_options.h"
#include "progress.h"

// What became of a picture; one never taken, or given up, is not converted.
enum t_outcome { CONVERTED, SKIPPED, FAILED, NOT_CONVERTED, OUTCOMES };

// Shared by the workers: the plan and its folders, the next picture to take,
// the counts and the console.
struct t_night {
    t_night_plan plan;
    const t_night_options* options;
    uint32_t umask;
    std::atomic_flag folderLock = ATOMIC_FLAG_INIT;
    std::vector<t_output_folder> folders;
    std::mutex orderLock;
    std::vector<t_pass> passes;         // each picture's in an hour the clock shows twice
    std::vector<bool> ordered;          // whether a night's passes are known
    std::atomic<size_t> next;
    std::atomic<uint64_t> counts[OUTCOMES];
    std::atomic<int> working;           // workers not yet done
    std::atomic<bool> stopped;          // an output folder failed: nothing more is begun
    t_console console;
};

// Says of each source that gave no picture why: each a failure of the night.
bool reportSources(t_night* night);
// Converts one picture in the worker's room job.
t_outcome convertOne(t_night* night, const t_picture* picture, t_conversion* job);

#endif
