#include "os_files.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <initializer_list>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#include <aclapi.h>
#else
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#endif
#endif

int sameFileState(const t_file_state* a, const t_file_state* b)
{
    return a->size == b->size && a->changed == b->changed && a->written == b->written;
}

int sameIdentity(const t_file_identity* a, const t_file_identity* b)
{
    return a->volume == b->volume && a->index == b->index;
}

#ifdef _WIN32

// The C runtime gives every file the inode 0: a file is known by its volume
// and its index.
static int handleIdentity(HANDLE file, t_file_identity* identity)
{
    BY_HANDLE_FILE_INFORMATION info;

    if (file == INVALID_HANDLE_VALUE || GetFileInformationByHandle(file, &info) == 0)
        return 0;
    identity->volume = info.dwVolumeSerialNumber;
    identity->index = (uint64_t)info.nFileIndexHigh << 32 | info.nFileIndexLow;
    return 1;
}

static HANDLE streamHandle(FILE* f)
{
    return (HANDLE)_get_osfhandle(_fileno(f));
}

// The longest path Windows takes, in UTF-16 units.
constexpr DWORD WIDE_PATH = 32768;

static int startsWith(const wchar_t* text, const wchar_t* start)
{
    return wcsncmp(text, start, wcslen(start)) == 0;
}

// Windows takes every name in UTF-16, the program keeps them in UTF-8; bytes
// that are not UTF-8 (an unpaired surrogate on the command line) name no file.
// The full path in its \\?\ form knows no limit of 260 characters; a device
// path (\\.\NUL) stays as it is.
static int widePath(const char* path, wchar_t* wide)
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

static int widePlaced(const t_folder* folder, const char* name, wchar_t* wide)
{
    char path[2 * PATH_BUFFER];
    int length = snprintf(path, sizeof path, "%s%s", folder->path, name);

    return length > 0 && length < (int)sizeof path && widePath(path, wide);
}

