#include "text_rules.h"

#include <cstdio>
#include <cstring>

// Header text is printable ASCII. Czech and Slovak letters lose their marks,
// as in the program's own messages.
static const struct { uint16_t code; char letter; } MARKED_LETTERS[] = {
    {0xE1, 'a'}, {0xC1, 'A'}, {0xE4, 'a'}, {0xC4, 'A'}, {0x10D, 'c'}, {0x10C, 'C'},
    {0x10F, 'd'}, {0x10E, 'D'}, {0xE9, 'e'}, {0xC9, 'E'}, {0x11B, 'e'}, {0x11A, 'E'},
    {0xED, 'i'}, {0xCD, 'I'}, {0x13A, 'l'}, {0x139, 'L'}, {0x13E, 'l'}, {0x13D, 'L'},
    {0x148, 'n'}, {0x147, 'N'}, {0xF3, 'o'}, {0xD3, 'O'}, {0xF4, 'o'}, {0xD4, 'O'},
    {0x155, 'r'}, {0x154, 'R'}, {0x159, 'r'}, {0x158, 'R'}, {0x161, 's'}, {0x160, 'S'},
    {0x165, 't'}, {0x164, 'T'}, {0xFA, 'u'}, {0xDA, 'U'}, {0x16F, 'u'}, {0x16E, 'U'},
    {0xFD, 'y'}, {0xDD, 'Y'}, {0x17E, 'z'}, {0x17D, 'Z'},
};

// No character: a stray or missing continuation, an overlong form (the leads
// C0 and C1 among them), a surrogate or a code past U+10FFFF (the leads F5 to
// F7 among them). A terminator ends every sequence.
int decodeUtf8(const unsigned char* text, uint32_t* code)
{
    static const uint32_t LEAST[] = {0, 0, 0x80, 0x800, 0x10000};
    int length = text[0] < 0x80 ? 1 : text[0] < 0xC0 ? 0 : text[0] < 0xE0 ? 2
               : text[0] < 0xF0 ? 3 : text[0] < 0xF8 ? 4 : 0;
    uint32_t value = length == 1 ? text[0] : text[0] & (0x7F >> length);

    for (int i = 1; i < length; i++) {
        if ((text[i] & 0xC0) != 0x80)
            return 0;
        value = value << 6 | (text[i] & 0x3F);
    }
    if (length == 0 || value < LEAST[length] || (value >= 0xD800 && value <= 0xDFFF) ||
        value > 0x10FFFF)
        return 0;
    *code = value;
    return length;
}

static char asciiLetter(uint32_t code)
{
    if (code >= 0x20 && code <= 0x7E)
        return (char)code;
    for (const auto& marked : MARKED_LETTERS)
        if (marked.code == code)
            return marked.letter;
    return '?';
}

void asciiText(const char* text, char* ascii, int size)
{
    const unsigned char* next = (const unsigned char*)text;
    int length = 0;

    while (*next != '\0' && length < size - 1) {
        uint32_t code;
        int bytes = decodeUtf8(next, &code);
        ascii[length++] = bytes > 0 ? asciiLetter(code) : '?';
        next += bytes > 0 ? bytes : 1;
    }
    ascii[length] = '\0';
}

int utf8Cut(const char* text, int most)
{
    int length = 0;

    while (length < most && text[length] != '\0')
        length++;
    while (length > 0 && text[length] != '\0' && ((unsigned char)text[length] & 0xC0) == 0x80)
        length--;
    return length;
}

// The length of the character at text, a byte that is no UTF-8 being one;
// control tells whether a terminal acts on it: a C0 control, DEL, a C1
// control in UTF-8 (U+0080 to U+009F) or a stray byte 0x80 to 0x9F.
static int characterLength(const unsigned char* text, bool* control)
{
    uint32_t code;
    int length = decodeUtf8(text, &code);

    if (length == 0)
        code = text[0] >= 0x80 && text[0] <= 0x9F ? 0x80 : 0xA0;
    *control = code < 0x20 || (code >= 0x7F && code <= 0x9F);
    return length > 0 ? length : 1;
}

void lineSafe(const char* text, char* safe, size_t size)
{
    const unsigned char* next = (const unsigned char*)text;
    size_t length = 0;
    bool control;

    while (*next != '\0' && length + 1 < size) {
        int bytes = characterLength(next, &control);
        if (control)
            safe[length++] = '?';
        else if (length + bytes < size)
            memcpy(safe + length, next, bytes), length += bytes;
        else
            break;
        next += bytes;
    }
    safe[length] = '\0';
}

size_t fieldSafe(const char* text, char* safe, size_t size)
{
    // Room for a character of four bytes after the escape of a byte; the rest
    // of a character already begun is taken while its own bytes fit.
    const size_t LAST = sizeof "\\ooo" + 4;
    const unsigned char* bytes = (const unsigned char*)text;
    size_t taken = 0, used = 0;
    int left = 0;   // bytes left of the character begun
    bool control = false;

    for (; bytes[taken] != '\0'; taken++, left--) {
        unsigned char c = bytes[taken];
        if (left == 0)
            left = characterLength(bytes + taken, &control);
        const char* named = c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\n' ? "\\n"
                          : c == '\r' ? "\\r" : NULL;
        size_t need = named != NULL || control ? sizeof "\\ooo" : 2;
        if (used + LAST >= size && ((c & 0xC0) != 0x80 || used + need > size))
            break;
        if (named != NULL)
            used += snprintf(safe + used, size - used, "%s", named);
        else if (control)
            used += snprintf(safe + used, size - used, "\\%03o", c);
        else
            safe[used++] = (char)c;
    }
    safe[used] = '\0';
    return taken;
}

void quotedBytes(const unsigned char* bytes, int length, char* text, size_t size)
{
    size_t used = 0;

    used += snprintf(text + used, size - used, "\"");
    for (int i = 0; i < length && used < size; i++) {
        int plain = bytes[i] >= 0x20 && bytes[i] <= 0x7E && bytes[i] != '"' && bytes[i] != '\\';
        used += snprintf(text + used, size - used, plain ? "%c" : "\\x%02X", bytes[i]);
    }
    if (used < size)
        snprintf(text + used, size - used, "\"");
}
