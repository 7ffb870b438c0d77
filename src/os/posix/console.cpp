// The console on a POSIX system: arguments and text are bytes, UTF-8 or not.
#include <cstdarg>
#include <sys/ioctl.h>
#include <unistd.h>

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

bool isTerminal(FILE* stream)
{
    return isatty(fileno(stream));
}

int terminalWidth(FILE* stream)
{
    struct winsize size;

    return ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

// A job in the background may be stopped by SIGTTOU when it writes, or write
// over the shell's own line.
bool inForeground(FILE* stream)
{
    return tcgetpgrp(fileno(stream)) == getpgrp();
}

void keepConsoleOpen()
{
}

bool asksForHelp(const char*)
{
    return false;
}
