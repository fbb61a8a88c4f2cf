// Every exported class must reproduce its stored golden outputs bit for bit (see
// testkit/golden.h). After an intended change of results, rewrite the files with
//     build/vesper_golden [CLASS...]
// and commit them with the change.
#include "testkit/golden.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <limits>

#include "testkit/harness.h"

namespace {

using vtest::library;

std::string joined(const std::vector<std::string>& lines, size_t limit) {
    std::string out;
    for (size_t i = 0; i < lines.size() && i < limit; ++i) out += "\n  " + lines[i];
    if (lines.size() > limit) out += "\n  ... " + std::to_string(lines.size() - limit) + " more";
    return out;
}

class Golden : public ::testing::TestWithParam<std::string> {};

TEST_P(Golden, OutputsMatchTheStoredBytes) {
    const std::string& cls = GetParam();
    const std::string path = vgolden::goldenPath(vgolden::goldenDirectory(), cls);
    std::string stored;
    ASSERT_TRUE(vgolden::readFile(path, &stored))
        << "no golden outputs for " << cls << ": run `vesper_golden " << cls
        << "` (from the build directory) and commit " << path;

    const std::vector<vgolden::Outcome> outcomes = vgolden::runClass(library(), cls);
    ASSERT_FALSE(outcomes.empty()) << "cannot create " << cls;
    const std::vector<std::string> diffs = vgolden::compare(stored, outcomes);
    EXPECT_TRUE(diffs.empty()) << cls << " no longer reproduces " << diffs.size()
                               << " stored outputs:" << joined(diffs, 12)
                               << "\nIf the change is intended, run `vesper_golden " << cls
                               << "` and commit the file.";
}

INSTANTIATE_TEST_SUITE_P(Library, Golden, ::testing::ValuesIn(library().classes()),
                         [](const auto& info) { return info.param; });

TEST(GoldenFiles, EveryFileBelongsToAnExportedClass) {
    const std::vector<std::string>& classes = library().classes();
    for (const auto& entry : std::filesystem::directory_iterator(vgolden::goldenDirectory())) {
        if (entry.path().extension() != ".golden") continue;
        const std::string cls = entry.path().stem().string();
        EXPECT_TRUE(std::find(classes.begin(), classes.end(), cls) != classes.end())
            << entry.path() << " names no exported class: remove it";
    }
}

// The comparison itself: a changed byte, call or lookup, one bit inside a run
// written as a count and a hash, and a missing entry are reported with the entry
// and what changed; which NaN an operation returns is not a result.
TEST(GoldenCompare, ReportsEveryKindOfChange) {
    std::vector<vgolden::Outcome> outs;
    for (const std::string& cls : library().classes()) {
        outs = vgolden::runClass(library(), cls);
        if (outs.size() > 1 && !outs[1].calls.empty()) break;  // case 0 calls its services
    }
    ASSERT_GT(outs.size(), 1u);
    outs.erase(outs.begin());  // the registrations
    outs[0].lookups.clear();
    for (int i = 0; i < 5; ++i) outs[0].lookups += " t1(00000000,00000000)";
    outs[0].after.outColor.x = std::numeric_limits<float>::quiet_NaN();
    const std::string text = vgolden::formatClass("X", outs);
    const std::string key = outs[0].key + ": ";
    const std::pair<std::function<void(vgolden::Outcome&)>, const char*> cases[] = {
        {[](vgolden::Outcome& o) { o.after.outColor.x = -o.after.outColor.x; }, nullptr},
        {[](vgolden::Outcome& o) { o.after.outColor.x = 0.0f; }, "outColor"},
        {[](vgolden::Outcome& o) { o.after.skipHit = o.before.skipHit ^ 1; }, "skipHit"},
        {[](vgolden::Outcome& o) { o.calls += " 14(3f000000)"; }, "service calls"},
        {[](vgolden::Outcome& o) { o.lookups.end()[-2] = '1'; },
         "texture lookups (entry 0: expected t1*5#"},
    };
    EXPECT_TRUE(vgolden::compare(text, outs).empty());
    for (const auto& [change, report] : cases) {
        std::vector<vgolden::Outcome> changed = outs;
        change(changed[0]);
        const std::vector<std::string> d = vgolden::compare(text, changed);
        ASSERT_EQ(d.size(), report ? 1u : 0u) << (report ? report : "another NaN");
        if (!report) continue;
        EXPECT_EQ(d[0].rfind(key, 0), 0u) << d[0];
        EXPECT_NE(d[0].find(report), std::string::npos) << d[0];
    }
    outs.pop_back();
    const std::vector<std::string> d = vgolden::compare(text, outs);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_NE(d[0].find("no longer produced"), std::string::npos) << d[0];
}

}  // namespace
