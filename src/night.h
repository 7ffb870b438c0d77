// The pictures a command names, as kvrinfo and kvr2fits take them: a file as
// it is, a folder as every regular file in it whose name ends in .kvr in any
// case (not its subfolders), sorted by name; on Windows a name with * or ?
// as the files it matches.
#ifndef TORVAN_NIGHT_H
#define TORVAN_NIGHT_H

#include <string>
#include <vector>

// Adds the pictures of one source; 0 where a folder cannot be listed.
int collectPictures(const char* source, std::vector<std::string>* pictures);
// The output for a picture in folder: its name with the last extension, if
// any, replaced by .fit.
std::string outputPath(const std::string& folder, const std::string& picture);

#endif
