#include "verdict_text.h"

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "calendar.h"
#include "text_rules.h"

void appendText(t_text* text, const char* format, ...)
{
    va_list values;

    if (text->used + 1 >= text->size)
        return;
    va_start(values, format);
    int length = vsnprintf(text->text + text->used, text->size - text->used, format, values);
    va_end(values);
    if (length > 0)
        text->used += (size_t)length < text->size - text->used ? (size_t)length
                                                                : text->size - text->used - 1;
}

// A text field in quotes, each byte outside printable ASCII as \xNN; a number in decimal.
static void valueText(t_text* text, const t_header_rule* rule, const t_kvr_header* header)
{
    char quoted[4 * KVR_SIGNATURE_LENGTH + 3];

    if (rule->length == 0) {
        appendText(text, "%" PRId32, ruleNumber(rule, header));
        return;
    }
    quotedBytes((const unsigned char*)header + rule->offset, rule->length, quoted, sizeof quoted);
    appendText(text, "%s", quoted);
}

void ruleText(t_text* text, const t_header_rule* rule, const t_kvr_header* header)
{
    appendText(text, "%s ", rule->name);
    valueText(text, rule, header);
    if (rule->length > 0)
        appendText(text, " (povoleno \"%s\")", rule->text);
    else if (rule->low == INT32_MIN && rule->high == INT32_MAX)
        appendText(text, " (povoleno cokoli)");
    else if (rule->low == rule->high)
        appendText(text, " (povoleno %" PRId32 ")", rule->low);
    else
        appendText(text, " (povoleno %" PRId32 " az %" PRId32 ")", rule->low, rule->high);
}

// Every broken rule.
static void brokenRulesText(t_text* text, const t_kvr_header* header)
{
    int count;
    const t_header_rule* rules = headerRules(&count);
    const char* separator = "";

    for (int i = 0; i < count; i++) {
        if (ruleHolds(&rules[i], header))
            continue;
        appendText(text, "%s", separator);
        ruleText(text, &rules[i], header);
        separator = "; ";
    }
}

static void sizesText(t_text* text, const t_kvr_header* header, uint64_t size)
{
    uint64_t announced = expectedInputSize(header);

    appendText(text, "velikost %" PRIu64 " B, hlavicka ohlasuje %" PRIu64 " B: %s %" PRIu64 " B",
               size, announced, size < announced ? "chybi" : "prebyva",
               size < announced ? announced - size : size - announced);
}

void causeText(t_text* text, const t_input* input)
{
    switch (input->verdict) {
    case INPUT_UNOPENED: appendText(text, "nelze otevrit"); break;
    case INPUT_FOLDER: case INPUT_SPECIAL: appendText(text, "neni obycejny soubor"); break;
    case INPUT_UNREADABLE:
        if (input->state.size < KVR_HEADER_SIZE)
            appendText(text, "kratsi nez hlavicka: %" PRIu64 " B z %d B", input->state.size,
                       KVR_HEADER_SIZE);
        else
            appendText(text, "nelze cist");
        break;
    // A file that may be anyone's secret, reached through a path of another
    // user's: not one of its bytes is shown.
    case INPUT_NOT_KVR: appendText(text, "neni obrazek KVR"); break;
    case INPUT_FOREIGN_LINK: appendText(text, "odkaz jineho uzivatele ve sdilene slozce"); break;
    case INPUT_BROKEN_RULES: brokenRulesText(text, &input->header); break;
    case INPUT_WRONG_SIZE: sizesText(text, &input->header, input->state.size); break;
    default: break;
    }
}

void convertibleText(t_text* text, const t_kvr_header* h)
{
    appendText(text, "OK %" PRId32 " x %" PRId32 ", %02" PRId32 ".%02" PRId32 ".%04" PRId32
               " %02" PRId32 ":%02" PRId32 ":%02" PRId32 ".%03" PRId32,
               h->ruva_width, h->ruva_height, h->day, h->month, h->year, h->hour, h->minute,
               h->second, h->ssecond);
}

void noSuchDateText(t_text* text, const t_kvr_header* h)
{
    appendText(text, "den %02" PRId32 ".%02" PRId32 ".%04" PRId32 " neexistuje", h->day, h->month,
               h->year);
}

// An hour of the station's clock, where a reading of it lies.
static void clockHour(t_text* text, int64_t reading)
{
    t_civil_time time;

    civilFromSeconds(reading, &time);
    appendText(text, "%02d:%02d", time.hour, time.minute);
}

