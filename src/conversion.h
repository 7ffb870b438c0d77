// One conversion, the whole job: the input judged, the output opened, the
// header and data blocks written, the output committed. What any program
// converts with; it prints nothing and changes nothing of the process, so
// that several can run at once, each with a record of its own.
#ifndef TORVAN_CONVERSION_H
#define TORVAN_CONVERSION_H

#include "defs.h"
#include "input_file.h"
#include "output_file.h"

// Why a conversion failed: each is said with the input's or the output's path.
enum t_conversion_failure {
    FAILED_INPUT_OPEN, FAILED_INPUT_READ, FAILED_INPUT_FORMAT,
    FAILED_OUTPUT_OPEN, FAILED_OUTPUT_WRITE, FAILED_OUTPUT_IS_INPUT, FAILED_OUTPUT_IS_PICTURE,
    FAILED_INTERRUPTED   // asked to stop (deferInterrupts)
};

// The caller's: what to convert, and the room the conversion works in (about
// half a MiB, so not for the stack). All zero but the first three fields is
// a conversion not yet run.
struct t_conversion {
    const char* inp;
    const char* out;
    int isoDate;                  // DATE-OBS in the FITS standard's form
    t_input input;                // the picture as judged: verdict, header, state
    t_output output;
    int failure;                  // t_conversion_failure, after a failed conversion
    char inBuffer[STREAM_BUFFER];
    char outBuffer[STREAM_BUFFER];
    unsigned char block[FITS_BLOCK];
};

// 1 when the output holds the whole picture under its name; 0 with a
// failure, everything closed and the output path as it was.
int convertPicture(t_conversion* job);

#endif