// A handle that asks for no more than access, to learn about the file or
// device, never to change it; shared with every other program.
static HANDLE openToQuery(const wchar_t* wide, DWORD access)
{
    return CreateFileW(wide, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

static HANDLE openExisting(const wchar_t* wide)
{
    return openToQuery(wide, 0);
}

static int wideIdentity(const wchar_t* wide, t_file_identity* identity)
{
    HANDLE file = openExisting(wide);
    int known = handleIdentity(file, identity);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return known;
}

static int pathIdentity(const char* path, t_file_identity* identity)
{
    wchar_t wide[WIDE_PATH];

    return widePath(path, wide) && wideIdentity(wide, identity);
}

static DWORD fileAttributes(const char* path)
{
    wchar_t wide[WIDE_PATH];

    return widePath(path, wide) ? GetFileAttributesW(wide) : INVALID_FILE_ATTRIBUTES;
}

void keepStandardDescriptors()
{
}

uint32_t processNumber()
{
    return GetCurrentProcessId();
}

// A colon after the drive names a stream inside a file, never a file.
static int namesStream(const char* path)
{
    const char* rest = strncmp(path, "\\\\?\\", 4) == 0 || strncmp(path, "\\\\.\\", 4) == 0
                       ? path + 4 : path;

    if (isalpha((unsigned char)rest[0]) && rest[1] == ':')
        rest += 2;
    return strchr(rest, ':') != NULL;
}

// Only what a path names by its handle tells a device apart on Windows.
int fileKind(const char*)
{
    return KIND_UNKNOWN;
}

FILE* openForReading(const char* path)
{
    wchar_t wide[WIDE_PATH];

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

static int stemIs(const char* name, const char* device)
{
    return stemLength(name) == strlen(device) && _strnicmp(name, device, strlen(device)) == 0;
}

// A port's number: any digits, or one of the superscripts one to three
// (COM¹), which Windows takes for ports too.
static int namesPortNumber(const char* text, size_t length)
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
static int namesDevice(const char* name)
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
static int namesOtherDevice(const wchar_t* wide)
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
static int leadsToDevice(const wchar_t* wide, const char* path)
{
    HANDLE file = openExisting(wide);

    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD type = GetFileType(file);
    CloseHandle(file);
    return type != FILE_TYPE_DISK && !pathIsStream(path, stdout);
}

// The names come first: a port is never opened, not even to ask what it is.
int isForbiddenOutput(const char* path)
{
    const char* name = baseName(path);
    wchar_t wide[WIDE_PATH];

    if (namesStream(path) || namesDevice(name) || name[strspn(name, " .")] == '\0' ||
        !widePath(path, wide) || namesOtherDevice(wide))
        return 1;
    return !stemIs(name, "NUL") && leadsToDevice(wide, path);
}

// In 100-nanosecond steps.
int regularFileState(FILE* f, t_file_state* state)
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
    return 1;
}

int isFolder(FILE* f)
{
    BY_HANDLE_FILE_INFORMATION info;

    return GetFileInformationByHandle(streamHandle(f), &info) != 0 &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

int fileIdentity(FILE* f, t_file_identity* identity)
{
    return handleIdentity(streamHandle(f), identity);
}

int pathIsStream(const char* path, FILE* stream)
{
    t_file_identity a, b;

    return pathIdentity(path, &a) && fileIdentity(stream, &b) && sameIdentity(&a, &b);
}

int pathIsFile(const char* path, const t_file_identity* file)
{
    t_file_identity identity;

    return pathIdentity(path, &identity) && sameIdentity(&identity, file);
}

// NUL and CON are devices, though the C runtime's stat may not say so.
int isSpecialFile(const char* path)
{
    wchar_t wide[WIDE_PATH];
    HANDLE file = widePath(path, wide) ? openExisting(wide) : INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info;

    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int special = GetFileType(file) != FILE_TYPE_DISK ||
                  (GetFileInformationByHandle(file, &info) &&
                   (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY));
    CloseHandle(file);
    return special;
}

static int markForDeletion(HANDLE file, BOOLEAN deleting)
{
    FILE_DISPOSITION_INFO disposition = {deleting};

    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

// An access list of one entry, its owner's, and nothing inherited from the
// folder: a new file is private until it is complete.
struct t_private_security {
    SECURITY_DESCRIPTOR descriptor;
    DWORD list[(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE) / 4 + 1];
    DWORD user[(sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE) / 4 + 1];
};

static int privateSecurity(t_private_security* security)
{
    HANDLE token;
    DWORD size;
    PACL list = (PACL)security->list;

    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return 0;
    int known = GetTokenInformation(token, TokenUser, security->user, sizeof security->user, &size);
    CloseHandle(token);
    return known && InitializeAcl(list, sizeof security->list, ACL_REVISION) &&
           AddAccessAllowedAce(list, ACL_REVISION, FILE_ALL_ACCESS,
                               ((TOKEN_USER*)security->user)->User.Sid) &&
           InitializeSecurityDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(&security->descriptor, TRUE, list, FALSE) &&
           SetSecurityDescriptorControl(&security->descriptor, SE_DACL_PROTECTED,
                                        SE_DACL_PROTECTED);
}

// Shared for deletion, so that an interrupt can delete the file the job
// still holds open. A new file is private, hidden and marked for deletion at
// once: a kill, a crash or a closed console then leaves nothing of it. Where
// the file system refuses the mark, the interrupt cleanup alone removes it.
static FILE* openStream(const wchar_t* wide, DWORD disposition)
{
    int created = disposition == CREATE_NEW;
    t_private_security security;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &security.descriptor, FALSE};
    if (created && !privateSecurity(&security)) {
        errno = EACCES;
        return NULL;
    }
    HANDLE file = CreateFileW(wide, GENERIC_WRITE | (created ? DELETE | FILE_READ_ATTRIBUTES |
                              READ_CONTROL | WRITE_DAC | WRITE_OWNER : 0),
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              created ? &attributes : NULL, disposition,
                              created ? FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY
                                      : FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        errno = GetLastError() == ERROR_FILE_EXISTS ? EEXIST : EACCES;
        return NULL;
    }
    if (created)
        markForDeletion(file, TRUE);
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
    wchar_t wide[WIDE_PATH];

    return widePath(path, wide) ? openStream(wide, CREATE_ALWAYS) : NULL;
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
    wchar_t wide[WIDE_PATH];

    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (strlen(path) >= size)
            return 0;
        strcpy(resolved, path);
        return 1;
    }
    HANDLE file = widePath(path, wide) ? openExisting(wide) : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD length = GetFinalPathNameByHandleW(file, wide, WIDE_PATH, FILE_NAME_NORMALIZED);
    CloseHandle(file);
    return length > 0 && length < WIDE_PATH &&
           WideCharToMultiByte(CP_UTF8, 0, wide, -1, resolved, (int)size, NULL, NULL) > 0;
}

int openFolder(const char* path, t_folder* folder)
{
    size_t length = (size_t)(baseName(path) - path);

    if (length >= sizeof folder->path)
        return 0;
    memcpy(folder->path, path, length);
    folder->path[length] = '\0';
    folder->fd = -1;
    return 1;
}

void closeFolder(t_folder*)
{
}

int identityInFolder(const t_folder* folder, const char* name, t_file_identity* identity)
{
    wchar_t wide[WIDE_PATH];

    return widePlaced(folder, name, wide) && wideIdentity(wide, identity);
}

int mayReplace(const t_folder* folder, const char* name)
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
int closeKeeping(FILE* f, t_kept* kept)
{
    HANDLE process = GetCurrentProcess(), copy;
    int duplicated = DuplicateHandle(process, streamHandle(f), process, &copy, 0, FALSE,
                                     DUPLICATE_SAME_ACCESS) != 0;
    int closed = fclose(f) == 0;

    if (duplicated && !closed)
        CloseHandle(copy);
    *kept = duplicated ? (t_kept)copy : (t_kept)INVALID_HANDLE_VALUE;
    return duplicated && closed;
}

void closeKept(t_kept kept)
{
    CloseHandle((HANDLE)kept);
}

FILE* createUnnamed(const t_folder*)
{
    errno = EOPNOTSUPP;
    return NULL;
}

int linkUnnamed(t_kept, const t_folder*, const char*)
{
    return 0;
}

FILE* createInFolder(const t_folder* folder, const char* name)
{
    wchar_t wide[WIDE_PATH];

    return widePlaced(folder, name, wide) ? openStream(wide, CREATE_NEW) : NULL;
}

// Where the volume keeps no access lists (FAT, exFAT) there is none to keep.
static int keepsAccessLists(HANDLE file)
{
    DWORD flags = 0;

    return GetVolumeInformationByHandleW(file, NULL, 0, NULL, NULL, &flags, NULL, 0) &&
           (flags & FILE_PERSISTENT_ACLS);
}

static int sameAccessList(PACL a, PACL b)
{
    return a == b || (a != NULL && b != NULL && a->AclSize == b->AclSize &&
                      memcmp(a, b, a->AclSize) == 0);
}

// The older output's access list, as it is, whether it inherits or not; its
// owner and group where the system lets us. The list is read back: a file
// that would be open to more people than before is never made.
static int carrySecurity(HANDLE file, HANDLE older)
{
    const SECURITY_INFORMATION ALL =
        DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION;
    PSECURITY_DESCRIPTOR kept = NULL, given = NULL;
    PACL list = NULL, carried = NULL;

    if (GetSecurityInfo(older, SE_FILE_OBJECT, ALL, NULL, NULL, &list, NULL, &kept) != 0)
        return 0;
    SetKernelObjectSecurity(file, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, kept);
    int same = SetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, kept) &&
               GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL,
                               &carried, NULL, &given) == 0 &&
               sameAccessList(list, carried);
    LocalFree(kept);
    LocalFree(given);
    return same;
}

