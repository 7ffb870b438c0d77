// The new file that replaces an output on Windows: private, hidden and marked
// for deletion until the call that gives it its name, and then what the older
// output was.
#include "windows_files.h"

#include <aclapi.h>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <io.h>

static bool markForDeletion(HANDLE file, BOOLEAN deleting)
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

static bool privateSecurity(t_private_security* security)
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
FILE* openStream(const wchar_t* wide, DWORD disposition)
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

uint32_t creationMask()
{
    return 0;
}

FILE* createUnnamed(const t_folder*, const t_new_mode*)
{
    errno = EOPNOTSUPP;
    return NULL;
}

bool linkUnnamed(t_file_handle, const t_folder*, const char*)
{
    return 0;
}

FILE* createInFolder(const t_folder* folder, const char* name)
{
    wchar_t wide[WIDE_PATH];

    return widePlaced(folder, name, wide) ? openStream(wide, CREATE_NEW) : NULL;
}

// Where the volume keeps no access lists (FAT, exFAT) there is none to keep.
static bool keepsAccessLists(HANDLE file)
{
    DWORD flags = 0;

    return GetVolumeInformationByHandleW(file, NULL, 0, NULL, NULL, &flags, NULL, 0) &&
           (flags & FILE_PERSISTENT_ACLS);
}

static bool sameAccessList(PACL a, PACL b)
{
    return a == b || (a != NULL && b != NULL && a->AclSize == b->AclSize &&
                      memcmp(a, b, a->AclSize) == 0);
}

// The older output's access list, as it is, whether it inherits or not; its
// owner and group where the system lets us. The list is read back: a file
// that would be open to more people than before is never made.
static bool carrySecurity(HANDLE file, HANDLE older)
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
static bool handlePath(HANDLE file, wchar_t* wide)
{
    DWORD length = GetFinalPathNameByHandleW(file, wide, WIDE_PATH, FILE_NAME_NORMALIZED);

    return length > 0 && length < WIDE_PATH;
}

// A new output gets what the folder passes on to any new file there. Where it
// passes on nothing, the file stays its owner's.
static bool inheritSecurity(HANDLE file)
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

static bool copyStream(const wchar_t* from, const wchar_t* to)
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
static bool carryStreams(HANDLE file, const wchar_t* older)
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
static bool giveFileAttributes(HANDLE file, DWORD attributes)
{
    FILE_BASIC_INFO basic = {};

    basic.FileAttributes = attributes | FILE_ATTRIBUTE_HIDDEN;
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) &&
           GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
           (basic.FileAttributes & attributes) == attributes;
}

// The owner and group come with the access list, once the file is complete
// (giveAttributes), where the system lets us give them.
bool giveOwner(FILE*, const t_folder*, const char*, bool* ownerKept)
{
    *ownerKept = true;
    return true;
}

// What a replaced output had, it keeps: its access list, its named streams and
// its attributes. A new output gets what any new file in its folder gets.
bool giveAttributes(FILE* f, const t_folder* folder, const char* older, bool, bool,
                   const t_new_mode*)
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

static bool setAttributes(HANDLE file, DWORD attributes)
{
    FILE_BASIC_INFO basic = {};

    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0;
}

// Lifts the mark for deletion, or finds none where the file system refuses it.
static bool unmark(HANDLE file)
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

// The rename's tries: an antivirus or a sync tool may hold the older output
// for a moment.
constexpr int RENAME_TRIES = 20;
constexpr DWORD RENAME_PAUSE_MS = 50;

// The new file is renamed by its own handle, and only in the moment before is
// it made visible and its mark for deletion lifted; a refused attempt gives
// both back before the wait, so that a kill at any moment, waiting included,
// leaves nothing of it. Where it replaces, the rename is tried again for up to
// a second; where it may not, something standing at the name is EEXIST.
static bool renameByHandle(const t_folder* folder, t_file_handle kept, const char* to,
                           bool replacing)
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
    rename->ReplaceIfExists = replacing;
    rename->FileNameLength = (DWORD)(wcslen(rename->FileName) * sizeof(wchar_t));
    for (int attempt = 0; attempt < RENAME_TRIES; attempt++) {
        if (attempt > 0)
            Sleep(RENAME_PAUSE_MS);
        if (setAttributes(file, shown) && unmark(file) &&
            SetFileInformationByHandle(file, FileRenameInfo, rename,
                                       sizeof *rename + rename->FileNameLength))
            return 1;
        DWORD error = GetLastError();
        errno = !replacing && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
                ? EEXIST : renameFailure(error);
        markForDeletion(file, TRUE);
        setAttributes(file, hidden);
        if (errno != EACCES || !replacing)
            return 0;
    }
    return 0;
}

bool replaceInFolder(const t_folder* folder, t_file_handle kept, const char*, const char* to)
{
    return renameByHandle(folder, kept, to, true);
}

bool renameUnreplacing(const t_folder* folder, t_file_handle kept, const char*, const char* to)
{
    return renameByHandle(folder, kept, to, false);
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


bool isMediumFull(int error)
{
    return error == ENOSPC;
}
