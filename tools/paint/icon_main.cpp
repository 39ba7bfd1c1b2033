// icon_main.cpp -- tessera-icon: writes the program's icon at each size given
// (pixels a side; the build passes the icon theme's sizes) as
// <dir>/tessera-<size>.png.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "icon.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: tessera-icon <output-dir> <size>...\n");
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 1 || size > 1024) {
            std::fprintf(stderr, "tessera-icon: a size is 1 to 1024 pixels, not \"%s\"\n", argv[i]);
            return 2;
        }
        std::string reason;
        const std::string path = std::string(argv[1]) + "/tessera-" + std::to_string(size) + ".png";
        if (!writePngRgba(path, size, size, paintIcon(size), &reason)) {
            std::fprintf(stderr, "tessera-icon: %s\n", reason.c_str());
            return 1;
        }
    }
    return 0;
}
