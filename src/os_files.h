// What the conversion asks the operating system about its files: the POSIX
// and the Windows answers stand side by side in os_files.cpp. Every path is
// UTF-8, on Windows too.
#ifndef TORVAN_OS_FILES_H
#define TORVAN_OS_FILES_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// What tells an open file's content apart from before: any write moves its
// change time, also one that puts its modification time back.
struct t_file_state {
    uint64_t size;
    int64_t changed;   // in the system's finest unit
};

// Whether out names the very file that inp names, by any path or link.
int sameFile(const char* inp, const char* out);
// Whether path names the file or pipe that standard output is.
int namesStandardOutput(const char* path);
// The state of an open regular file; 0 for anything else or a failed query.
int regularFileState(FILE* f, t_file_state* state);
int sameFileState(const t_file_state* a, const t_file_state* b);
// Whether path names something that exists and is not a regular file.
int isSpecialFile(const char* path);
// Whether the file at path may be replaced: nothing is there, or we may write it.
int mayReplace(const char* path);
// Where the file name starts in path, after its folder.
const char* baseName(const char* path);
// The path of the file that path leads to through symbolic links.
int resolveLinks(const char* path, char* resolved, size_t size);
FILE* openForReading(const char* path);
// Opens a device, a FIFO or standard output for binary writing.
FILE* openForWriting(const char* path);
// Creates a file that did not exist (errno EEXIST if it did), with the
// permission bits of model if that exists, else those of any new file. On
// Windows the file can be deleted while it is still open.
FILE* createNewFile(const char* path, const char* model);
// Puts the file at from in the place of to, whatever stood there.
int replaceFile(const char* from, const char* to);
void removeFile(const char* path);
// Reserves the output's space at once where the system can; a hint only.
void reserveSpace(FILE* f, uint64_t size);

#endif
