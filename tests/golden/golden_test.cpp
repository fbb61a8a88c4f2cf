// Every exported class must reproduce its stored golden outputs bit for bit (see
// testkit/golden.h). After an intended change of results, rewrite the files with
//     build/vesper_golden [CLASS...]
// and commit them with the change.
#include "testkit/golden.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <set>

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

// A shader that read uninitialised memory or kept data between calls would give
// a second run different bytes; goldens of such a class would be meaningless.
TEST_P(Golden, RunsAreRepeatable) {
    const std::vector<vgolden::Outcome> first = vgolden::runClass(library(), GetParam());
    const std::vector<vgolden::Outcome> second = vgolden::runClass(library(), GetParam());
    EXPECT_TRUE(vgolden::compare(vgolden::formatClass(GetParam(), first), second).empty());
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

// The comparison itself: a changed byte, call or lookup must be reported with the
// case, the operation and the field or entry that changed.
TEST(GoldenCompare, ReportsEveryKindOfChange) {
    ASSERT_FALSE(library().classes().empty());
    std::vector<vgolden::Outcome> outs;
    for (const std::string& cls : library().classes()) {
        outs = vgolden::runClass(library(), cls);
        // A class that calls its services in case 0, so that every section is exercised.
        if (outs.size() > 1 && !outs[1].calls.empty()) break;
    }
    ASSERT_GT(outs.size(), 1u);
    outs.erase(outs.begin());  // the registrations
    const std::string text = vgolden::formatClass("X", outs);
    EXPECT_TRUE(vgolden::compare(text, outs).empty());

    std::vector<vgolden::Outcome> changed = outs;
    changed[0].after.outColor.y += 1.0f;
    std::vector<std::string> d = vgolden::compare(text, changed);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].rfind(outs[0].key + ": ", 0), 0u) << d[0];
    EXPECT_NE(d[0].find("outColor"), std::string::npos) << d[0];

    changed = outs;
    changed[0].after.skipHit = changed[0].before.skipHit ^ 1;
    d = vgolden::compare(text, changed);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_NE(d[0].find("skipHit"), std::string::npos) << d[0];

    if (!outs[0].calls.empty()) {
        changed = outs;
        changed[0].calls += " 14(3f000000)";
        d = vgolden::compare(text, changed);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_NE(d[0].find("service calls"), std::string::npos) << d[0];
    }

    changed = outs;
    changed[0].lookups += " t1(00000000,00000000)";
    d = vgolden::compare(text, changed);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_NE(d[0].find("texture lookups"), std::string::npos) << d[0];

    // One bit inside a run written as a count and a hash.
    changed = outs;
    changed[0].lookups =
        " t1(00000000,00000000) t1(00000000,00000000) t1(00000000,00000000)"
        " t1(00000000,00000000) t1(00000000,00000000)";
    const std::string runs = vgolden::formatClass("X", changed);
    changed[0].lookups[changed[0].lookups.size() - 2] = '1';
    d = vgolden::compare(runs, changed);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_NE(d[0].find("texture lookups (entry 0: expected t1*5#"), std::string::npos) << d[0];

    changed = outs;
    changed.pop_back();
    d = vgolden::compare(text, changed);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_NE(d[0].find("no longer produced"), std::string::npos) << d[0];
}

// Which NaN an operation returns is not a result; whether it is a NaN is.
TEST(GoldenCompare, NaNsCompareAsOneValueButNotAsNumbers) {
    std::vector<vgolden::Outcome> outs = vgolden::runClass(library(), library().classes()[0]);
    ASSERT_FALSE(outs.empty());
    outs[0].after.outColor.x = std::numeric_limits<float>::quiet_NaN();
    const std::string text = vgolden::formatClass("X", outs);
    std::vector<vgolden::Outcome> other = outs;
    other[0].after.outColor.x = -std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(vgolden::compare(text, other).empty());
    other[0].after.outColor.x = 0.0f;
    EXPECT_EQ(vgolden::compare(text, other).size(), 1u);
}

}  // namespace
