// icon_main.cpp -- tessera-icon: writes the program's icon at every size of
// kIconSizes as <dir>/tessera-<size>.png, for the desktop's icon theme.
#include <cstdio>
#include <string>

#include "icon.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tessera-icon <output-dir>\n");
        return 2;
    }
    for (int size : kIconSizes) {
        std::string reason;
        const std::string path = std::string(argv[1]) + "/tessera-" + std::to_string(size) + ".png";
        if (!writePngRgba(path, size, size, paintIcon(size), &reason)) {
            std::fprintf(stderr, "tessera-icon: %s\n", reason.c_str());
            return 1;
        }
    }
    return 0;
}
