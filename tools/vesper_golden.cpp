// vesper_golden: writes the golden outputs that tests/golden/golden_test.cpp
// checks, one file per exported class.
//
//     vesper_golden [--library PATH] [--dir DIR] [--check] [CLASS...]
//
// With no class named, every exported class is written. --check writes nothing
// and lists the differences instead (exit status 1 when there are any). A class
// whose two runs differ is not written: its outputs are not repeatable.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "testkit/golden.h"

namespace {

struct Options {
    std::string libraryPath = vhost::Library::defaultPath();
    std::string dir = vgolden::goldenDirectory();
    bool check = false;
    std::vector<std::string> classes;
};

// False on a usage error.
bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--library" && i + 1 < argc) {
            o.libraryPath = argv[++i];
        } else if (a == "--dir" && i + 1 < argc) {
            o.dir = argv[++i];
        } else if (a == "--check") {
            o.check = true;
        } else if (a == "-h" || a == "--help" || (!a.empty() && a[0] == '-')) {
            std::fprintf(
                stderr, "usage: vesper_golden [--library PATH] [--dir DIR] [--check] [CLASS...]\n");
            return false;
        } else {
            o.classes.push_back(a);
        }
    }
    return true;
}

// Lists how the outcomes differ from the stored file; false when they do.
bool check(const std::string& cls, bool exists, const std::string& stored,
           const std::vector<vgolden::Outcome>& outcomes) {
    if (!exists) {
        std::printf("%s: no golden file\n", cls.c_str());
        return false;
    }
    const std::vector<std::string> diffs = vgolden::compare(stored, outcomes);
    for (const std::string& d : diffs) std::printf("%s %s\n", cls.c_str(), d.c_str());
    return diffs.empty();
}

// Writes `text` unless the stored file holds it already; false when it cannot.
bool write(const std::string& cls, const std::string& path, bool exists, const std::string& stored,
           const std::string& text) {
    if (exists && stored == text) {
        std::printf("%s: unchanged\n", cls.c_str());
        return true;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
        std::fprintf(stderr, "%s: cannot write %s\n", cls.c_str(), path.c_str());
        return false;
    }
    std::printf("%s: %s %s\n", cls.c_str(), exists ? "updated" : "written", path.c_str());
    return true;
}

// Runs a class twice and checks or writes its golden file; false on a problem.
bool golden(const vhost::Library& library, const Options& o, const std::string& cls) {
    const std::vector<vgolden::Outcome> outcomes = vgolden::runClass(library, cls);
    if (outcomes.empty()) {
        std::fprintf(stderr, "%s: cannot create\n", cls.c_str());
        return false;
    }
    const std::string text = vgolden::formatClass(cls, outcomes);
    if (!vgolden::compare(text, vgolden::runClass(library, cls)).empty()) {
        std::fprintf(stderr, "%s: two runs differ; not written\n", cls.c_str());
        return false;
    }
    const std::string path = vgolden::goldenPath(o.dir, cls);
    std::string stored;
    const bool exists = vgolden::readFile(path, &stored);
    return o.check ? check(cls, exists, stored, outcomes) : write(cls, path, exists, stored, text);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) return 2;
    vhost::Library library(o.libraryPath);
    if (!library.loaded()) {
        std::fprintf(stderr, "cannot load %s: %s\n", o.libraryPath.c_str(),
                     library.error().c_str());
        return 1;
    }
    if (o.classes.empty()) o.classes = library.classes();
    int problems = 0;
    for (const std::string& cls : o.classes) problems += golden(library, o, cls) ? 0 : 1;
    return problems ? 1 : 0;
}
