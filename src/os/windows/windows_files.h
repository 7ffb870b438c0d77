// What the Windows files share among themselves: paths in UTF-16 and what a
// handle tells of its file.
#ifndef TORVAN_WINDOWS_FILES_H
#define TORVAN_WINDOWS_FILES_H

#include <windows.h>

#include "../system.h"

// The longest path Windows takes, in UTF-16 units.
constexpr DWORD WIDE_PATH = 32768;

// A file is known by its volume and its index.
bool handleIdentity(HANDLE file, t_file_identity* identity);
HANDLE streamHandle(FILE* f);
bool startsWith(const wchar_t* text, const wchar_t* start);
// The full path in its \\?\ form, WIDE_PATH units at most; 0 for bytes that
// are not UTF-8.
bool widePath(const char* path, wchar_t* wide);
// The path of the file called name in folder.
bool widePlaced(const t_folder* folder, const char* name, wchar_t* wide);
// A handle that asks for no more than access, shared with every other program.
HANDLE openToQuery(const wchar_t* wide, DWORD access);
HANDLE openExisting(const wchar_t* wide);
bool wideIdentity(const wchar_t* wide, t_file_identity* identity);
bool pathIdentity(const char* path, t_file_identity* identity);
DWORD fileAttributes(const char* path);
// Makes the folder at path with every missing parent; whether it is a folder then.
bool makeFolders(const char* path);
// A stream on a new file (CREATE_NEW: private, hidden and marked for
// deletion) or on a device (CREATE_ALWAYS).
FILE* openStream(const wchar_t* wide, DWORD disposition);

#endif