// The name Windows knows the open file by, in full.
static int handlePath(HANDLE file, wchar_t* wide)
{
    DWORD length = GetFinalPathNameByHandleW(file, wide, WIDE_PATH, FILE_NAME_NORMALIZED);

    return length > 0 && length < WIDE_PATH;
}

// A new output gets what the folder passes on to any new file there. Where it
// passes on nothing, the file stays its owner's.
static int inheritSecurity(HANDLE file)
{
    ACL none;
    PSECURITY_DESCRIPTOR given = NULL;
    PACL inherited = NULL;
    t_private_security security;

    if (!InitializeAcl(&none, sizeof none, ACL_REVISION) ||
        SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION |
                        UNPROTECTED_DACL_SECURITY_INFORMATION, NULL, NULL, &none, NULL) != 0 ||
        GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL,
                        &inherited, NULL, &given) != 0)
        return 0;
    int empty = inherited != NULL && inherited->AceCount == 0;
    LocalFree(given);
    return !empty || (privateSecurity(&security) &&
                      SetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION,
                                              &security.descriptor));
}

static int copyStream(const wchar_t* from, const wchar_t* to)
{
    HANDLE in = CreateFileW(from, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, 0, NULL);
    HANDLE out = in == INVALID_HANDLE_VALUE ? INVALID_HANDLE_VALUE :
                 CreateFileW(to, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    char buffer[4096];
    DWORD read = 0, written = 0;
    int copied = out != INVALID_HANDLE_VALUE;

    while (copied && (copied = ReadFile(in, buffer, sizeof buffer, &read, NULL) != 0) && read > 0)
        copied = WriteFile(out, buffer, read, &written, NULL) && written == read;
    if (out != INVALID_HANDLE_VALUE)
        copied = CloseHandle(out) && copied;
    if (in != INVALID_HANDLE_VALUE)
        CloseHandle(in);
    return copied;
}

// The older output's named streams (a zone mark, a thumbnail), each copied
// into the new file under its name, as ReplaceFileW keeps them. A file marked
// for deletion takes no new stream: the mark is lifted for the copy alone.
static int carryStreams(HANDLE file, const wchar_t* older)
{
    WIN32_FIND_STREAM_DATA stream;
    wchar_t from[WIDE_PATH], to[WIDE_PATH];
    HANDLE found = FindFirstStreamW(older, FindStreamInfoStandard, &stream, 0);

    if (found == INVALID_HANDLE_VALUE)   // none at all, or a volume without streams
        return GetLastError() == ERROR_HANDLE_EOF || GetLastError() == ERROR_INVALID_PARAMETER;
    int carried = handlePath(file, to), more = 1;
    size_t length = carried ? wcslen(to) : 0;
    while (carried && more) {
        const wchar_t* name = stream.cStreamName;
        if (wcscmp(name, L"::$DATA") != 0) {
            markForDeletion(file, FALSE);
            carried = length + wcslen(name) < WIDE_PATH &&
                      swprintf(from, WIDE_PATH, L"%ls%ls", older, name) > 0;
            wcscpy(to + length, carried ? name : L"");
            carried = carried && copyStream(from, to);
        }
        more = FindNextStreamW(found, &stream);
    }
    carried = carried && GetLastError() == ERROR_HANDLE_EOF;
    FindClose(found);
    markForDeletion(file, TRUE);
    return carried;
}

// What a file's attributes hold that a program may set, read-only aside (a
// replaced file is never read-only: mayReplace).
constexpr DWORD KEPT_ATTRIBUTES = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_TEMPORARY;

// The older output's attributes (hidden, system, not indexed), or those of any
// new file, read back, as no call says it dropped one. The file stays hidden
// until the very moment it takes its name (replaceInFolder).
static int giveFileAttributes(HANDLE file, DWORD attributes)
{
    FILE_BASIC_INFO basic = {};

    basic.FileAttributes = attributes | FILE_ATTRIBUTE_HIDDEN;
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) &&
           GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
           (basic.FileAttributes & attributes) == attributes;
}

