// The console on a POSIX system: arguments and text are bytes, UTF-8 or not.
#include <cstdarg>

#include "../system.h"

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
