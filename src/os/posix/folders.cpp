// Folders on a POSIX system: listed and made; the shell expands wildcards.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "posix_files.h"

const char FOLDER_SEPARATOR = '/';

bool isFolderPath(const char* path)
{
    t_folder folder;
    bool found = openFolderPath(path, WALK_FOLLOW_LAST, &folder) == WALK_DONE;

    closeFolder(&folder);
    return found;
}

// A link is not followed here, so that no type is tested through another
// user's link: opening it judges it.
bool listFolder(const char* path, std::vector<std::string>* files,
                std::vector<std::string>* folders)
{
    t_folder held;
    int fd = openFolderPath(path, WALK_FOLLOW_LAST, &held) == WALK_DONE
             ? openat(held.fd, ".", O_RDONLY | O_DIRECTORY) : -1;
    DIR* folder = fd >= 0 ? fdopendir(fd) : NULL;
    struct stat info;

    closeFolder(&held);
    if (folder == NULL) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    for (struct dirent* entry; (entry = readdir(folder)) != NULL;) {
        const char* name = entry->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0 ||
            fstatat(dirfd(folder), name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(info.st_mode))
            folders->push_back(name);
        else if (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode))
            files->push_back(name);
    }
    closedir(folder);
    return true;
}

// The shell has expanded them.
void expandWildcards(const char* pattern, std::vector<std::string>* paths)
{
    paths->push_back(pattern);
}

bool zoneFolder(char* path, size_t size)
{
    const char* given = getenv("TZDIR");
    const char* folder = given != NULL && given[0] != '\0' ? given : "/usr/share/zoneinfo";

    return snprintf(path, size, "%s", folder) < (int)size;
}
