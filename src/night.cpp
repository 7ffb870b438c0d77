#include "night.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

#include "calendar.h"
#include "input_file.h"
#include "os/system.h"

static bool endsInKvr(const std::string& name)
{
    size_t length = name.size();

    return length > 4 && name[length - 4] == '.' && tolower((unsigned char)name[length - 3]) == 'k' &&
           tolower((unsigned char)name[length - 2]) == 'v' &&
           tolower((unsigned char)name[length - 1]) == 'r';
}

// A folder that ends in a separator of this system takes no other.
static std::string joinPath(const std::string& folder, const std::string& name)
{
    return *baseName(folder.c_str()) == '\0' ? folder + name : folder + FOLDER_SEPARATOR + name;
}

t_source_found collectPictures(const char* source, std::vector<std::string>* pictures,
                               bool* subfolders)
{
    std::vector<std::string> files, folders;
    size_t before = pictures->size();

    if (!isFolderPath(source)) {
        expandWildcards(source, pictures);
        return pictures->size() > before ? SOURCE_PICTURES : SOURCE_NOTHING;
    }
    if (!listFolder(source, &files, &folders))
        return SOURCE_UNLISTABLE;
    std::sort(files.begin(), files.end());
    for (const std::string& name : files)
        if (endsInKvr(name))
            pictures->push_back(joinPath(source, name));
    *subfolders = *subfolders || !folders.empty();
    return pictures->size() > before ? SOURCE_PICTURES : SOURCE_NOTHING;
}

// The picture's name with the last extension, if any, replaced by .fit.
static std::string outputName(const std::string& picture)
{
    std::string name = baseName(picture.c_str());
    size_t dot = name.rfind('.');

    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name + ".fit";
}

static bool converts(const std::string& source)
{
    t_input input = {};
    bool converting = openInput(&input, source.c_str(), NULL);

    closeInput(&input);
    return converting;
}

// Each picture of a run of names that fold alike names the next one of them
// that converts; one that does not convert clashes with none and fails for
// what it is.
static void markClashes(std::vector<t_picture>* pictures, const std::vector<size_t>& alike)
{
    std::vector<size_t> converting;

    for (size_t i : alike)
        if (converts((*pictures)[i].source))
            converting.push_back(i);
    for (size_t k = 0; converting.size() > 1 && k < converting.size(); k++)
        (*pictures)[converting[k]].clash =
            (*pictures)[converting[(k + 1) % converting.size()]].source.c_str();
}

// Sorted by the folded name, outputs that clash stand side by side: a night of
// thousands takes no longer to check than to list, and only the few alike are
// opened.
static void findClashes(std::vector<t_picture>* pictures)
{
    std::vector<std::pair<std::string, size_t>> folded;

    for (size_t i = 0; i < pictures->size(); i++) {
        std::string name = (*pictures)[i].output;
        for (char& c : name)
            c = (char)tolower((unsigned char)c);
        folded.emplace_back(name, i);
    }
    std::sort(folded.begin(), folded.end());
    for (size_t k = 0, end; k < folded.size(); k = end) {
        std::vector<size_t> alike;
        for (end = k; end < folded.size() && folded[end].first == folded[k].first; end++)
            alike.push_back(folded[end].second);
        if (alike.size() > 1)
            markClashes(pictures, alike);
    }
}

// A picture once, its output in the plan's folder number folder.
static void addPicture(const std::string& source, size_t folder, t_night_plan* plan,
                       std::set<std::string>* taken)
{
    if (!taken->insert(source).second)
        return;
    std::string output = joinPath(plan->folders[folder], outputName(source));
    size_t name = output.size() - strlen(baseName(output.c_str()));
    plan->pictures.push_back({source, output, name, folder, plan->nights, NULL});
}

// A folder's pictures into the output folder at relative below the first,
// then, in a tree, its subfolders' into theirs; how many pictures it gave.
static size_t planFolder(const std::string& source, const std::string& relative, bool recursive,
                         t_night_plan* plan, std::set<std::string>* taken, bool* subfolders)
{
    std::vector<std::string> files, folders;
    size_t before = plan->pictures.size(), folder = 0;

    if (!listFolder(source.c_str(), &files, &folders)) {
        plan->notes.push_back({source, SOURCE_UNLISTABLE, false});
        return 0;
    }
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    plan->nights++;
    if (!relative.empty()) {   // a tree's folders are each below the first once
        folder = plan->folders.size();
        plan->folders.push_back(joinPath(plan->folders[0], relative));
    }
    for (const std::string& name : files)
        if (endsInKvr(name))
            addPicture(joinPath(source, name), folder, plan, taken);
    *subfolders = !folders.empty();
    for (size_t i = 0; recursive && i < folders.size(); i++)
        planFolder(joinPath(source, folders[i]),
                   relative.empty() ? folders[i] : joinPath(relative, folders[i]), true, plan,
                   taken, subfolders);
    return plan->pictures.size() - before;
}

