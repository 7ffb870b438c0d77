// The files of a run on Windows: the input, devices and standard output, the
// output's folder and what stands in it.
#include "windows_files.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <fcntl.h>
#include <io.h>
#include <aclapi.h>

void keepStandardDescriptors()
{
}

uint32_t processNumber()
{
    return GetCurrentProcessId();
}

// A colon after the drive names a stream inside a file, never a file.
static bool namesStream(const char* path)
{
    const char* rest = strncmp(path, "\\\\?\\", 4) == 0 || strncmp(path, "\\\\.\\", 4) == 0
                       ? path + 4 : path;

    if (isalpha((unsigned char)rest[0]) && rest[1] == ':')
        rest += 2;
    return strchr(rest, ':') != NULL;
}

// Only what a path names by its handle tells a device apart on Windows: the
// kind is known once the file is open.
FILE* openForReading(const char* path, t_file_kind* kind)
{
    wchar_t wide[WIDE_PATH];

    *kind = KIND_UNKNOWN;
    return !namesStream(path) && widePath(path, wide) ? _wfopen(wide, L"rb") : NULL;
}

// A name's stem: up to its first dot, without the spaces before it, which
// Windows drops when it looks for a device's name.
static size_t stemLength(const char* name)
{
    size_t length = strcspn(name, ".");

    while (length > 0 && name[length - 1] == ' ')
        length--;
    return length;
}

static bool stemIs(const char* name, const char* device)
{
    return stemLength(name) == strlen(device) && _strnicmp(name, device, strlen(device)) == 0;
}

// A port's number: any digits, or one of the superscripts one to three
// (COM¹), which Windows takes for ports too.
static bool namesPortNumber(const char* text, size_t length)
{
    if (length == 2 && text[0] == '\xC2' && (text[1] == '\xB9' || text[1] == '\xB2' ||
                                             text[1] == '\xB3'))
        return 1;
    for (size_t i = 0; i < length; i++)
        if (!isdigit((unsigned char)text[i]))
            return 0;
    return length > 0;
}

// Windows takes these names, with any extension, in any case and in any
// folder, for its devices; only NUL is written as a device on purpose. Every
// COMn and LPTn is refused, past COM9 too, where a port may still answer.
static bool namesDevice(const char* name)
{
    static const char* const DEVICES[] = {"CON", "PRN", "AUX", "CONIN$", "CONOUT$"};
    size_t length = stemLength(name);

    for (const char* device : DEVICES)
        if (stemIs(name, device))
            return 1;
    return length >= 3 && (_strnicmp(name, "COM", 3) == 0 || _strnicmp(name, "LPT", 3) == 0) &&
           namesPortNumber(name + 3, length - 3);
}

// After \\.\ or \\?\ come a drive, UNC\ or a volume, each a place of files;
// anything else is a device (COM10, PhysicalDrive0, pipe\x) and only NUL is
// written.
static bool namesOtherDevice(const wchar_t* wide)
{
    const wchar_t* rest = wide + 4;

    if (!startsWith(wide, L"\\\\.\\") && !startsWith(wide, L"\\\\?\\"))
        return 0;
    if (iswalpha(rest[0]) && rest[1] == L':')
        return 0;
    return _wcsnicmp(rest, L"UNC\\", 4) != 0 && _wcsnicmp(rest, L"Volume{", 7) != 0 &&
           _wcsicmp(rest, L"NUL") != 0;
}

// A port or a pipe reached by any other name (a link, a name Windows maps) is
// no file either; only standard output is written as it is.
static bool leadsToDevice(const wchar_t* wide, const char* path)
{
    HANDLE file = openExisting(wide);

    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD type = GetFileType(file);
    CloseHandle(file);
    return type != FILE_TYPE_DISK && !pathIsStream(path, stdout);
}

// The names come first: a port is never opened, not even to ask what it is.
bool isForbiddenOutput(const char* path)
{
    const char* name = baseName(path);
    wchar_t wide[WIDE_PATH];

    if (namesStream(path) || namesDevice(name) || name[strspn(name, " .")] == '\0' ||
        !widePath(path, wide) || namesOtherDevice(wide))
        return 1;
    return !stemIs(name, "NUL") && leadsToDevice(wide, path);
}

