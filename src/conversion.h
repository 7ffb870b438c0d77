// One conversion, the whole job: the input judged, the output opened, the
// header and data blocks written, the output committed. What any program
// converts with; it prints nothing and changes nothing of the process, so
// that several can run at once, each with a record of its own.
#ifndef TORVAN_CONVERSION_H
#define TORVAN_CONVERSION_H

#include "defs.h"
#include "fits_writer.h"
#include "input_file.h"
#include "output_file.h"
#include "station_clock.h"

// Why a conversion failed: each is said with the input's or the output's path.
enum t_conversion_failure {
    FAILED_INPUT_OPEN, FAILED_INPUT_READ, FAILED_INPUT_FORMAT,
    FAILED_OUTPUT_OPEN, FAILED_OUTPUT_WRITE, FAILED_OUTPUT_IS_INPUT, FAILED_OUTPUT_IS_PICTURE,
    FAILED_OUTPUT_IS_FOLDER,
    FAILED_OUTPUT_FOREIGN,   // what stands at the name is no conversion of this run's
    FAILED_OUTPUT_FOLDER,    // the night's folder is neither held nor made
    FAILED_NO_SUCH_DATE,     // the capture date is not in the calendar (30 February)
    FAILED_CLOCK,            // the capture time names no one instant on the station's clock
    FAILED_INTERRUPTED       // asked to stop (deferInterrupts)
};

enum t_conversion_result { CONVERSION_DONE, CONVERSION_SKIPPED, CONVERSION_FAILED };

// The caller's: what to convert, and the room the conversion works in (about
// half a MiB, so not for the stack). All zero up to its buffers but what to
// convert is a conversion not yet run. The output is either the path out, followed as
// torvan follows it, or the entry called name in the night's folder (made
// only once an output is to be written there), never followed:
// where something stands there, it is replaced only where replacing says,
// and otherwise the conversion is skipped when it is a whole conversion of
// this run's own, made by the runner.
struct t_conversion {
    const char* inp;
    const char* out;              // the output's path, as messages name it
    t_output_folder* folder;      // NULL for torvan's path
    const char* name;
    bool replacing;
    bool dryRun;                  // judged alone: nothing is written, no folder made
    t_header_plan plan;           // what the header holds beside the picture's own cards
    bool realDates;               // a date the calendar does not have is refused
    const t_station_clock* clock; // NULL: the capture time is written as read
    t_pass pass;                  // the frame's in an hour the clock shows twice
    t_clock_reading reading;      // after FAILED_CLOCK, and where the hour was
    t_local_resolution resolution;
    t_kvr_header utc;             // the capture time in UTC
    uint32_t umask;               // read once, before any conversion starts
    t_input input;                // the picture as judged: verdict, header, state
    t_output output;
    t_conversion_failure failure; // after a failed conversion
    char inBuffer[STREAM_BUFFER];
    char outBuffer[STREAM_BUFFER];
    unsigned char block[FITS_BLOCK];
    unsigned char header[FITS_BLOCK];   // sealed once the data is written
};

// DONE when the output holds the whole picture under its name (in a dry run,
// would); otherwise everything is closed and the output's name as it was.
t_conversion_result convertPicture(t_conversion* job);

#endif