// The owner and group come with the access list, once the file is complete
// (giveAttributes), where the system lets us give them.
int giveOwner(FILE*, const t_folder*, const char*, int* ownerKept)
{
    *ownerKept = 1;
    return 1;
}

// What a replaced output had, it keeps: its access list, its named streams and
// its attributes. A new output gets what any new file in its folder gets.
int giveAttributes(FILE* f, const t_folder* folder, const char* older, int, int)
{
    HANDLE file = streamHandle(f);
    wchar_t wide[WIDE_PATH];
    BY_HANDLE_FILE_INFORMATION info;
    HANDLE standing = widePlaced(folder, older, wide) ?
                      openToQuery(wide, READ_CONTROL | FILE_READ_ATTRIBUTES) : INVALID_HANDLE_VALUE;

    if (standing == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND)
            return 0;
        return (!keepsAccessLists(file) || inheritSecurity(file)) &&
               giveFileAttributes(file, FILE_ATTRIBUTE_ARCHIVE);
    }
    int kept = GetFileInformationByHandle(standing, &info) &&
               (!keepsAccessLists(file) || carrySecurity(file, standing)) &&
               carryStreams(file, wide) &&
               giveFileAttributes(file, info.dwFileAttributes & KEPT_ATTRIBUTES);
    CloseHandle(standing);
    return kept;
}

static int setAttributes(HANDLE file, DWORD attributes)
{
    FILE_BASIC_INFO basic = {};

    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0;
}

// Lifts the mark for deletion, or finds none where the file system refuses it.
static int unmark(HANDLE file)
{
    FILE_STANDARD_INFO standard;

    return markForDeletion(file, FALSE) ||
           (GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) &&
            !standard.DeletePending);
}

// Another program holds the older output, or access is denied: the open
// message; only a full or failing medium is the write message.
static int renameFailure(DWORD error)
{
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
        error == ERROR_LOCK_VIOLATION)
        return EACCES;
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? ENOSPC : EIO;
}