// In 100-nanosecond steps.
bool regularFileState(FILE* f, t_file_state* state)
{
    HANDLE file = streamHandle(f);
    FILE_BASIC_INFO times;
    LARGE_INTEGER size;

    if (GetFileType(file) != FILE_TYPE_DISK || isFolder(f) || !GetFileSizeEx(file, &size) ||
        !GetFileInformationByHandleEx(file, FileBasicInfo, &times, sizeof times))
        return 0;
    state->size = (uint64_t)size.QuadPart;
    state->changed = times.ChangeTime.QuadPart;
    state->written = times.LastWriteTime.QuadPart;   // FAT keeps no change time
    state->mode = 0666;
    return 1;
}

bool isFolder(FILE* f)
{
    BY_HANDLE_FILE_INFORMATION info;

    return GetFileInformationByHandle(streamHandle(f), &info) != 0 &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The file's owner is the runner, or the group Windows makes an
// administrator's files owned by.
bool ownedByRunner(FILE* f)
{
    PSID owner = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    HANDLE token;
    DWORD size;
    alignas(TOKEN_USER) unsigned char user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    alignas(TOKEN_OWNER) unsigned char usual[sizeof(TOKEN_OWNER) + SECURITY_MAX_SID_SIZE];

    if (GetSecurityInfo(streamHandle(f), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, NULL,
                        NULL, NULL, &descriptor) != ERROR_SUCCESS)
        return false;
    bool ours = false;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        ours = (GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
                EqualSid(owner, ((TOKEN_USER*)user)->User.Sid)) ||
               (GetTokenInformation(token, TokenOwner, usual, sizeof usual, &size) &&
                EqualSid(owner, ((TOKEN_OWNER*)usual)->Owner));
        CloseHandle(token);
    }
    LocalFree(descriptor);
    return ours;
}

bool fileIdentity(FILE* f, t_file_identity* identity)
{
    return handleIdentity(streamHandle(f), identity);
}

bool pathIsStream(const char* path, FILE* stream)
{
    t_file_identity a, b;

    return pathIdentity(path, &a) && fileIdentity(stream, &b) && sameIdentity(&a, &b);
}

bool pathIsFile(const char* path, const t_file_identity* file)
{
    t_file_identity identity;

    return pathIdentity(path, &identity) && sameIdentity(&identity, file);
}

FILE* openForWriting(const t_folder* folder, const char* name)
{
    wchar_t wide[WIDE_PATH];

    return widePlaced(folder, name, wide) ? openStream(wide, CREATE_ALWAYS) : NULL;
}

// Standard output is the one descriptor a path leads to here.
int heldDescriptor(const char* path)
{
    return pathIsStream(path, stdout) ? _fileno(stdout) : -1;
}

FILE* openDescriptor(int held)
{
    int fd = _dup(held);
    FILE* stream = fd != -1 && _setmode(fd, _O_BINARY) != -1 ? _fdopen(fd, "wb") : NULL;

    if (stream == NULL && fd != -1)
        _close(fd);
    return stream;
}

// Only a link is resolved; the system names its file in full.
static bool resolveLinks(const char* path, char* resolved, size_t size)
{
    DWORD attributes = fileAttributes(path);
    wchar_t wide[WIDE_PATH];

    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (strlen(path) >= size)
            return false;
        strcpy(resolved, path);
        return true;
    }
    HANDLE file = widePath(path, wide) ? openExisting(wide) : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD length = GetFinalPathNameByHandleW(file, wide, WIDE_PATH, FILE_NAME_NORMALIZED);
    CloseHandle(file);
    return length > 0 && length < WIDE_PATH &&
           WideCharToMultiByte(CP_UTF8, 0, wide, -1, resolved, (int)size, NULL, NULL) > 0;
}

static bool setFolder(t_folder* folder, const char* path, size_t length)
{
    folder->fd = -1;
    if (length >= sizeof folder->path)
        return false;
    memcpy(folder->path, path, length);
    folder->path[length] = '\0';
    return true;
}

