// paint_main.cpp -- tessera-paint: writes the demo's pictures as JPEG files.
//
// Usage: tessera-paint <textures-dir> [name ...]
// With no names it writes all fifteen. The build runs it into the assets
// folder; the same inputs give the same bytes on every run.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "canvas.h"
#include "lettering.h"
#include "picture_list.h"
#include "pictures.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tessera-paint <textures-dir> [name ...]\n");
        return 2;
    }
    std::string directory = argv[1];
    std::vector<std::string> wanted(argv + 2, argv + argc);

    struct stat info {};
    if (stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        std::fprintf(stderr, "tessera-paint: the output folder %s does not exist\n", directory.c_str());
        return 1;
    }

    std::string reason;
    if (!openTypefaces(&reason)) {
        std::fprintf(stderr, "tessera-paint: %s\n", reason.c_str());
        return 1;
    }

    std::vector<const PictureInfo*> jobs;
    for (const std::string& name : wanted) {
        const PictureInfo* found = nullptr;
        for (const PictureInfo& info : kPictures)
            if (name == info.name) found = &info;
        if (!found) {
            std::fprintf(stderr, "tessera-paint: no picture is called %s\n", name.c_str());
            return 2;
        }
        jobs.push_back(found);
    }
    if (wanted.empty())
        for (const PictureInfo& info : kPictures) jobs.push_back(&info);

    // Pictures are independent; paint them on two threads (the build machine
    // has two cores). Each result depends only on its own painter, so the
    // bytes do not depend on the scheduling.
    auto start = std::chrono::steady_clock::now();
    std::vector<int> failed(jobs.size(), 0);
    std::vector<std::string> reasons(jobs.size());
    auto worker = [&](size_t first) {
        for (size_t i = first; i < jobs.size(); i += 2) {
            Canvas canvas;
            if (!paintPicture(*jobs[i], &canvas, &reasons[i])) {
                failed[i] = 1;
                continue;
            }
            bool chessboard = jobs[i]->use == PictureUse::Chessboard;
            std::string path = directory + "/" + jobs[i]->name + ".jpg";
            if (!writeJpeg(canvas, path, chessboard ? kChessboardJpegQuality : kJpegQuality)) {
                failed[i] = 1;
                reasons[i] = "cannot write " + path;
            }
        }
    };
    std::thread second(worker, 1);
    worker(0);
    second.join();

    int status = 0;
    for (size_t i = 0; i < jobs.size(); ++i) {
        if (failed[i]) {
            std::fprintf(stderr, "tessera-paint: %s: %s\n", jobs[i]->name, reasons[i].c_str());
            status = 1;
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status == 0) std::printf("tessera-paint: %zu pictures in %.2f s\n", jobs.size(), seconds);
    return status;
}