// The new file is renamed by its own handle, and only in the moment before is
// it made visible and its mark for deletion lifted; a refused attempt gives
// both back before the wait, so that a kill at any moment, waiting included,
// leaves nothing of it. An antivirus or a sync tool may hold the older output
// for a moment: the rename is tried again for up to a second.
int replaceInFolder(const t_folder* folder, t_kept kept, const char*, const char* to)
{
    alignas(FILE_RENAME_INFO) unsigned char buffer[sizeof(FILE_RENAME_INFO) +
                                                   WIDE_PATH * sizeof(wchar_t)] = {};
    FILE_RENAME_INFO* rename = (FILE_RENAME_INFO*)buffer;
    HANDLE file = (HANDLE)kept;
    FILE_BASIC_INFO basic;

    errno = EIO;
    if (!widePlaced(folder, to, rename->FileName) ||
        !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        return 0;
    DWORD hidden = basic.FileAttributes, older = GetFileAttributesW(rename->FileName);
    DWORD shown = older != INVALID_FILE_ATTRIBUTES && (older & FILE_ATTRIBUTE_HIDDEN)
                  ? hidden : hidden & ~FILE_ATTRIBUTE_HIDDEN;
    rename->ReplaceIfExists = TRUE;
    rename->FileNameLength = (DWORD)(wcslen(rename->FileName) * sizeof(wchar_t));
    for (int attempt = 0; attempt < 20; attempt++) {
        if (attempt > 0)
            Sleep(50);
        if (setAttributes(file, shown) && unmark(file) &&
            SetFileInformationByHandle(file, FileRenameInfo, rename,
                                       sizeof *rename + rename->FileNameLength))
            return 1;
        errno = renameFailure(GetLastError());
        markForDeletion(file, TRUE);
        setAttributes(file, hidden);
        if (errno != EACCES)
            return 0;
    }
    return 0;
}

void removeInFolder(const t_folder* folder, const char* name)
{
    wchar_t wide[WIDE_PATH];

    if (widePlaced(folder, name, wide))
        DeleteFileW(wide);
}

void reserveSpace(FILE*, uint64_t)
{
}

#else

static_assert(sizeof(off_t) == 8, "pictures over 2 GiB need 64-bit file offsets");

static int statIdentity(const struct stat* info, t_file_identity* identity)
{
    identity->volume = (uint64_t)info->st_dev;
    identity->index = (uint64_t)info->st_ino;
    return 1;
}

void keepStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDONLY) != fd)
            return;   // the lowest free number is taken, fd itself
}

uint32_t processNumber()
{
    return (uint32_t)getpid();
}

int fileKind(const char* path)
{
    struct stat info;

    if (stat(path, &info) != 0)
        return KIND_UNKNOWN;
    return S_ISREG(info.st_mode) ? KIND_REGULAR : S_ISDIR(info.st_mode) ? KIND_FOLDER
                                                                         : KIND_SPECIAL;
}

// Reads then wait for data as reads of any file do; a terminal given as the
// input does not become the run's controlling terminal.
FILE* openForReading(const char* path)
{
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    int flags = fd >= 0 ? fcntl(fd, F_GETFL) : -1;
    FILE* f = flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 ? fdopen(fd, "rb")
                                                                          : NULL;
    if (f == NULL && fd >= 0)
        close(fd);
    return f;
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
    state->written = nanoseconds(&info.st_mtim);
    return 1;
}

int isFolder(FILE* f)
{
    struct stat info;

    return fstat(fileno(f), &info) == 0 && S_ISDIR(info.st_mode);
}

int fileIdentity(FILE* f, t_file_identity* identity)
{
    struct stat info;

    return fstat(fileno(f), &info) == 0 && statIdentity(&info, identity);
}

int pathIsStream(const char* path, FILE* stream)
{
    t_file_identity identity;

    return fileIdentity(stream, &identity) && pathIsFile(path, &identity);
}

int pathIsFile(const char* path, const t_file_identity* file)
{
    struct stat info;
    t_file_identity identity;

    return stat(path, &info) == 0 && statIdentity(&info, &identity) &&
           sameIdentity(&identity, file);
}

int isForbiddenOutput(const char*)
{
    return 0;
}

int isSpecialFile(const char* path)
{
    struct stat info;

    return stat(path, &info) == 0 && !S_ISREG(info.st_mode);
}

FILE* openForWriting(const char* path)
{
    return fopen(path, "wb");
}

// A duplicate, so that closing the output leaves the descriptor open.
FILE* openDescriptor(int fd)
{
    int flags = fcntl(fd, F_GETFL);
    int copy = flags != -1 && (flags & O_ACCMODE) != O_RDONLY ? dup(fd) : -1;
    FILE* stream = copy >= 0 ? fdopen(copy, "wb") : NULL;

    if (stream == NULL && copy >= 0)
        close(copy);
    return stream;
}

const char* baseName(const char* path)
{
    const char* slash = strrchr(path, '/');

    return slash != NULL ? slash + 1 : path;
}

