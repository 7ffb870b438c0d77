// What the conversion asks the operating system about its files: the POSIX
// and the Windows answers stand side by side in os_files.cpp.
#ifndef TORVAN_OS_FILES_H
#define TORVAN_OS_FILES_H

#include <cstdint>
#include <cstdio>

// Whether out names the very file that inp names, by any path or link.
int sameFile(const char* inp, const char* out);
// The size of the regular file at path; 0 for anything else or a failed query.
int regularFileSize(const char* path, uint64_t* size);
// Whether path names something that exists and is not a regular file.
int isSpecialFile(const char* path);
// Opens the output for binary writing, creating or truncating it; on Windows
// the file can be deleted while it is still open.
FILE* openOutput(const char* out);
// Whether the stream is a regular file, the only kind of output ever deleted.
int isRegularStream(FILE* f);
// Reserves the output's space at once where the system can; a hint only.
void reserveSpace(FILE* f, uint64_t size);

#endif
