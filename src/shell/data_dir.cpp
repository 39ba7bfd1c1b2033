// data_dir.cpp -- the search for the demo's data folder; see data_dir.h.
#include "shell/data_dir.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
// A folder without textures/ is not a data folder at all: the search goes on.
bool holdsDemoData(const std::string& dir, bool* denied) {
    std::error_code musicError, picturesError;
    const bool holds = fs::is_regular_file(fs::path(dir) / "music" / "mix.mp3", musicError) &&
                       fs::is_directory(fs::path(dir) / "textures", picturesError);
    if (denied)
        *denied = musicError == std::errc::permission_denied || picturesError == std::errc::permission_denied;
    return holds;
}

namespace {

// A path in double quotes, with quotes, backslashes and control characters
// escaped, so that the list of places stays one unambiguous line whatever
// the names hold (", " or a newline in $TESSERA_DATA_DIR).
std::string quoted(const std::string& path) {
    std::string out = "\"";
    for (const unsigned char c : path) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

}  // namespace

// Picks the first place that holds the data and changes to it; otherwise
// writes the one line that names every place looked at.
bool enterDataDir(const char* program, const char* buildRoot, const char* fromExe, const char* installedFromExe) {
    const std::vector<std::string> places = dataDirCandidates(buildRoot, fromExe, installedFromExe);
    std::string list;
    for (const std::string& place : places) {
        bool denied = false;
        if (place != kUnsetVariable && holdsDemoData(place, &denied)) {
            if (chdir(place.c_str()) == 0) return true;
            std::fprintf(stderr, "%s: cannot change to %s: %s\n", program, quoted(place).c_str(), std::strerror(errno));
            return false;
        }
        list += list.empty() ? "" : ", ";
        list += place == kUnsetVariable ? place : quoted(place) + (denied ? " (permission denied)" : "");
    }
    std::fprintf(stderr, "%s: no music/mix.mp3 and textures/ in any of: %s\n", program, list.c_str());
    return false;
}