static int sameFile(const struct stat* a, const struct stat* b)
{
    return a->st_dev == b->st_dev && a->st_ino == b->st_ino;
}

// The folder part of path, "." for none.
static int folderOf(const char* path, char* folder, size_t size)
{
    size_t length = (size_t)(baseName(path) - path);

    if (length + 2 > size)
        return 0;
    memcpy(folder, path, length);
    strcpy(folder + length, length == 0 ? "." : "");
    return 1;
}

// The kernel's rule for links in shared folders: in a sticky folder that
// others may write, a link is followed only when the runner or the folder's
// owner made it, so that no other user's link leads our file elsewhere.
static int mayFollow(const char* link)
{
    char folder[PATH_MAX];
    struct stat linkInfo, folderInfo;

    if (lstat(link, &linkInfo) != 0 || !folderOf(link, folder, sizeof folder) ||
        stat(folder, &folderInfo) != 0)
        return 0;
    return !(folderInfo.st_mode & S_ISVTX) || !(folderInfo.st_mode & S_IWOTH) ||
           linkInfo.st_uid == geteuid() || linkInfo.st_uid == folderInfo.st_uid;
}

// Puts in path what its link leads to, read from the link's own folder where
// relative: 1 when it did, 0 (errno EINVAL) when path is no link, -1 when the
// link may not be followed or its text does not fit.
static int followLink(char* path, size_t size)
{
    char target[PATH_MAX];
    ssize_t length = readlink(path, target, sizeof target);

    if (length < 0)
        return 0;
    size_t folder = target[0] == '/' ? 0 : (size_t)(baseName(path) - path);
    if ((size_t)length == sizeof target || folder + length >= size || !mayFollow(path))
        return -1;
    memcpy(path + folder, target, length);
    path[folder + length] = '\0';
    return 1;
}

static const int MOST_LINKS = 40;

int resolveLinks(const char* path, char* resolved, size_t size)
{
    if (strlen(path) >= size)
        return 0;
    strcpy(resolved, path);
    for (int links = 0; links < MOST_LINKS; links++) {
        int followed = followLink(resolved, size);
        if (followed == 0)   // the end: a file that is no link, or nothing after a link
            return errno != ENOENT || links == 0;
        if (followed < 0)
            return 0;
    }
    return 0;
}

// The number of the descriptor that path names in this run's own folder of
// descriptors (/proc/self/fd, whatever way it was reached), or -1.
static int descriptorNamed(const char* path)
{
    char folder[PATH_MAX];
    struct stat named, own;
    const char* name = baseName(path);
    char* end;
    long fd = strtol(name, &end, 10);

    if (!isdigit((unsigned char)*name) || *end != '\0' || fd > INT_MAX ||
        !folderOf(path, folder, sizeof folder) || stat(folder, &named) != 0)
        return -1;
    return (stat("/proc/self/fd", &own) == 0 && sameFile(&named, &own)) ||
           (stat("/proc/thread-self/fd", &own) == 0 && sameFile(&named, &own)) ? (int)fd : -1;
}

int heldDescriptor(const char* path)
{
    char current[PATH_MAX];

    if (strlen(path) >= sizeof current)
        return -1;
    strcpy(current, path);
    for (int links = 0; links < MOST_LINKS; links++) {
        int fd = descriptorNamed(current);
        if (fd >= 0 || followLink(current, sizeof current) != 1)
            return fd;
    }
    return -1;
}

// Held only to work in, so that a folder we may write but not list serves too.
#ifdef O_PATH
constexpr int FOLDER_ACCESS = O_PATH;
#else
constexpr int FOLDER_ACCESS = O_RDONLY;
#endif

int openFolder(const char* path, t_folder* folder)
{
    size_t length = (size_t)(baseName(path) - path);

    if (length >= sizeof folder->path)
        return 0;
    memcpy(folder->path, path, length);
    strcpy(folder->path + length, length == 0 ? "." : "");
    folder->fd = open(folder->path, FOLDER_ACCESS | O_DIRECTORY);
    return folder->fd >= 0;
}

void closeFolder(t_folder* folder)
{
    if (folder->fd >= 0)
        close(folder->fd);
    folder->fd = -1;
}

