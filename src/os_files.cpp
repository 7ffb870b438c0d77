#include "os_files.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include "defs.h"
#else
#include <unistd.h>
#endif

int sameFileState(const t_file_state* a, const t_file_state* b)
{
    return a->size == b->size && a->changed == b->changed;
}

#ifdef _WIN32

static int handleIdentity(HANDLE file, BY_HANDLE_FILE_INFORMATION* info)
{
    return file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, info) != 0;
}

// Windows takes every name in UTF-16, the program keeps them in UTF-8.
static int widePath(const char* path, wchar_t* wide)
{
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, PATH_BUFFER) > 0;
}

// A handle that asks for no access, only to learn about the file or device.
static HANDLE openExisting(const char* path)
{
    wchar_t wide[PATH_BUFFER];

    if (!widePath(path, wide))
        return INVALID_HANDLE_VALUE;
    return CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

static DWORD fileAttributes(const char* path)
{
    wchar_t wide[PATH_BUFFER];

    return widePath(path, wide) ? GetFileAttributesW(wide) : INVALID_FILE_ATTRIBUTES;
}

// The C runtime gives every file the inode 0: a file is known by its volume
// and its index.
static int fileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* info)
{
    HANDLE file = openExisting(path);
    int known = handleIdentity(file, info);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return known;
}

static int sameIdentity(const BY_HANDLE_FILE_INFORMATION* a, const BY_HANDLE_FILE_INFORMATION* b)
{
    return a->dwVolumeSerialNumber == b->dwVolumeSerialNumber &&
           a->nFileIndexHigh == b->nFileIndexHigh && a->nFileIndexLow == b->nFileIndexLow;
}

int sameFile(const char* inp, const char* out)
{
    BY_HANDLE_FILE_INFORMATION a, b;

    return fileIdentity(inp, &a) && fileIdentity(out, &b) && sameIdentity(&a, &b);
}

int namesStandardOutput(const char* path)
{
    BY_HANDLE_FILE_INFORMATION a, b;

    return fileIdentity(path, &a) && handleIdentity(GetStdHandle(STD_OUTPUT_HANDLE), &b) &&
           sameIdentity(&a, &b);
}

// In 100-nanosecond steps.
int regularFileState(FILE* f, t_file_state* state)
{
    HANDLE file = (HANDLE)_get_osfhandle(_fileno(f));
    FILE_BASIC_INFO times;
    LARGE_INTEGER size;

    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size) ||
        !GetFileInformationByHandleEx(file, FileBasicInfo, &times, sizeof times))
        return 0;
    state->size = (uint64_t)size.QuadPart;
    state->changed = times.ChangeTime.QuadPart;
    return 1;
}

// NUL and CON are devices, though the C runtime's stat may not say so.
int isSpecialFile(const char* path)
{
    HANDLE file = openExisting(path);
    BY_HANDLE_FILE_INFORMATION info;

    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int special = GetFileType(file) != FILE_TYPE_DISK ||
                  (GetFileInformationByHandle(file, &info) &&
                   (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY));
    CloseHandle(file);
    return special;
}

int mayReplace(const char* path)
{
    DWORD attributes = fileAttributes(path);

    return attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY);
}

const char* baseName(const char* path)
{
    const char* name = path;

    for (const char* c = path; *c != '\0'; c++)
        if (*c == '/' || *c == '\\' || *c == ':')
            name = c + 1;
    return name;
}

// Only a link is resolved; the system names its file in full.
int resolveLinks(const char* path, char* resolved, size_t size)
{
    DWORD attributes = fileAttributes(path);
    wchar_t wide[PATH_BUFFER];

    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (strlen(path) >= size)
            return 0;
        strcpy(resolved, path);
        return 1;
    }
    HANDLE file = openExisting(path);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD length = GetFinalPathNameByHandleW(file, wide, PATH_BUFFER, FILE_NAME_NORMALIZED);
    CloseHandle(file);
    return length > 0 && length < PATH_BUFFER &&
           WideCharToMultiByte(CP_UTF8, 0, wide, -1, resolved, (int)size, NULL, NULL) > 0;
}

FILE* openForReading(const char* path)
{
    wchar_t wide[PATH_BUFFER];

    return widePath(path, wide) ? _wfopen(wide, L"rb") : NULL;
}

