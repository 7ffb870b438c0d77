#include "os_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

#ifdef _WIN32

// The C runtime gives every file the inode 0: a file is known by its volume
// and its index. The handle asks for no access, so nothing is truncated.
static int fileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* info)
{
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int known = GetFileInformationByHandle(file, info) != 0;
    CloseHandle(file);
    return known;
}

int sameFile(const char* inp, const char* out)
{
    BY_HANDLE_FILE_INFORMATION a, b;

    return fileIdentity(inp, &a) && fileIdentity(out, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// The plain stat has a 32-bit size here.
int regularFileSize(const char* path, uint64_t* size)
{
    struct _stat64 info;

    if (_stat64(path, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG)
        return 0;
    *size = (uint64_t)info.st_size;
    return 1;
}

int isSpecialFile(const char* path)
{
    struct _stat64 info;

    return _stat64(path, &info) == 0 && (info.st_mode & _S_IFMT) != _S_IFREG;
}

// Shared for deletion, so that an interrupt can delete the output the job
// still holds open.
FILE* openOutput(const char* out)
{
    HANDLE file = CreateFileA(out, GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    int fd = _open_osfhandle((intptr_t)file, _O_BINARY | _O_WRONLY);
    if (fd == -1) {
        CloseHandle(file);
        return NULL;
    }
    FILE* stream = _fdopen(fd, "wb");
    if (stream == NULL)
        _close(fd);
    return stream;
}

int isRegularStream(FILE* f)
{
    return GetFileType((HANDLE)_get_osfhandle(_fileno(f))) == FILE_TYPE_DISK;
}

void reserveSpace(FILE*, uint64_t)
{
}

#else

int sameFile(const char* inp, const char* out)
{
    struct stat a, b;

    return stat(inp, &a) == 0 && stat(out, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

int regularFileSize(const char* path, uint64_t* size)
{
    struct stat info;

    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    *size = (uint64_t)info.st_size;
    return 1;
}

int isSpecialFile(const char* path)
{
    struct stat info;

    return stat(path, &info) == 0 && !S_ISREG(info.st_mode);
}

FILE* openOutput(const char* out)
{
    return fopen(out, "wb");
}

int isRegularStream(FILE* f)
{
    struct stat info;

    return fstat(fileno(f), &info) == 0 && S_ISREG(info.st_mode);
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
