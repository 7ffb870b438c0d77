// Folders on Windows: listed, made, and the wildcards cmd leaves to the program.
#include <algorithm>
#include <cstring>
#include <io.h>
#include <windows.h>

#include "../system.h"

static int toWide(const char* text, wchar_t* wide, int size)
{
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, size) > 0;
}

static std::string toUtf8(const wchar_t* wide)
{
    char text[4 * MAX_PATH];

    return WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, NULL, NULL) > 0
           ? std::string(text) : std::string();
}

// The files, not folders, that pattern matches; their names after folder.
static int findFiles(const char* pattern, const std::string& folder,
                     std::vector<std::string>* names)
{
    wchar_t wide[32768];
    WIN32_FIND_DATAW found;

    if (!toWide(pattern, wide, 32768))
        return 0;
    HANDLE search = FindFirstFileExW(wide, FindExInfoBasic, &found, FindExSearchNameMatch, NULL, 0);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        std::string name = toUtf8(found.cFileName);
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !name.empty())
            names->push_back(folder + name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return 1;
}

static std::string folderPart(const std::string& path)
{
    size_t end = path.find_last_of("/\\:");
    return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

int isFolderPath(const char* path)
{
    wchar_t wide[32768];
    DWORD attributes = toWide(path, wide, 32768) ? GetFileAttributesW(wide)
                                                 : INVALID_FILE_ATTRIBUTES;

    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int listFolder(const char* path, std::vector<std::string>* names)
{
    std::string folder = path;

    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\')
        folder += '/';
    return findFiles((folder + "*").c_str(), folder, names);
}

// cmd hands * and ? over as they are.
int expandWildcards(const char* pattern, std::vector<std::string>* paths)
{
    size_t before = paths->size();

    if (strpbrk(pattern, "*?") == NULL || !findFiles(pattern, folderPart(pattern), paths) ||
        paths->size() == before)
        paths->push_back(pattern);
    std::sort(paths->begin() + before, paths->end());
    return 1;
}

// A drive, a share (\\nas\noc) or a part that stands already cannot be made:
// the one result that counts is whether the whole path is a folder then.
int makeFolders(const char* path)
{
    wchar_t wide[32768];
    std::string prefix;

    for (const char* c = path; ; c++) {
        if ((*c == '/' || *c == '\\' || *c == '\0') && toWide(prefix.c_str(), wide, 32768))
            CreateDirectoryW(wide, NULL);
        if (*c == '\0')
            break;
        prefix += *c;
    }
    return isFolderPath(path);
}

int isTerminal(FILE* stream)
{
    DWORD mode;

    return GetConsoleMode((HANDLE)_get_osfhandle(_fileno(stream)), &mode) != 0;
}

int pathExists(const char* path)
{
    wchar_t wide[32768];

    return toWide(path, wide, 32768) && GetFileAttributesW(wide) != INVALID_FILE_ATTRIBUTES;
}
