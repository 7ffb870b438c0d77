// Paths as Windows takes them: UTF-16, in full, past 260 characters; and what
// a path or handle tells of its file.
#include "windows_files.h"

#include <cstring>
#include <cwchar>
#include <cwctype>
#include <io.h>

// The C runtime gives every file the inode 0: a file is known by its volume
// and its index.
bool handleIdentity(HANDLE file, t_file_identity* identity)
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

bool startsWith(const wchar_t* text, const wchar_t* start)
{
    return wcsncmp(text, start, wcslen(start)) == 0;
}

static bool isSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

static size_t nameLength(const wchar_t* text)
{
    size_t length = 0;

    while (text[length] != 0 && !isSeparator(text[length]))
        length++;
    return length;
}

// Where the root of a full path ends: after C: or \\server\share.
static size_t rootEnd(const wchar_t* path)
{
    if (!isSeparator(path[0]))
        return 2;
    size_t server = 2 + nameLength(path + 2);
    return path[server] == 0 ? server : server + 1 + nameLength(path + server + 1);
}

// Each name of path after full's root, as Windows walks a plain path: . and
// .. walked, trailing dots and blanks dropped, '/' a separator too.
static bool appendNames(const wchar_t* path, wchar_t* full, size_t* used, size_t root)
{
    for (const wchar_t* next = path; *next != 0; next += *next != 0) {
        size_t part = nameLength(next), kept = part;
        bool dots = (part == 1 || part == 2) && wcsncmp(next, L"..", part) == 0;
        while (!dots && kept > 0 && (next[kept - 1] == L'.' || next[kept - 1] == L' '))
            kept--;
        if (dots && part == 2) {
            while (*used > root && full[*used - 1] != L'\\')
                (*used)--;
            *used -= *used > root;
        } else if (!dots && kept > 0) {
            if (*used + kept + 2 >= WIDE_PATH)
                return false;
            full[(*used)++] = L'\\';
            wmemcpy(full + *used, next, kept);
            *used += kept;
        }
        next += part;
    }
    return true;
}

// The full path of given, built here rather than by GetFullPathNameW, which
// takes CON, COM1 or NUL in any folder for a device: com1.kvr on a card is a
// file. A path that is not full goes on from the current folder, or from a
// drive's own (C:night), or from the current drive's root (\night).
static bool fullPath(const wchar_t* given, wchar_t* full)
{
    wchar_t base[WIDE_PATH];
    bool onDrive = iswalpha(given[0]) && given[1] == L':';
    bool whole = onDrive ? isSeparator(given[2]) : isSeparator(given[0]) && isSeparator(given[1]);
    const wchar_t* start = given;
    const wchar_t* rest = given;

    if (!whole) {
        wchar_t drive[3] = {given[0], L':', 0};
        DWORD length = onDrive ? GetFullPathNameW(drive, WIDE_PATH, base, NULL)
                               : GetCurrentDirectoryW(WIDE_PATH, base);
        if (length == 0 || length >= WIDE_PATH)
            return false;
        start = base;
        rest = onDrive ? given + 2 : given;
    }
    size_t used = rootEnd(start);
    if (used >= WIDE_PATH)
        return false;
    for (size_t i = 0; i < used; i++)
        full[i] = isSeparator(start[i]) ? L'\\' : start[i];
    if (whole)
        rest = given + used;
    else if (!isSeparator(given[0]) && !appendNames(base + used, full, &used, rootEnd(start)))
        return false;
    size_t root = rootEnd(start);
    if (!appendNames(rest, full, &used, root))
        return false;
    if (used == root)
        full[used++] = L'\\';
    full[used] = 0;
    return true;
}

// Windows takes every name in UTF-16, the program keeps them in UTF-8; bytes
// that are not UTF-8 (an unpaired surrogate on the command line) name no file.
// The full path in its \\?\ form knows no limit of 260 characters and no
// device names; a device path (\\.\NUL) or a \\?\ path stays as it is.
bool widePath(const char* path, wchar_t* wide)
{
    wchar_t given[WIDE_PATH], full[WIDE_PATH];

    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, given, WIDE_PATH) <= 0)
        return 0;
    if (startsWith(given, L"\\\\?\\") || startsWith(given, L"\\\\.\\")) {
        wcscpy(wide, given);
        return 1;
    }
    if (!fullPath(given, full))
        return 0;
    int network = full[0] == L'\\';   // \\server\share: \\?\UNC\server\share
    const wchar_t* prefix = network ? L"\\\\?\\UNC" : L"\\\\?\\";
    size_t length = wcslen(full + network);
    if (wcslen(prefix) + length >= WIDE_PATH)
        return 0;
    wcscpy(wide, prefix);
    wcscat(wide, full + network);
    return 1;
}

bool widePlaced(const t_folder* folder, const char* name, wchar_t* wide)
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

bool wideIdentity(const wchar_t* wide, t_file_identity* identity)
{
    HANDLE file = openExisting(wide);
    int known = handleIdentity(file, identity);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return known;
}

bool pathIdentity(const char* path, t_file_identity* identity)
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
