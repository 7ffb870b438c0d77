// What a program over many pictures asks the system: folders listed and made,
// wildcards expanded, whether a stream is a terminal. Paths are UTF-8.
#ifndef TORVAN_OS_FOLDERS_H
#define TORVAN_OS_FOLDERS_H

#include <cstdio>
#include <string>
#include <vector>

// Whether path leads to a folder.
int isFolderPath(const char* path);
// Adds the path of every regular file in the folder at path, in no order.
int listFolder(const char* path, std::vector<std::string>* names);
// Adds the files that a pattern with * or ? matches, sorted, where the shell
// leaves that to the program (Windows); else, or where nothing matches, the
// pattern as it is.
int expandWildcards(const char* pattern, std::vector<std::string>* paths);
// Makes the folder at path with every missing parent; 1 when it is a folder then.
int makeFolders(const char* path);
int isTerminal(FILE* stream);
// Whether anything stands at path, a link to nothing included.
int pathExists(const char* path);

#endif
