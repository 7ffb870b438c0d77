// Folders on a POSIX system: listed and made; the shell expands wildcards.
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../system.h"

int isFolderPath(const char* path)
{
    struct stat info;

    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

int listFolder(const char* path, std::vector<std::string>* names)
{
    DIR* folder = opendir(path);
    std::string prefix = path;
    struct stat info;

    if (folder == NULL)
        return 0;
    if (!prefix.empty() && prefix.back() != '/')
        prefix += '/';
    for (struct dirent* entry; (entry = readdir(folder)) != NULL;)
        if (fstatat(dirfd(folder), entry->d_name, &info, 0) == 0 && S_ISREG(info.st_mode))
            names->push_back(prefix + entry->d_name);
    closedir(folder);
    return 1;
}

// The shell has expanded them.
int expandWildcards(const char* pattern, std::vector<std::string>* paths)
{
    paths->push_back(pattern);
    return 1;
}

// A part of the path that stands already, or cannot be made, is judged by the
// one result that counts: whether the whole path is a folder then.
int makeFolders(const char* path)
{
    std::string prefix;

    for (const char* c = path; *c != '\0'; c++) {
        if (*c == '/' && !prefix.empty())
            mkdir(prefix.c_str(), 0777);
        prefix += *c;
    }
    mkdir(path, 0777);
    return isFolderPath(path);
}

int isTerminal(FILE* stream)
{
    return isatty(fileno(stream));
}

int pathExists(const char* path)
{
    struct stat info;

    return lstat(path, &info) == 0;
}
