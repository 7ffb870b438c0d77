#include "night.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "os/system.h"

static int endsInKvr(const std::string& path)
{
    const char* name = baseName(path.c_str());
    size_t length = strlen(name);

    return length > 4 && name[length - 4] == '.' && tolower((unsigned char)name[length - 3]) == 'k' &&
           tolower((unsigned char)name[length - 2]) == 'v' &&
           tolower((unsigned char)name[length - 1]) == 'r';
}

int collectPictures(const char* source, std::vector<std::string>* pictures)
{
    std::vector<std::string> found;

    if (!isFolderPath(source))
        return expandWildcards(source, pictures);
    if (!listFolder(source, &found))
        return 0;
    found.erase(std::remove_if(found.begin(), found.end(),
                               [](const std::string& path) { return !endsInKvr(path); }),
                found.end());
    std::sort(found.begin(), found.end());
    pictures->insert(pictures->end(), found.begin(), found.end());
    return 1;
}

std::string outputPath(const std::string& folder, const std::string& picture)
{
    std::string name = baseName(picture.c_str());
    size_t dot = name.rfind('.');

    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    // A folder that ends in a separator of this system takes no other.
    std::string joined = folder;
    if (*baseName(folder.c_str()) != '\0')
        joined += '/';
    return joined + name + ".fit";
}