// Shared for deletion, so that an interrupt can delete the file the job
// still holds open.
static FILE* openStream(const char* path, DWORD disposition)
{
    wchar_t wide[PATH_BUFFER];
    HANDLE file = !widePath(path, wide) ? INVALID_HANDLE_VALUE
                  : CreateFileW(wide, GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                disposition, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        errno = GetLastError() == ERROR_FILE_EXISTS ? EEXIST : EACCES;
        return NULL;
    }
    int fd = _open_osfhandle((intptr_t)file, _O_BINARY | _O_WRONLY);
    FILE* stream = fd != -1 ? _fdopen(fd, "wb") : NULL;
    if (stream == NULL) {
        if (fd != -1)
            _close(fd);
        else
            CloseHandle(file);
        if (disposition == CREATE_NEW)
            DeleteFileW(wide);
    }
    return stream;
}

FILE* openForWriting(const char* path)
{
    return openStream(path, CREATE_ALWAYS);
}

// A replaced file is never read-only (mayReplace): the new one gets the
// attributes of any new file.
FILE* createNewFile(const char* path, const char*)
{
    return openStream(path, CREATE_NEW);
}

int replaceFile(const char* from, const char* to)
{
    wchar_t wideFrom[PATH_BUFFER], wideTo[PATH_BUFFER];

    return widePath(from, wideFrom) && widePath(to, wideTo) &&
           MoveFileExW(wideFrom, wideTo, MOVEFILE_REPLACE_EXISTING) != 0;
}

void removeFile(const char* path)
{
    wchar_t wide[PATH_BUFFER];

    if (widePath(path, wide))
        DeleteFileW(wide);
}

void reserveSpace(FILE*, uint64_t)
{
}

#else

static_assert(sizeof(off_t) == 8, "pictures over 2 GiB need 64-bit file offsets");

static int sameInode(const struct stat* a, const struct stat* b)
{
    return a->st_dev == b->st_dev && a->st_ino == b->st_ino;
}

int sameFile(const char* inp, const char* out)
{
    struct stat a, b;

    return stat(inp, &a) == 0 && stat(out, &b) == 0 && sameInode(&a, &b);
}

int namesStandardOutput(const char* path)
{
    struct stat a, b;

    return stat(path, &a) == 0 && fstat(STDOUT_FILENO, &b) == 0 && sameInode(&a, &b);
}

static int64_t nanoseconds(const struct timespec* time)
{
    return (int64_t)time->tv_sec * 1000000000 + time->tv_nsec;
}

int regularFileState(FILE* f, t_file_state* state)
{
    struct stat info;

    if (fstat(fileno(f), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    state->size = (uint64_t)info.st_size;
    state->changed = nanoseconds(&info.st_ctim);
    return 1;
}

int isSpecialFile(const char* path)
{
    struct stat info;

    return stat(path, &info) == 0 && !S_ISREG(info.st_mode);
}

int mayReplace(const char* path)
{
    return access(path, W_OK) == 0 || errno == ENOENT;
}

const char* baseName(const char* path)
{
    const char* slash = strrchr(path, '/');

    return slash != NULL ? slash + 1 : path;
}

// A relative link is read from the link's own folder. A path that is no
// link, or leads nowhere yet, is the file's path.
int resolveLinks(const char* path, char* resolved, size_t size)
{
    char target[PATH_MAX];
    const int MOST_LINKS = 40;

    if (strlen(path) >= size)
        return 0;
    strcpy(resolved, path);
    for (int links = 0; links < MOST_LINKS; links++) {
        ssize_t length = readlink(resolved, target, sizeof target);
        if (length < 0)
            return 1;
        size_t folder = target[0] == '/' ? 0 : (size_t)(baseName(resolved) - resolved);
        if ((size_t)length == sizeof target || folder + length >= size)
            return 0;
        memcpy(resolved + folder, target, length);
        resolved[folder + length] = '\0';
    }
    return 0;
}

FILE* openForReading(const char* path)
{
    return fopen(path, "rb");
}

FILE* openForWriting(const char* path)
{
    return fopen(path, "wb");
}

// A replaced file keeps its owner where the system lets us, and its mode.
FILE* createNewFile(const char* path, const char* model)
{
    struct stat previous;
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);

    if (fd < 0)
        return NULL;
    if (model != NULL && stat(model, &previous) == 0) {
        if (fchown(fd, previous.st_uid, previous.st_gid) != 0) {
        }
        fchmod(fd, previous.st_mode & 07777);
    }
    FILE* stream = fdopen(fd, "wb");
    if (stream == NULL) {
        close(fd);
        unlink(path);
    }
    return stream;
}

int replaceFile(const char* from, const char* to)
{
    return rename(from, to) == 0;
}

void removeFile(const char* path)
{
    unlink(path);
}

// Allocating the whole output at once spares the file system a reservation
// for every page written; the size stays as written.
void reserveSpace(FILE* f, uint64_t size)
{
#ifdef __linux__
    fallocate(fileno(f), FALLOC_FL_KEEP_SIZE, 0, (off_t)size);
#else
    (void)f;
    (void)size;
#endif
}

#endif
