// A plan and its runners, round trip. Any tool paths, scene path and name,
// out-dir, format, options, frame size and tile count, with the frames of any
// scene document (an animation, or a wedge of any values), either make a plan or
// are refused. A plan made must be what the runners take as exactly its
// declared tasks (scripts/cluster/plan-tasks.sh: the header's count, that many
// task lines and the merge, none empty), and each of its lines one simple
// command whose words are the paths and options as they were given: nothing in
// a name can start a second command. A name a plan cannot carry must be
// refused, and everything else planned.
//
// Input: the fields, drawn by FuzzedDataProvider (strings end at a lone
// backslash), then the scene document.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/json_reader.h"
#include "host/reference/limits.h"
#include "host/reference/plan.h"
#include "host/reference/scene_loader.h"

namespace {

#define REQUIRE(condition)                                               \
    do {                                                                 \
        if (!(condition)) {                                              \
            std::fprintf(stderr, "fuzz_plan: failed: %s\n", #condition); \
            std::abort();                                                \
        }                                                                \
    } while (0)

// The words of `line` as a POSIX shell reads them; false unless the line is one
// simple command of plain words and quoted strings. Outside quotes only the
// characters shellQuote leaves plain are taken: any other could end the command,
// redirect, expand or start a comment.
bool shellWords(const std::string& line, std::vector<std::string>& words) {
    auto plain = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string("_-./,:+@%").find(c) != std::string::npos;
    };
    words.clear();
    bool inWord = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == ' ') {
            inWord = false;
            continue;
        }
        if (!inWord) words.emplace_back();
        inWord = true;
        if (c == '\'') {
            size_t end = line.find('\'', i + 1);
            if (end == std::string::npos) return false;
            words.back() += line.substr(i + 1, end - i - 1);
            i = end;
        } else if (c == '\\' && i + 1 < line.size() && line[i + 1] == '\'') {
            words.back() += line[++i];
        } else if (plain(c)) {
            words.back() += c;
        } else {
            return false;
        }
    }
    return !words.empty();
}

// The text split as the runners' line readers (sed, awk, xargs -d '\n') split it.
std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        out.push_back(text.substr(start, end - start));
    }
    REQUIRE(start == text.size());  // the last line ends in a newline
    return out;
}

// The count the header declares when the plan-tasks.sh rules hold, else -1.
int64_t declaredTasks(const std::vector<std::string>& plan) {
    const std::string prefix = "# vesper-render plan: ", suffix = " tasks, then the merge";
    const std::string& h = plan.empty() ? prefix : plan[0];
    if (h.size() <= prefix.size() + suffix.size() || h.compare(0, prefix.size(), prefix) != 0 ||
        h.compare(h.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return -1;
    }
    std::string digits = h.substr(prefix.size(), h.size() - prefix.size() - suffix.size());
    if (digits.size() > 7 || digits[0] == '0' ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    int64_t n = std::stoll(digits);
    for (const std::string& l : plan) {
        if (l.empty()) return -1;
    }
    return static_cast<int64_t>(plan.size()) == n + 2 ? n : -1;
}

struct Input {
    vrender::PlanRequest request;
    bool safe = true;  // every text may go into a plan
};

Input draw(FuzzedDataProvider& in) {
    Input x;
    vrender::PlanRequest& p = x.request;
    auto text = [&](const char* prefix) {
        std::string s = prefix + in.ConsumeRandomLengthString(48);
        x.safe = x.safe && vrender::planUnsafe(s).empty();
        return s;
    };
    p.render = text("/");
    p.merge = text("/");
    p.scene = text("/");
    p.name = text("");
    p.outDir = text("/");
    p.format = text("");
    for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n) {
        p.pass.push_back(text("--"));
        p.pass.push_back(text(""));
    }
    p.width = in.ConsumeIntegralInRange(1, 64);
    p.height = in.ConsumeIntegralInRange(1, 64);
    p.tiles = in.ConsumeIntegralInRange(1, 80);
    try {
        nlohmann::json doc = vhost::readJson(in.ConsumeRemainingBytesAsString());
        p.frames = vrender::readFrames(doc, "fuzz.json");
        p.framed = doc.is_object() && (doc.contains("animation") || doc.contains("wedge"));
    } catch (const std::exception&) {
        // A document whose frames are refused is never planned: plan one frame.
    }
    return x;
}

// Task `k` of the plan as its words: the tool, the scene, the frame, the
// region and the tile's file, then the options as given.
void checkTask(const vrender::PlanRequest& p, const std::vector<std::string>& w, int64_t k,
               std::set<std::string>& outputs) {
    size_t at = 0;
    auto next = [&](const std::string& expected) { REQUIRE(at < w.size() && w[at++] == expected); };
    next(p.render);
    next("--scene");
    next(p.scene);
    if (p.framed) {
        next("--frame");
        next(std::to_string(k / p.tiles));
    }
    next("--region");
    REQUIRE(at < w.size() && w[at++].find_first_not_of("0123456789,") == std::string::npos);
    next("--out");
    REQUIRE(at < w.size() && w[at].rfind(p.outDir + "/tiles/" + p.name, 0) == 0);
    REQUIRE(outputs.insert(w[at++]).second);
    for (const std::string& a : p.pass) next(a);
    REQUIRE(at == w.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Input x = draw(in);
    const vrender::PlanRequest& p = x.request;
    int64_t tasks = int64_t{p.frames.count} * p.tiles;
    if (tasks > 4096) return 0;  // linear in tasks; large plans only cost time here
    bool splits = true;
    try {
        vrender::splitFrame(p.width, p.height, p.tiles);
    } catch (const std::invalid_argument&) {
        splits = false;
    }
    std::vector<std::string> plan;
    try {
        plan = vrender::planLines(p);
    } catch (const std::invalid_argument&) {
        REQUIRE(!x.safe || !splits);
        return 0;
    }
    REQUIRE(x.safe && splits);
    std::string text;
    for (const std::string& l : plan) text += l + "\n";
    plan = lines(text);
    REQUIRE(declaredTasks(plan) == tasks);
    std::set<std::string> outputs;
    std::vector<std::string> words;
    for (int64_t k = 0; k < tasks; ++k) {
        REQUIRE(shellWords(plan[static_cast<size_t>(k) + 1], words));
        checkTask(p, words, k, outputs);
    }
    REQUIRE(shellWords(plan.back(), words));
    REQUIRE(words.size() == (p.frames.values.empty() ? 9u : 11u) && words[0] == p.merge);
    REQUIRE(words[2] == std::to_string(p.frames.count) && words[4] == std::to_string(p.tiles));
    return 0;
}