// Windows has no sticky folders: only a link at the end is followed here,
// the system following the others.
t_walk walkPath(const char* path, int way, t_folder* folder, char* name, size_t size)
{
    char resolved[PATH_BUFFER];

    if (!(way & WALK_FOLLOW_LAST) ? strlen(path) >= sizeof resolved
                                  : !resolveLinks(path, resolved, sizeof resolved))
        return WALK_FAILED;
    if (!(way & WALK_FOLLOW_LAST))
        strcpy(resolved, path);
    const char* last = baseName(resolved);
    if (!setFolder(folder, resolved, (size_t)(last - resolved)) || strlen(last) + 2 > size)
        return WALK_FAILED;
    strcpy(name, *last == '\0' ? "." : last);
    // Only the output path torvan is given may be the null device.
    if ((way & WALK_FOLLOW_LAST) && stemIs(name, "NUL"))
        strcpy(folder->path, "\\\\.\\"), strcpy(name, "NUL");
    if ((way & WALK_MAKE_FOLDERS) && folder->path[0] != '\0' && !makeFolders(folder->path))
        return WALK_FAILED;
    return WALK_DONE;
}

t_walk openFolderPath(const char* path, int way, t_folder* folder)
{
    size_t length = strlen(path);

    if (!setFolder(folder, path, length) || length + 2 > sizeof folder->path)
        return WALK_FAILED;
    if (length > 0 && *baseName(path) != '\0')
        strcat(folder->path, "\\");
    bool made = (way & WALK_MAKE_FOLDERS) ? makeFolders(path) : isFolderPath(path);
    errno = fileAttributes(path) == INVALID_FILE_ATTRIBUTES ? ENOENT : ENOTDIR;
    return made ? WALK_DONE : WALK_FAILED;
}

void closeFolder(t_folder*)
{
}

// A device is known by its handle's type (NUL has no attributes to read); a
// link is judged as itself.
void judgeEntry(const t_folder* folder, const char* name, t_entry* entry)
{
    wchar_t wide[WIDE_PATH];
    WIN32_FILE_ATTRIBUTE_DATA data;

    *entry = {};
    entry->trusted = true;
    entry->kind = ENTRY_UNKNOWN;
    if (!widePlaced(folder, name, wide))
        return;
    if (GetFileAttributesExW(wide, GetFileExInfoStandard, &data)) {
        entry->size = (uint64_t)data.nFileSizeHigh << 32 | data.nFileSizeLow;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            entry->kind = ENTRY_LINK;
        else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            entry->kind = ENTRY_FOLDER;
    } else if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND) {
        entry->kind = ENTRY_NONE;
    }
    HANDLE file = entry->kind == ENTRY_UNKNOWN ? openExisting(wide) : INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE) {
        entry->kind = GetFileType(file) == FILE_TYPE_DISK ? ENTRY_REGULAR : ENTRY_SPECIAL;
        handleIdentity(file, &entry->identity);
        CloseHandle(file);
    }
}

bool mayReplace(const t_folder* folder, const char* name)
{
    wchar_t wide[WIDE_PATH];
    DWORD attributes = widePlaced(folder, name, wide) ? GetFileAttributesW(wide) : 0;

    return attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY);
}

FILE* openInFolder(const t_folder* folder, const char* name)
{
    wchar_t wide[WIDE_PATH];

    if (widePlaced(folder, name, wide))
        return _wfopen(wide, L"rb");
    errno = EINVAL;
    return NULL;
}

// A second handle, so that the file stays open, and marked, past the stream.
bool closeStreamKeepingFile(FILE* f, t_file_handle* kept)
{
    HANDLE process = GetCurrentProcess(), copy;
    int duplicated = DuplicateHandle(process, streamHandle(f), process, &copy, 0, FALSE,
                                     DUPLICATE_SAME_ACCESS) != 0;
    int closed = fclose(f) == 0;

    if (duplicated && !closed)
        CloseHandle(copy);
    *kept = duplicated ? (t_file_handle)copy : (t_file_handle)INVALID_HANDLE_VALUE;
    return duplicated && closed;
}

void closeFileHandle(t_file_handle kept)
{
    CloseHandle((HANDLE)kept);
}
