#include "os_console.h"

#include <cstdarg>
#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include "defs.h"
#endif

#ifdef _WIN32

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
        int length = WideCharToMultiByte(CP_UTF8, 0, wide[converted], -1, text + used,
                                         (int)sizeof text - used, NULL, NULL);
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

#else

void utf8Arguments(int*, char***)
{
}

void printText(FILE* stream, const char* format, ...)
{
    va_list values;

    va_start(values, format);
    vfprintf(stream, format, values);
    va_end(values);
}

#endif
