// What the programs ask of the operating system: files, folders, interrupts
// and the console. src/os/posix/ and src/os/windows/ each answer all of it,
// the build choosing one. Every path is UTF-8, on Windows too.
#ifndef TORVAN_OS_SYSTEM_H
#define TORVAN_OS_SYSTEM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Room for the path of the output's file and of its temporary twin.
constexpr int PATH_BUFFER = 4096;

// ---- Files: what a file is, whatever path leads to it

// What tells an open file's content apart from before: any write moves its
// change time, also one that puts its modification time back.
struct t_file_state {
    uint64_t size;
    int64_t changed;   // in the system's finest unit
    int64_t written;   // the last write, which FAT keeps where it keeps no change time
    uint32_t mode;     // its read and write bits, which a copy takes (0666 on Windows)
};

// Which file it is, whatever the path or link that led to it.
struct t_file_identity {
    uint64_t volume;
    uint64_t index;
};

// The folder a file is made, renamed and removed in. On POSIX it is held open,
// so that a folder renamed or a link flipped meanwhile never moves the work
// elsewhere; Windows keeps its path.
struct t_folder {
    int fd;
    char path[PATH_BUFFER];
};

// Whether two states, or two identities, are of the same content, or file.
inline bool sameFileState(const t_file_state* a, const t_file_state* b)
{
    return a->size == b->size && a->changed == b->changed && a->written == b->written;
}

inline bool sameIdentity(const t_file_identity* a, const t_file_identity* b)
{
    return a->volume == b->volume && a->index == b->index;
}

// ---- The process

// Opens 0, 1 and 2 on the null device where they are closed, so that no file
// the run opens takes the number of standard output or error. Read-only: an
// output path that names such a descriptor is refused, not thrown away.
void keepStandardDescriptors();
uint32_t processNumber();

// ---- The input: a picture opened for reading

// What a path leads to, known without opening it: opening a FIFO would
// release a writer waiting on it. KIND_UNKNOWN where the path cannot tell.
enum t_file_kind { KIND_UNKNOWN, KIND_REGULAR, KIND_FOLDER, KIND_SPECIAL, KIND_FOREIGN_LINK };
// Opens a regular file for reading, without waiting for a writer; NULL for
// anything else, kind then saying what stands there (nothing is opened but a
// regular file), or that a link on the way may not be followed.
FILE* openForReading(const char* path, t_file_kind* kind);
// The state of an open regular file; false for anything else or a failed query.
bool regularFileState(FILE* f, t_file_state* state);
bool isFolder(FILE* f);
// Whether the open file belongs to the runner.
bool ownedByRunner(FILE* f);
bool fileIdentity(FILE* f, t_file_identity* identity);
// Whether path leads to the file that stream is, by any path or link.
bool pathIsStream(const char* path, FILE* stream);
// Whether path leads to the open file f.
bool pathIsFile(const char* path, const t_file_identity* file);

// ---- Paths, followed name by name, and what stands at a name in a folder

// Where the file name starts in path, after its folder.
const char* baseName(const char* path);

// How a walk takes a path. The kernel's rule for links in shared folders
// always holds, whatever its switches say: in a sticky folder that others may
// write, a link is followed only where the runner or the folder's owner made it.
enum t_walk_way {
    WALK_KEEP_LAST = 0,       // the last name as it stands, a link too
    WALK_FOLLOW_LAST = 1,     // the last name followed where it is a link
    WALK_MAKE_FOLDERS = 2,    // each missing folder on the way made
    WALK_OWN_FOLDERS = 4,     // no folder of another user (but root) in a shared folder
};
enum t_walk { WALK_DONE, WALK_FAILED, WALK_FOREIGN_LINK, WALK_FOREIGN_FOLDER };
// Opens the folder that the last name of path stands in, name by name, and
// puts that name in name ("." where path ends in a folder); errno after
// WALK_FAILED. The last name need not exist.
t_walk walkPath(const char* path, int way, t_folder* folder, char* name, size_t size);
// Opens the folder at path itself.
t_walk openFolderPath(const char* path, int way, t_folder* folder);
void closeFolder(t_folder* folder);

// What stands at a name in a folder, a link not followed.
enum t_entry_kind { ENTRY_NONE, ENTRY_REGULAR, ENTRY_FOLDER, ENTRY_LINK, ENTRY_SPECIAL,
                    ENTRY_UNKNOWN };
struct t_entry {
    t_entry_kind kind;           // ENTRY_UNKNOWN where it cannot be judged
    uint64_t size;
    bool trusted;                // made by the runner or the folder's owner, or not in a
                                 // sticky folder that others may write
    t_file_identity identity;
};
void judgeEntry(const t_folder* folder, const char* name, t_entry* entry);

// ---- The output: torvan's devices and descriptors, and the new file that
// replaces what stands at a name

// Whether path may never be written (Windows: a device's name other than
// NUL, a blank name or a stream in a file).
bool isForbiddenOutput(const char* path);
// Opens the device or FIFO called name in folder for binary writing.
FILE* openForWriting(const t_folder* folder, const char* name);
// The descriptor of this run that path leads to (/dev/stdout, /dev/fd/3, a
// link to /proc/self/fd/1), or -1 for any other path.
int heldDescriptor(const char* path);
// That descriptor as a stream of its own, in binary, appending where it does;
// NULL where it is not open for writing.
FILE* openDescriptor(int fd);

