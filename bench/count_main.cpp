// vesper_count: a fixed workload per class, operation and setting, bracketed for
// callgrind so that scripts/count-instructions.py can count the instructions of
// exactly those calls. Outside valgrind it just runs the calls.
//
//     vesper_count [--library PATH] [--calls N] [--list] [CLASS...]
//
// For each workload: a warm-up, then N calls with collection switched on, then a
// dump named "<class> <operation> <setting> <N>". With no class named, every
// exported class runs.
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/workload.h"

namespace {

constexpr long kWarmUpCalls = 64;

// Kept out of line so that the loop's own instructions sit in this program and
// not in the library's share of the count.
__attribute__((noinline)) void measure(void* shader, int slot, vbench::FastServices& services,
                                       pxs::ShadingState& state, long calls) {
    CALLGRIND_TOGGLE_COLLECT;
    vbench::callRepeatedly(shader, slot, services, state, calls);
    CALLGRIND_TOGGLE_COLLECT;
}

int usage() {
    std::fprintf(stderr, "usage: vesper_count [--library PATH] [--calls N] [--list] [CLASS...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = vhost::Library::defaultPath();
    long calls = 1000;
    bool list = false;
    std::vector<std::string> classes;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--library" && i + 1 < argc) {
            path = argv[++i];
        } else if (a == "--calls" && i + 1 < argc) {
            calls = std::strtol(argv[++i], nullptr, 10);
            if (calls <= 0) return usage();
        } else if (a == "--list") {
            list = true;
        } else if (!a.empty() && a[0] == '-') {
            return usage();
        } else {
            classes.push_back(a);
        }
    }
    vhost::Library library(path);
    if (!library.loaded()) {
        std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), library.error().c_str());
        return 1;
    }
    if (list) {
        for (const std::string& c : library.classes()) std::printf("%s\n", c.c_str());
        return 0;
    }
    if (classes.empty()) classes = library.classes();

    int failures = 0;
    for (const std::string& c : classes) {
        for (vbench::Setting s : {vbench::Setting::kDefault, vbench::Setting::kRich}) {
            vbench::Workload w(library, c, s);
            if (!w.ok()) {
                std::fprintf(stderr, "cannot create %s\n", c.c_str());
                ++failures;
                break;
            }
            for (const vbench::Operation& op : w.operations()) {
                vbench::FastServices services(w.lightCount());
                pxs::ShadingState state = w.state();
                vbench::callRepeatedly(w.shader(), op.slot, services, state, kWarmUpCalls);
                measure(w.shader(), op.slot, services, state, calls);
                const std::string label =
                    c + " " + op.name + " " + vbench::settingName(s) + " " + std::to_string(calls);
                CALLGRIND_DUMP_STATS_AT(label.c_str());
                std::printf("%s\n", label.c_str());
            }
        }
    }
    return failures ? 1 : 0;
}
