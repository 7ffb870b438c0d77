// What a picture's verdict says in words, as kvrinfo prints it and kvr2fits
// reports a refused picture: why it does not convert, or what it is.
#ifndef TORVAN_VERDICT_TEXT_H
#define TORVAN_VERDICT_TEXT_H

#include <cstddef>

#include "conversion.h"
#include "night.h"
#include "input_file.h"
#include "kvr_header.h"

// Room for every rule broken at once, each text field quoted in full.
constexpr int VERDICT_TEXT_SIZE = 4096;

// A text written piece by piece; what does not fit is cut.
struct t_text {
    char* text;
    size_t size;
    size_t used;
};

void appendText(t_text* text, const char* format, ...);
// A field's name, its value and the values its rule allows.
void ruleText(t_text* text, const t_header_rule* rule, const t_kvr_header* header);
// Why the input does not convert.
void causeText(t_text* text, const t_input* input);
// OK, the size and the capture time of a picture that converts.
void convertibleText(t_text* text, const t_kvr_header* header);
// The words for a capture date the calendar does not have: den 30.02.2004 neexistuje.
void noSuchDateText(t_text* text, const t_kvr_header* header);
// Why a night's conversion failed: the input in the words above, the output
// in its own, named as the job names it.
void failureText(t_text* text, const t_conversion* job);
// What a night says of a source that gave no picture.
void sourceText(t_text* text, const t_source_note* note);
// Two pictures that convert to one output.
void clashText(t_text* text, const t_picture* picture);
// What a dry run would do with a picture that it would convert or skip.
void dryRunText(t_text* text, const t_picture* picture, t_conversion_result result);
// Whether the job failed for the night's folder, shown as folder, rather than
// for its picture: a full disk, a folder that takes no file, or one that
// cannot be made or may not be used; its words then, which stop the night.
bool folderFailureText(t_text* text, const t_conversion* job, const char* folder);

#endif