int identityInFolder(const t_folder* folder, const char* name, t_file_identity* identity)
{
    struct stat info;

    return fstatat(folder->fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           statIdentity(&info, identity);
}

#ifdef __linux__
// Append-only and immutable files, or a folder of either kind, refuse the
// rename whoever runs it.
static int unchangeable(const t_folder* folder, const char* name)
{
    int flags = 0, changeable = 1;

    for (const char* place : {name, "."}) {
        int fd = openat(folder->fd, place, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
        if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0)
            changeable = changeable && !(flags & (FS_APPEND_FL | FS_IMMUTABLE_FL));
        if (fd >= 0)
            close(fd);
    }
    return !changeable;
}
#else
static int unchangeable(const t_folder*, const char*)
{
    return 0;
}
#endif

// In a sticky folder only the file's owner, the folder's owner or a
// privileged user may replace a file.
int mayReplace(const t_folder* folder, const char* name)
{
    struct stat file, place;

    if (fstatat(folder->fd, name, &file, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (faccessat(folder->fd, name, W_OK, 0) != 0 || fstat(folder->fd, &place) != 0)
        return 0;
    if ((place.st_mode & S_ISVTX) && geteuid() != 0 && file.st_uid != geteuid() &&
        place.st_uid != geteuid())
        return 0;
    return !unchangeable(folder, name);
}

FILE* openInFolder(const t_folder* folder, const char* name)
{
    struct stat info;
    int fd = openat(folder->fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    int regular = fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    FILE* f = regular ? fdopen(fd, "rb") : NULL;

    if (f == NULL && fd >= 0) {
        close(fd);
        errno = regular ? errno : EINVAL;
    }
    return f;
}

int closeKeeping(FILE* f, t_kept* kept)
{
    int fd = dup(fileno(f));
    int closed = fclose(f) == 0;

    if (fd >= 0 && !closed)
        close(fd);
    *kept = fd;
    return fd >= 0 && closed;
}

void closeKept(t_kept kept)
{
    close((int)kept);
}

FILE* createUnnamed(const t_folder* folder)
{
#ifdef O_TMPFILE
    char proc[32];
    struct stat named, unnamed;
    t_file_identity byPath, byDescriptor;
    // As any new file: the umask and the folder's default access list apply.
    int fd = openat(folder->fd, ".", O_TMPFILE | O_WRONLY, 0666);

    if (fd < 0) {
        if (errno == EISDIR || errno == EINVAL)
            errno = EOPNOTSUPP;
        return NULL;
    }
    // Linking it later goes through /proc, which needs no privilege.
    snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    int linkable = stat(proc, &named) == 0 && fstat(fd, &unnamed) == 0 &&
                   statIdentity(&named, &byPath) && statIdentity(&unnamed, &byDescriptor) &&
                   sameIdentity(&byPath, &byDescriptor);
    FILE* f = linkable ? fdopen(fd, "wb") : NULL;
    if (f == NULL) {
        close(fd);
        errno = EOPNOTSUPP;
    }
    return f;
#else
    (void)folder;
    errno = EOPNOTSUPP;
    return NULL;
#endif
}

int linkUnnamed(t_kept kept, const t_folder* folder, const char* name)
{
    char proc[32];

    snprintf(proc, sizeof proc, "/proc/self/fd/%d", (int)kept);
    return linkat(AT_FDCWD, proc, folder->fd, name, AT_SYMLINK_FOLLOW) == 0;
}

FILE* createInFolder(const t_folder* folder, const char* name)
{
    int fd = openat(folder->fd, name, O_WRONLY | O_CREAT | O_EXCL, 0600);

    if (fd < 0)
        return NULL;
    FILE* stream = fdopen(fd, "wb");
    if (stream == NULL) {
        close(fd);
        unlinkat(folder->fd, name, 0);
    }
    return stream;
}

static mode_t currentUmask()
{
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

#ifdef __linux__
static const char ACCESS_LIST[] = "system.posix_acl_access";
static const char DEFAULT_LIST[] = "system.posix_acl_default";
// An access list on disk: a 4-byte version, then entries of a 2-byte tag, a
// 2-byte permission and a 4-byte id, little-endian.
constexpr int LIST_HEADER = 4, LIST_ENTRY = 8, MOST_ENTRIES = 1024;
enum { OWNER_ENTRY = 0x01, GROUP_ENTRY = 0x04, MASK_ENTRY = 0x10, OTHERS_ENTRY = 0x20 };

// Read through the open file, or by its path where it may not be read.
static ssize_t listAttributes(int fd, const char* path, char* names, size_t size)
{
    return fd >= 0 ? flistxattr(fd, names, size) : llistxattr(path, names, size);
}

static ssize_t readAttribute(int fd, const char* path, const char* name, char* value, size_t size)
{
    return fd >= 0 ? fgetxattr(fd, name, value, size) : lgetxattr(path, name, value, size);
}

// Every attribute of older on the new file: its access list among them.
// Those that the system alone gives (security.*: capabilities, labels) are
// never carried: a picture must not gain what a program had.
static int carryExtendedAttributes(int to, const t_folder* folder, const char* older)
{
    static char names[65536], value[65536];
    char path[2 * PATH_BUFFER];
    int from = openat(folder->fd, older, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    int carried = 1;

    snprintf(path, sizeof path, "%s/%s", folder->path, older);
    ssize_t listed = listAttributes(from, path, names, sizeof names);
    if (listed < 0)
        carried = errno == ENOTSUP;   // a file system without attributes
    for (ssize_t at = 0; carried && at < listed; at += (ssize_t)strlen(names + at) + 1) {
        const char* name = names + at;
        if (strncmp(name, "security.", 9) == 0)
            continue;
        ssize_t length = readAttribute(from, path, name, value, sizeof value);
        carried = length >= 0 && fsetxattr(to, name, value, (size_t)length, 0) == 0;
    }
    if (from >= 0)
        close(from);
    return carried;
}

// A new file may have taken the folder's default access list, which older never had.
static int dropAccessList(int fd)
{
    return fremovexattr(fd, ACCESS_LIST) == 0 || errno == ENODATA || errno == ENOTSUP;
}

// What a file made with mode 0666 takes from the folder's default access
// list: its entries, the owner's, the others' and the mask's (or the
// group's, without a mask) without execute. 0 where the folder has none.
static int inheritAccessList(int fd, const t_folder* folder)
{
    unsigned char list[LIST_HEADER + LIST_ENTRY * MOST_ENTRIES];
    int from = openat(folder->fd, ".", O_RDONLY | O_DIRECTORY);
    ssize_t length = from >= 0 ? fgetxattr(from, DEFAULT_LIST, list, sizeof list) : -1;
    int masked = 0;

    if (from >= 0)
        close(from);
    for (ssize_t at = LIST_HEADER; at + LIST_ENTRY <= length; at += LIST_ENTRY)
        masked = masked || list[at] == MASK_ENTRY;
    for (ssize_t at = LIST_HEADER; at + LIST_ENTRY <= length; at += LIST_ENTRY)
        if (list[at] == OWNER_ENTRY || list[at] == OTHERS_ENTRY ||
            list[at] == (masked ? MASK_ENTRY : GROUP_ENTRY))
            list[at + 2] &= ~1;
    return length > LIST_HEADER && fsetxattr(fd, ACCESS_LIST, list, (size_t)length, 0) == 0;
}
#else
static int carryExtendedAttributes(int, const t_folder*, const char*)
{
    return 1;
}

static int dropAccessList(int)
{
    return 1;
}

static int inheritAccessList(int, const t_folder*)
{
    return 0;
}
#endif

// Only a privileged user may give a file away: anyone else keeps the group
// alone, where they belong to it, as cp -p does.
int giveOwner(FILE* f, const t_folder* folder, const char* older, int* ownerKept)
{
    struct stat previous;
    int fd = fileno(f);

    *ownerKept = 1;
    if (fstatat(folder->fd, older, &previous, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(previous.st_mode) || fchown(fd, previous.st_uid, previous.st_gid) == 0)
        return 1;
    *ownerKept = 0;
    // The runner's group must not gain what older's group had.
    return fchown(fd, (uid_t)-1, previous.st_gid) == 0 || !(previous.st_mode & S_IRWXG);
}

// A file made under a name of its own is made private; in the end it takes
// what any new file in its folder takes.
static int giveNewFileMode(int fd, const t_folder* folder)
{
    return inheritAccessList(fd, folder) || fchmod(fd, 0666 & ~currentUmask()) == 0;
}

int giveAttributes(FILE* f, const t_folder* folder, const char* older, int unnamed, int ownerKept)
{
    struct stat previous;
    int fd = fileno(f);
    int exists = fstatat(folder->fd, older, &previous, AT_SYMLINK_NOFOLLOW) == 0;

    if (!exists && errno != ENOENT)
        return 0;
    if (!exists || !S_ISREG(previous.st_mode))
        return unnamed || giveNewFileMode(fd, folder);
    // setuid and setgid belong to the owner and group that were kept.
    mode_t mode = previous.st_mode & (ownerKept ? 07777 : 01777);
    return dropAccessList(fd) && fchmod(fd, mode) == 0 &&
           carryExtendedAttributes(fd, folder, older);
}

int replaceInFolder(const t_folder* folder, t_kept, const char* from, const char* to)
{
    return renameat(folder->fd, from, folder->fd, to) == 0;
}

void removeInFolder(const t_folder* folder, const char* name)
{
    unlinkat(folder->fd, name, 0);
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
