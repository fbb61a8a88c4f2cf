// vesper_bench: time every per-hit operation of every class the library exports,
// at the default and the rich setting (see workload.h), on one thread and on two
// threads sharing one shader object.
//
//     vesper_bench [--library=PATH] [Google Benchmark flags]
//
// Names read <class>/<operation>/<setting>/real_time/threads:<n>. Throughput is
// items_per_second (calls per second summed over the threads); bench/scaling.py
// turns a JSON run into the two-thread speed-up per benchmark.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/workload.h"
#include "host/slots.h"

namespace {

void runOperation(benchmark::State& bs, const vbench::Workload* w, int slot) {
    // Per thread, as a host runs it: its own services and state; the shader object is shared.
    vbench::FastServices services(w->lightCount());
    pxs::ShadingState state = w->state();
    void* shader = w->shader();
    for (auto _ : bs) {
        vhost::callPerHit(shader, slot, &services, &state);
        benchmark::ClobberMemory();
    }
    bs.SetItemsProcessed(bs.iterations());
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = vhost::Library::defaultPath();
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--library=", 10) == 0) {
            path = argv[i] + 10;
        } else {
            args.push_back(argv[i]);
        }
    }
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;

    vhost::Library library(path);
    if (!library.loaded()) {
        std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), library.error().c_str());
        return 1;
    }
    std::vector<std::unique_ptr<vbench::Workload>> workloads;
    for (const std::string& c : library.classes()) {
        for (vbench::Setting s : {vbench::Setting::kDefault, vbench::Setting::kRich}) {
            auto w = std::make_unique<vbench::Workload>(library, c, s);
            if (!w->ok()) {
                std::fprintf(stderr, "cannot create %s\n", c.c_str());
                continue;
            }
            for (const vbench::Operation& op : w->operations()) {
                const std::string name = c + "/" + op.name + "/" + vbench::settingName(s);
                benchmark::RegisterBenchmark(name.c_str(), runOperation, w.get(), op.slot)
                    ->UseRealTime()
                    ->Threads(1)
                    ->Threads(2);
            }
            workloads.push_back(std::move(w));
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