static void clockText(t_text* text, const t_conversion* job)
{
    const t_kvr_header* h = &job->input.header;

    if (job->reading == READING_OUT_OF_RANGE) {
        appendText(text, "cas v UTC je mimo roky, ktere hlavicka unese");
        return;
    }
    appendText(text, "cas %02" PRId32 ".%02" PRId32 ".%04" PRId32 " %02" PRId32 ":%02" PRId32
               ":%02" PRId32, h->day, h->month, h->year, h->hour, h->minute, h->second);
    appendText(text, job->reading == READING_SKIPPED ? " na hodinach stanice nebyl (skok z "
                                                     : " ukazaly hodiny stanice dvakrat (");
    clockHour(text, job->resolution.span_start);
    appendText(text, job->reading == READING_SKIPPED ? " na " : " az ");
    clockHour(text, job->resolution.span_end);
    appendText(text, job->reading == READING_SKIPPED ? ")"
               : "); poradi snimku to nerozhodne (--clock-repeat first|second)");
}

void failureText(t_text* text, const t_conversion* job)
{
    char out[PATH_BUFFER];

    lineSafe(job->out, out, sizeof out);
    switch (job->failure) {
    case FAILED_OUTPUT_OPEN: appendText(text, "vystup `%s' nelze otevrit", out); break;
    case FAILED_OUTPUT_WRITE: appendText(text, "do vystupu `%s' nelze zapisovat", out); break;
    case FAILED_OUTPUT_IS_INPUT: appendText(text, "vystup `%s' je totozny se vstupem", out); break;
    case FAILED_OUTPUT_IS_PICTURE:
        appendText(text, "vystup `%s' je obrazek KVR a nebude prepsan", out);
        break;
    case FAILED_OUTPUT_IS_FOLDER: appendText(text, "vystup `%s' je slozka", out); break;
    case FAILED_OUTPUT_FOREIGN:
        appendText(text, "vystup `%s' existuje a neni prevodem tohoto snimku (-f jej nahradi)",
                   out);
        break;
    case FAILED_NO_SUCH_DATE: noSuchDateText(text, &job->input.header); break;
    case FAILED_CLOCK: clockText(text, job); break;
    default:
        if (job->input.verdict == INPUT_CONVERTS)   // it changed, or failed, while read
            appendText(text, "nelze cist");
        else
            causeText(text, &job->input);
        break;
    }
}

static bool isUnwritable(int cause)
{
    return cause == EACCES || cause == EPERM || cause == EROFS;
}

bool folderFailureText(t_text* text, const t_conversion* job, const char* folder)
{
    const t_output_folder* night = job->folder;
    int cause = job->failure == FAILED_OUTPUT_FOLDER ? night->cause : job->output.cause;
    bool output = job->failure == FAILED_OUTPUT_OPEN || job->failure == FAILED_OUTPUT_WRITE;

    if (job->failure == FAILED_OUTPUT_FOLDER && night->failure == WALK_FOREIGN_FOLDER)
        appendText(text, "slozka `%s' patri jinemu uzivateli", folder);
    else if (job->failure == FAILED_OUTPUT_FOLDER && night->failure == WALK_FOREIGN_LINK)
        appendText(text, "slozka `%s' vede pres odkaz jineho uzivatele", folder);
    else if ((output || job->failure == FAILED_OUTPUT_FOLDER) && isMediumFull(cause))
        appendText(text, "do slozky `%s' nelze zapisovat: disk je plny", folder);
    else if ((output && (job->output.failure == OUTPUT_FOLDER_REFUSED || cause == EROFS)) ||
             (job->failure == FAILED_OUTPUT_FOLDER && isUnwritable(cause)))
        appendText(text, "slozka `%s' neni zapisovatelna", folder);
    else if (job->failure == FAILED_OUTPUT_FOLDER)
        appendText(text, "slozku `%s' nelze vytvorit", folder);
    else
        return false;
    return true;
}

void sourceText(t_text* text, const t_source_note* note)
{
    char shown[PATH_BUFFER];

    lineSafe(note->operand.c_str(), shown, sizeof shown);
    if (note->found == SOURCE_UNLISTABLE)
        appendText(text, "slozku `%s' nelze cist", shown);
    else
        appendText(text, note->subfolders ? "zadny obrazek KVR; podslozky se neprohledavaji"
                                          : "zadny obrazek KVR");
}

void clashText(t_text* text, const t_picture* picture)
{
    char output[PATH_BUFFER], other[PATH_BUFFER];

    lineSafe(picture->output.c_str(), output, sizeof output);
    lineSafe(picture->clash, other, sizeof other);
    appendText(text, "stejny vystup `%s' jako `%s'", output, other);
}

void dryRunText(t_text* text, const t_picture* picture, t_conversion_result result)
{
    char output[PATH_BUFFER];

    lineSafe(picture->output.c_str(), output, sizeof output);
    appendText(text, result == CONVERSION_DONE ? "prevede do `%s'"
                                               : "preskoci: `%s' uz je jeho prevod", output);
}
