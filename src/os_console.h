// The program's text with the system: its arguments and what it prints are
// UTF-8 on every host, though Windows keeps both in its own forms.
#ifndef TORVAN_OS_CONSOLE_H
#define TORVAN_OS_CONSOLE_H

#include <cstdio>

// Replaces the arguments by their UTF-8 form where the system holds them in
// another; where that fails, they stay as the C runtime gave them.
void utf8Arguments(int* argc, char*** argv);
// As fprintf; a Windows console is written in Unicode, so that every name
// shows as given.
void printText(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

#endif
