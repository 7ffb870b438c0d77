#include "verdict_text.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

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

// The broken rules, or the first alone when it is the magic: then the file
// is no KVR picture at all and the rest says nothing.
static void brokenRulesText(t_text* text, const t_kvr_header* header)
{
    int count;
    const t_header_rule* rules = headerRules(&count);
    const char* separator = "";

    if (!ruleHolds(&rules[0], header)) {
        appendText(text, "neni obrazek KVR: ");
        ruleText(text, &rules[0], header);
        return;
    }
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