// Whether the file called name may be replaced: nothing is there, or we may
// write it and a rename may take its place.
bool mayReplace(const t_folder* folder, const char* name);
// Opens the regular file called name for reading; NULL, errno ENOENT where
// nothing is there, any other errno where it cannot be read.
FILE* openInFolder(const t_folder* folder, const char* name);
// A file's own handle, kept open past its stream's close: an unnamed file is
// linked through it and, on Windows, a new file stays marked for deletion on
// it until it takes its name.
typedef intptr_t t_file_handle;
bool closeStreamKeepingFile(FILE* f, t_file_handle* kept);
void closeFileHandle(t_file_handle kept);
// What a new file's mode comes from: the bits asked for (0666, or those a
// copy of the picture takes), less the umask, read once before any conversion
// starts as reading it changes it for a moment.
struct t_new_mode {
    uint32_t asked;
    uint32_t umask;
};
uint32_t creationMask();
// A file that has no name until it is linked (Linux), made as any new file
// is made with mode: the umask or the folder's default access list apply.
// NULL, errno EOPNOTSUPP, where the system cannot make one.
FILE* createUnnamed(const t_folder* folder, const t_new_mode* mode);
// Gives the unnamed file its name, where nothing stands (errno EEXIST).
bool linkUnnamed(t_file_handle kept, const t_folder* folder, const char* name);
// Creates a file that did not exist (errno EEXIST if it did), readable and
// writable by its owner only. On Windows it can be deleted while still open.
FILE* createInFolder(const t_folder* folder, const char* name);
// Gives a new file, before anything is written to it, the owner and group
// of the file called older, or its group alone where the owner cannot be
// kept; 0 where neither can be and older's group may read or write it.
// ownerKept tells whether both were.
bool giveOwner(FILE* f, const t_folder* folder, const char* older, bool* ownerKept);
// Gives a complete new file the mode, access control list and other
// attributes of the regular file called older (setuid and setgid only where
// its owner was kept), or those of any new file made with mode if no regular
// file is there.
bool giveAttributes(FILE* f, const t_folder* folder, const char* older, bool unnamed,
                   bool ownerKept, const t_new_mode* mode);
// Puts the file called from, still open as kept, in the place of to,
// whatever stood there. errno EACCES where another program holds to or
// access is denied; another where the medium fails.
bool replaceInFolder(const t_folder* folder, t_file_handle kept, const char* from, const char* to);
// Renames from to to where nothing stands at to: errno EEXIST where something
// does, as replaceInFolder's otherwise.
bool renameUnreplacing(const t_folder* folder, t_file_handle kept, const char* from,
                       const char* to);
// Whether a failed call's errno says the medium is full (a quota too).
bool isMediumFull(int error);
// Safe in a signal handler.
void removeInFolder(const t_folder* folder, const char* name);
// Reserves the output's space at once where the system can; a hint only.
void reserveSpace(FILE* f, uint64_t size);

// ---- Folders: listed, and where the zone files stand

// The folder of the compiled IANA zone files: TZDIR where it is set, else the
// system's (on Windows, zoneinfo beside the program).
bool zoneFolder(char* path, size_t size);
// What the program puts between a folder and a name it joins.
extern const char FOLDER_SEPARATOR;
// Whether path leads to a folder, every link on the way judged by the
// kernel's rule.
bool isFolderPath(const char* path);
// Adds the names in the folder at path, in no order: of its regular files
// and of the links in it (to be judged when opened) to files, and of its
// folders, never of a link to one.
bool listFolder(const char* path, std::vector<std::string>* files,
                std::vector<std::string>* folders);
// Adds the files that a pattern with * or ? matches, sorted, where the shell
// leaves that to the program (Windows; none where nothing matches); else the
// pattern as it is.
void expandWildcards(const char* pattern, std::vector<std::string>* paths);

// ---- Interrupts: every signal that would end the run, on Windows Ctrl-C,
// Ctrl-Break and the console being closed. What to do of one is the
// handler's, which the run hands over; these calls know nothing of files.

// What the run's handler makes of an interrupt.
enum t_interrupt_action {
    INTERRUPT_DEFERRED,     // the run goes on: its work was only asked to stop
    INTERRUPT_ENDS,         // the run ends as the interrupt ends it
    INTERRUPT_ENDS_CLEANED, // the same, after the handler removed files in flight
};
// Called in a signal handler, or in the console's own thread: safe there.
// mayDefer is false where the run ends whatever it answers (the console
// being closed).
typedef t_interrupt_action (*t_interrupt_handler)(int interrupt, bool mayDefer);
// Installs handler, once, before any conversion. The run then ends as
// interrupted: on POSIX by the same signal, so that the shell sees it; on
// Windows as Ctrl-C ends a program, with exit status 1 once files were removed.
// A signal ignored from the start stays ignored.
void catchInterrupts(t_interrupt_handler handler);
// Ends the run as the interrupt would have: on POSIX by the same signal.
void endAsInterrupted(int interrupt);
// While held, an interrupt to this thread waits; it takes effect when released.
void holdInterrupts();
void releaseInterrupts();
// A file-size limit then fails a write instead of ending the run.
void ignoreFileSizeLimit();

// ---- Console

// Replaces the arguments by their UTF-8 form where the system holds them in
// another; where that fails, they stay as the C runtime gave them.
void utf8Arguments(int* argc, char*** argv);
// As fprintf; a Windows console is written in Unicode, so that every name
// shows as given.
void printText(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

bool isTerminal(FILE* stream);
// The width of the terminal stream is, read at each call; 0 where unknown.
int terminalWidth(FILE* stream);
// Whether the run may draw on the terminal stream is: not while it is in the background.
bool inForeground(FILE* stream);
// Whether an argument asks for help as the system's own programs do (/? on Windows).
bool asksForHelp(const char* argument);
// On Windows, where the run has a console window of its own (a folder
// dropped onto the program), waits for a key before the window closes.
void keepConsoleOpen();

#endif
