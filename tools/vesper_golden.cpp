// vesper_golden: writes the golden outputs that tests/golden/golden_test.cpp
// checks, one file per exported class.
//
//     vesper_golden [--library PATH] [--dir DIR] [--check] [CLASS...]
//
// With no class named, every exported class is written. --check writes nothing
// and lists the differences instead (exit status 1 when there are any). A class
// whose two runs differ is not written: its outputs are not repeatable.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "testkit/golden.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: vesper_golden [--library PATH] [--dir DIR] [--check] [CLASS...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string libraryPath = vhost::Library::defaultPath();
    std::string dir = vgolden::goldenDirectory();
    bool check = false;
    std::vector<std::string> classes;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--library" && i + 1 < argc) {
            libraryPath = argv[++i];
        } else if (a == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else if (a == "--check") {
            check = true;
        } else if (a == "-h" || a == "--help" || (!a.empty() && a[0] == '-')) {
            return usage();
        } else {
            classes.push_back(a);
        }
    }
    vhost::Library library(libraryPath);
    if (!library.loaded()) {
        std::fprintf(stderr, "cannot load %s: %s\n", libraryPath.c_str(), library.error().c_str());
        return 1;
    }
    if (classes.empty()) classes = library.classes();

    int problems = 0;
    for (const std::string& cls : classes) {
        const std::vector<vgolden::Outcome> outcomes = vgolden::runClass(library, cls);
        if (outcomes.empty()) {
            std::fprintf(stderr, "%s: cannot create\n", cls.c_str());
            ++problems;
            continue;
        }
        const std::string text = vgolden::formatClass(cls, outcomes);
        if (!vgolden::compare(text, vgolden::runClass(library, cls)).empty()) {
            std::fprintf(stderr, "%s: two runs differ; not written\n", cls.c_str());
            ++problems;
            continue;
        }
        const std::string path = vgolden::goldenPath(dir, cls);
        std::string stored;
        const bool exists = vgolden::readFile(path, &stored);
        if (check) {
            if (!exists) {
                std::printf("%s: no golden file\n", cls.c_str());
                ++problems;
                continue;
            }
            const std::vector<std::string> diffs = vgolden::compare(stored, outcomes);
            for (const std::string& d : diffs) std::printf("%s %s\n", cls.c_str(), d.c_str());
            problems += diffs.empty() ? 0 : 1;
            continue;
        }
        if (exists && stored == text) {
            std::printf("%s: unchanged\n", cls.c_str());
            continue;
        }
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out) {
            std::fprintf(stderr, "%s: cannot write %s\n", cls.c_str(), path.c_str());
            ++problems;
            continue;
        }
        std::printf("%s: %s %s\n", cls.c_str(), exists ? "updated" : "written", path.c_str());
    }
    return problems ? 1 : 0;
}