void planNight(const std::vector<const char*>& sources, const char* folder, bool recursive,
               t_night_plan* plan)
{
    std::set<std::string> taken;

    plan->folders.push_back(folder);
    for (const char* source : sources) {
        std::vector<std::string> files;
        bool subfolders = false;
        size_t given = plan->pictures.size();
        if (isFolderPath(source)) {
            size_t notes = plan->notes.size();
            if (planFolder(source, "", recursive, plan, &taken, &subfolders) == 0 &&
                plan->notes.size() == notes)
                plan->notes.push_back({source, SOURCE_NOTHING, subfolders && !recursive});
            continue;
        }
        expandWildcards(source, &files);
        plan->nights++;
        for (const std::string& file : files)
            addPicture(file, 0, plan, &taken);
        if (plan->pictures.size() == given && files.empty())
            plan->notes.push_back({source, SOURCE_NOTHING, false});
    }
    findClashes(&plan->pictures);
}

// A frame of the night for its order: where it stands in the night, and its
// capture time as the clock shows it.
struct t_ordered_frame {
    size_t index;
    size_t night;          // frames of one night only are ordered together
    const t_kvr_header* header;
};

// The pass of each frame in an hour shown twice, by the night's order (the
// frames' names): a time that goes back within that hour begins the second
// pass. passes keeps PASS_UNKNOWN where the order cannot tell, as for frames
// that never go back.
// An hour shown twice in one night: its frames so far, and whether a time
// went back within it.
struct t_shown_twice {
    size_t night;
    int64_t change;
    int64_t last;
    bool wentBack;
};

static void orderPasses(const t_station_clock* clock, const std::vector<t_ordered_frame>& frames,
                 std::vector<t_pass>* passes)
{
    std::vector<t_shown_twice> hours;
    std::vector<std::pair<size_t, size_t>> met;   // a frame's place in passes, and its hour
    std::vector<bool> afterStep;

    for (size_t f = 0; clock->kind == CLOCK_ZONE && f < frames.size(); f++) {
        const t_ordered_frame& frame = frames[f];
        int64_t reading = readingSeconds(frame.header);
        t_local_resolution resolution = resolveLocal(clock->zone, reading);
        if (resolution.kind != LOCAL_REPEATED)
            continue;
        size_t hour = 0;
        while (hour < hours.size() &&
               (hours[hour].night != frame.night || hours[hour].change != resolution.change))
            hour++;
        if (hour == hours.size())
            hours.push_back({frame.night, resolution.change, reading, false});
        hours[hour].wentBack = hours[hour].wentBack || reading < hours[hour].last;
        hours[hour].last = reading;
        met.emplace_back(frame.index, hour);
        afterStep.push_back(hours[hour].wentBack);
    }
    for (size_t i = 0; i < met.size(); i++)
        if (hours[met[i].second].wentBack)
            (*passes)[met[i].first] = afterStep[i] ? PASS_SECOND : PASS_FIRST;
}

void planPasses(const t_night_plan* plan, const t_station_clock* clock, size_t night,
                std::vector<t_pass>* passes)
{
    const std::vector<t_picture>& pictures = plan->pictures;
    std::vector<t_kvr_header> headers(pictures.size());
    std::vector<t_ordered_frame> frames;

    for (size_t i = 0; clock->kind == CLOCK_ZONE && i < pictures.size(); i++) {
        if (pictures[i].night != night)
            continue;
        t_input input = {};
        const t_kvr_header* h = &input.header;
        if (openInput(&input, pictures[i].source.c_str(), NULL) &&
            dateExists(h->year, h->month, h->day)) {
            headers[i] = input.header;
            frames.push_back({i, pictures[i].night, &headers[i]});
        }
        closeInput(&input);
    }
    orderPasses(clock, frames, passes);
}
