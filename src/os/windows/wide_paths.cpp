// Paths as Windows takes them: UTF-16, in full, past 260 characters; and what
// a path or handle tells of its file.
#include "windows_files.h"

#include <cstring>
#include <cwchar>
#include <io.h>

// The C runtime gives every file the inode 0: a file is known by its volume
// and its index.
int handleIdentity(HANDLE file, t_file_identity* identity)
{
    BY_HANDLE_FILE_INFORMATION info;

    if (file == INVALID_HANDLE_VALUE || GetFileInformationByHandle(file, &info) == 0)
        return 0;
    identity->volume = info.dwVolumeSerialNumber;
    identity->index = (uint64_t)info.nFileIndexHigh << 32 | info.nFileIndexLow;
    return 1;
}

HANDLE streamHandle(FILE* f)
{
    return (HANDLE)_get_osfhandle(_fileno(f));
}

int startsWith(const wchar_t* text, const wchar_t* start)
{
    return wcsncmp(text, start, wcslen(start)) == 0;
}

// Windows takes every name in UTF-16, the program keeps them in UTF-8; bytes
// that are not UTF-8 (an unpaired surrogate on the command line) name no file.
// The full path in its \\?\ form knows no limit of 260 characters; a device
// path (\\.\NUL) stays as it is.
int widePath(const char* path, wchar_t* wide)
{
    wchar_t given[WIDE_PATH];

    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, given, WIDE_PATH) <= 0)
        return 0;
    DWORD length = GetFullPathNameW(given, WIDE_PATH, wide, NULL);
    if (length == 0 || length >= WIDE_PATH)
        return 0;
    if (startsWith(wide, L"\\\\?\\") || startsWith(wide, L"\\\\.\\"))
        return 1;
    int network = startsWith(wide, L"\\\\");   // \\server\share: \\?\UNC\server\share
    const wchar_t* prefix = network ? L"\\\\?\\UNC" : L"\\\\?\\";
    size_t prefixLength = wcslen(prefix), kept = length - network;
    if (prefixLength + kept >= WIDE_PATH)
        return 0;
    memmove(wide + prefixLength, wide + network, (kept + 1) * sizeof *wide);
    memcpy(wide, prefix, prefixLength * sizeof *wide);
    return 1;
}

int widePlaced(const t_folder* folder, const char* name, wchar_t* wide)
{
    char path[2 * PATH_BUFFER];
    int length = snprintf(path, sizeof path, "%s%s", folder->path, name);

    return length > 0 && length < (int)sizeof path && widePath(path, wide);
}

// A handle that asks for no more than access, to learn about the file or
// device, never to change it; shared with every other program.
HANDLE openToQuery(const wchar_t* wide, DWORD access)
{
    return CreateFileW(wide, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

HANDLE openExisting(const wchar_t* wide)
{
    return openToQuery(wide, 0);
}

int wideIdentity(const wchar_t* wide, t_file_identity* identity)
{
    HANDLE file = openExisting(wide);
    int known = handleIdentity(file, identity);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return known;
}

int pathIdentity(const char* path, t_file_identity* identity)
{
    wchar_t wide[WIDE_PATH];

    return widePath(path, wide) && wideIdentity(wide, identity);
}

DWORD fileAttributes(const char* path)
{
    wchar_t wide[WIDE_PATH];

    return widePath(path, wide) ? GetFileAttributesW(wide) : INVALID_FILE_ATTRIBUTES;
}

const char* baseName(const char* path)
{
    const char* name = path;

    for (const char* c = path; *c != '\0'; c++)
        if (*c == '/' || *c == '\\' || *c == ':')
            name = c + 1;
    return name;
}
