// The rules for text in and out of the program. Names come in as bytes, UTF-8
// or not; a FITS header holds printable ASCII only, a file name has a length
// limit, and what kvrinfo prints keeps each file to its line.
#ifndef TORVAN_TEXT_RULES_H
#define TORVAN_TEXT_RULES_H

#include <cstddef>
#include <cstdint>

// The length of the UTF-8 character at text, and its code; 0 where the bytes
// are no character.
int decodeUtf8(const unsigned char* text, uint32_t* code);
// One printable ASCII character for each character of text: Czech and Slovak
// letters lose their marks, anything else outside ASCII, and each byte that is
// not UTF-8, becomes '?'. As much as fits in size with its terminator.
void asciiText(const char* text, char* ascii, int size);
// The length of text cut to at most most bytes, never inside a UTF-8 character.
int utf8Cut(const char* text, int most);
// A name as a terminal may show it, on one line: each control character (C0,
// DEL, C1 in UTF-8 and each byte 0x80 to 0x9F outside UTF-8) as '?'; every
// other byte as it is.
void lineSafe(const char* text, char* safe, size_t size);
// A name as one field of a tab-separated line, to be undone exactly: a
// backslash, tab, newline and carriage return as \\, \t, \n and \r, each byte
// of any other control character (as lineSafe has them) as \ooo. As much of
// text as fits in size, never cut inside a UTF-8 character; the bytes of text
// taken.
size_t fieldSafe(const char* text, char* safe, size_t size);
// Raw bytes in double quotes, each outside printable ASCII, and each quote or
// backslash, as \xNN: at most 4 * length + 3 characters.
void quotedBytes(const unsigned char* bytes, int length, char* text, size_t size);

#endif
