// Folders on Windows: listed, made, and the wildcards cmd leaves to the program.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <io.h>

#include "windows_files.h"

const char FOLDER_SEPARATOR = '\\';

static std::string toUtf8(const wchar_t* wide)
{
    char text[4 * MAX_PATH];

    return WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, NULL, NULL) > 0
           ? std::string(text) : std::string();
}

// Every entry of the folder whose full path is wide, by its long name: the
// short name that FAT gives every file (C.KVR for c.kvrx) is never matched.
// A folder that is a link (a junction) is neither listed nor entered.
static bool listWide(const wchar_t* wide, std::vector<std::string>* files,
                     std::vector<std::string>* folders)
{
    wchar_t pattern[WIDE_PATH];
    WIN32_FIND_DATAW found;

    if (wcslen(wide) + 3 >= WIDE_PATH)
        return false;
    wcscpy(pattern, wide);
    if (pattern[wcslen(pattern) - 1] != L'\\')
        wcscat(pattern, L"\\");
    wcscat(pattern, L"*");
    HANDLE search = FindFirstFileExW(pattern, FindExInfoBasic, &found, FindExSearchNameMatch,
                                     NULL, 0);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        DWORD attributes = found.dwFileAttributes;
        std::string name = toUtf8(found.cFileName);
        bool dots = wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0;
        if (name.empty() || dots)
            continue;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            files->push_back(name);
        else if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && folders != NULL)
            folders->push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

bool isFolderPath(const char* path)
{
    DWORD attributes = fileAttributes(path);

    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool listFolder(const char* path, std::vector<std::string>* files,
                std::vector<std::string>* folders)
{
    wchar_t wide[WIDE_PATH];

    return widePath(path, wide) && listWide(wide, files, folders);
}

// As Windows matches a long name: * any run, ? any one character, case aside.
static bool matches(const wchar_t* pattern, const wchar_t* name)
{
    if (*pattern == 0)
        return *name == 0;
    if (*pattern == L'*')
        return matches(pattern + 1, name) || (*name != 0 && matches(pattern, name + 1));
    return *name != 0 && (*pattern == L'?' || towlower(*pattern) == towlower(*name)) &&
           matches(pattern + 1, name + 1);
}

// cmd hands * and ? over as they are: the folder part is listed and its files'
// long names matched, sorted.
void expandWildcards(const char* pattern, std::vector<std::string>* paths)
{
    const char* name = baseName(pattern);
    std::string folder(pattern, (size_t)(name - pattern));
    std::vector<std::string> files;
    wchar_t wideName[WIDE_PATH], wide[WIDE_PATH];

    if (strpbrk(name, "*?") == NULL) {
        paths->push_back(pattern);
        return;
    }
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wideName, WIDE_PATH) <= 0 ||
        !widePath(folder.empty() ? "." : folder.c_str(), wide) || !listWide(wide, &files, NULL))
        return;
    std::sort(files.begin(), files.end());
    for (const std::string& file : files) {
        wchar_t wideFile[WIDE_PATH];
        if (MultiByteToWideChar(CP_UTF8, 0, file.c_str(), -1, wideFile, WIDE_PATH) > 0 &&
            matches(wideName, wideFile))
            paths->push_back(folder + file);
    }
}

// A drive, a share (\\nas\noc) or a part that stands already cannot be made:
// the one result that counts is whether the whole path is a folder then.
bool makeFolders(const char* path)
{
    wchar_t wide[WIDE_PATH];

    if (!widePath(path, wide))
        return false;
    for (wchar_t* separator = wcschr(wide + 4, L'\\'); separator != NULL;
         separator = wcschr(separator + 1, L'\\')) {
        *separator = 0;
        CreateDirectoryW(wide, NULL);
        *separator = L'\\';
    }
    CreateDirectoryW(wide, NULL);
    return isFolderPath(path);
}

// The zip carries the zone files beside the programs, so that every host
// gives the same times.
bool zoneFolder(char* path, size_t size)
{
    wchar_t wide[WIDE_PATH];
    const char* given = getenv("TZDIR");
    DWORD length = GetModuleFileNameW(NULL, wide, WIDE_PATH);

    if (given != NULL && given[0] != '\0')
        return snprintf(path, size, "%s", given) < (int)size;
    if (length == 0 || length >= WIDE_PATH)
        return false;
    std::string program = toUtf8(wide);
    size_t folder = program.find_last_of('\\');
    if (program.empty() || folder == std::string::npos)
        return false;
    return snprintf(path, size, "%s\\zoneinfo", program.substr(0, folder).c_str()) < (int)size;
}
