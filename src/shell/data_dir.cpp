// data_dir.cpp -- the search for the demo's data folder; see data_dir.h.
#include "shell/data_dir.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

const char kUnsetVariable[] = "$TESSERA_DATA_DIR (not set)";

// The folder the running executable lies in, from /proc/self/exe (which
// already has every symbolic link resolved); empty when it cannot be read.
fs::path executableDir() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : exe.parent_path();
}

}  // namespace

// Builds the ordered list of places, absolute and normalised, so that the
// error line and the chdir use the very same names.
std::vector<std::string> dataDirCandidates(const char* buildRoot, const char* fromExe, const char* installedFromExe) {
    std::vector<std::string> places;
    std::error_code error;
    const fs::path cwd = fs::current_path(error);
    places.push_back(error ? std::string(".") : cwd.string());
    const char* variable = std::getenv("TESSERA_DATA_DIR");
    if (variable && *variable)
        places.push_back(fs::absolute(variable, error).lexically_normal().string());
    else
        places.push_back(kUnsetVariable);
    const fs::path exeDir = executableDir();
    if (!exeDir.empty()) {
        if (buildRoot && fromExe && fs::is_regular_file(exeDir / buildRoot / "CMakeCache.txt", error))
            places.push_back((exeDir / fromExe).lexically_normal().string());
        places.push_back((exeDir / installedFromExe).lexically_normal().string());
    }
    for (std::string& place : places)
        if (place.size() > 1 && place.back() == '/') place.pop_back();
    return places;
}

// The music file must be there as a file; the pictures' folder must be
// there, though a picture missing from it only leaves its effect untextured.
bool holdsDemoData(const std::string& dir) {
    std::error_code error;
    return fs::is_regular_file(fs::path(dir) / "music" / "mix.mp3", error) &&
           fs::is_directory(fs::path(dir) / "textures", error);
}

// Picks the first place that holds the data and changes to it; otherwise
// writes the one line that names every place looked at.
bool enterDataDir(const char* program, const char* buildRoot, const char* fromExe, const char* installedFromExe) {
    const std::vector<std::string> places = dataDirCandidates(buildRoot, fromExe, installedFromExe);
    for (const std::string& place : places) {
        if (place == kUnsetVariable || !holdsDemoData(place)) continue;
        if (chdir(place.c_str()) == 0) return true;
        std::perror((std::string(program) + ": cannot change to " + place).c_str());
        return false;
    }
    std::string list;
    for (const std::string& place : places) list += (list.empty() ? "" : ", ") + place;
    std::fprintf(stderr, "%s: no music/mix.mp3 and textures/ in any of: %s\n", program, list.c_str());
    return false;
}
