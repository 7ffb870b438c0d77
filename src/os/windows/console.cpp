// The console on Windows: arguments and printed text in Unicode, the program's
// text in UTF-8.
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <conio.h>
#include <io.h>
#include <windows.h>

#include "../system.h"

// UTF-8 of UTF-16 text, with its terminator, or 0 where it does not fit. An
// unpaired surrogate takes the three bytes its code would, which are no UTF-8:
// such an argument then names no file, rather than another file's name that a
// replacement character would make of it.
static int utf8Text(const wchar_t* wide, char* text, int size)
{
    static const unsigned char LEAD[] = {0, 0, 0xC0, 0xE0, 0xF0};
    int used = 0;

    for (; *wide != 0; wide++) {
        uint32_t code = *wide;
        if (code >= 0xD800 && code <= 0xDBFF && wide[1] >= 0xDC00 && wide[1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (wide[1] - 0xDC00);
            wide++;
        }
        int length = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
        if (used + length >= size)
            return 0;
        text[used++] = (char)(length == 1 ? code : LEAD[length] | code >> 6 * (length - 1));
        for (int shift = 6 * (length - 2); shift >= 0; shift -= 6)
            text[used++] = (char)(0x80 | (code >> shift & 0x3F));
    }
    text[used++] = '\0';
    return used;
}

// A command line holds at most 32767 UTF-16 units, each of them at most three
// bytes of UTF-8, and its arguments one terminator each.
void utf8Arguments(int* argc, char*** argv)
{
    static char text[4 * 32768];
    static char* arguments[32768];
    const int capacity = sizeof arguments / sizeof *arguments;
    int count = 0, converted = 0, used = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);

    for (; wide != NULL && count < capacity && converted < count; converted++) {
        int length = utf8Text(wide[converted], text + used, (int)sizeof text - used);
        if (length == 0)
            break;
        arguments[converted] = text + used;
        used += length;
    }
    LocalFree(wide);
    if (wide == NULL || converted < count)
        return;
    arguments[count] = NULL;
    *argc = count;
    *argv = arguments;
}

// Two paths and the text around them.
void printText(FILE* stream, const char* format, ...)
{
    static char text[3 * PATH_BUFFER];
    static wchar_t wide[3 * PATH_BUFFER];
    HANDLE console = (HANDLE)_get_osfhandle(_fileno(stream));
    DWORD mode, written;
    va_list values;

    va_start(values, format);
    if (!GetConsoleMode(console, &mode)) {
        vfprintf(stream, format, values);
    } else {
        vsnprintf(text, sizeof text, format, values);
        int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, sizeof wide / sizeof *wide);
        if (length > 1)
            WriteConsoleW(console, wide, length - 1, &written, NULL);
    }
    va_end(values);
}

bool isTerminal(FILE* stream)
{
    DWORD mode;

    return GetConsoleMode((HANDLE)_get_osfhandle(_fileno(stream)), &mode) != 0;
}

// The visible window's width, not the buffer's.
int terminalWidth(FILE* stream)
{
    CONSOLE_SCREEN_BUFFER_INFO info;

    if (!GetConsoleScreenBufferInfo((HANDLE)_get_osfhandle(_fileno(stream)), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

bool inForeground(FILE*)
{
    return true;
}

// A console that no other program shares was made for this run alone, by
// Explorer: it would close with the run, before anyone could read it.
void keepConsoleOpen()
{
    DWORD processes[2];
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode;

    if (GetConsoleProcessList(processes, 2) != 1 || !GetConsoleMode(input, &mode))
        return;
    printText(stderr, "Stisknete klavesu...");
    FlushConsoleInputBuffer(input);
    _getch();
}

bool asksForHelp(const char* argument)
{
    return strcmp(argument, "/?") == 0 || strcmp(argument, "-?") == 0;
}
