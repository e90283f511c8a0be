// The single-camera sweep's scoring of a count against the truth, per person on the board, and
// its comparison of two counts scene by scene.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tools/mono_sweep/comparison.h"
#include "tools/mono_sweep/evaluation.h"
#include "tools/mono_sweep/scenes.h"

namespace {

using monosweep::Alarmed;

// Two people under a single camera: one walking down through the line, one walking up and, when
// `turning`, turning back 40 cm past it.
monosweep::NamedScene TwoPeople(bool turning)
{
    monosweep::NamedScene named{"test", "two people", {}};
    named.scene.rig.stereo = false;
    named.scene.frames = 300;
    scene::Person down, up;
    down.y0 = -210;
    down.y1 = 210;
    up.x0 = up.x1 = 40;
    up.y0 = 210;
    up.y1 = turning ? -40 : -210;
    up.return_after = turning ? 10 : -1;
    up.start_frame = 20;
    named.scene.people = {down, up};
    return named;
}

TEST(MonoSweepTest, ThePeoplesBoardsAreRightOnlyForObjectsOfTheirOwn)
{
    for (const bool turning : {false, true}) {
        const monosweep::NamedScene named = TwoPeople(turning);
        const std::vector<scene::Crossing> truth = scene::GroundTruth(named.scene);
        ASSERT_EQ(truth.size(), turning ? 3u : 2u);
        // The frame of the person's k-th pass.
        const auto at = [&](int person, int k) {
            for (const scene::Crossing& c : truth)
                if (c.person == person && k-- == 0)
                    return c.frame;
            return -1000;
        };
        const int in = at(0, 0), out = at(1, 0), back = at(1, 1);
        // Expected figures walking through and turning back, in that order.
        const struct {
            const char* name;
            std::vector<Alarmed> alarms;
            int missed, extra, board[2], right[2], shared;
        } cases[] = {
            {"own objects", {{in, 0, 1}, {out, 1, 2}, {back, 0, 2}, {290, 2, 1}, {290, 2, 2}}, 0, 0, {0, 0}, {2, 2}, 0},
            // The second person's point passes to the first: the object is taken off the board.
            {"one object", {{out, 1, 1}, {in, 0, 1}, {back, 0, 1}, {290, 2, 1}}, 0, 0, {2, 1}, {0, 0}, 1},
            // Counted 41 frames late: a miss and a false count, though the board shows the person.
            {"late", {{in + 41, 0, 1}, {out, 1, 2}, {back, 0, 2}, {290, 2, 1}, {290, 2, 2}}, 1, 1, {0, 0}, {1, 1}, 0},
            // The way back under an object of its own: one in and one out for nobody.
            {"back as a new object",
             {{in, 0, 1}, {out, 1, 2}, {back, 0, 3}, {290, 2, 1}, {290, 2, 2}, {290, 2, 3}},
             0,
             0,
             {0, 2},
             {2, 1},
             0},
        };
        for (const auto& c : cases) {
            std::vector<Alarmed> alarms;
            for (const Alarmed& a : c.alarms)
                if (a.frame >= 0)
                    alarms.push_back(a);
            const monosweep::SceneOutcome outcome = monosweep::Evaluate(named, alarms, false);
            const monosweep::Tally& t = outcome.tally;
            SCOPED_TRACE(std::string(c.name) + (turning ? ", turning back" : ", walking through"));
            EXPECT_EQ(t.missed, c.missed);
            EXPECT_EQ(t.extra, c.extra);
            EXPECT_EQ(t.board, c.board[turning]);
            EXPECT_EQ(t.straight_right + t.turning_right, c.right[turning]);
            EXPECT_EQ(t.shared_objects, c.shared);
            EXPECT_EQ(t.turning, turning ? 1 : 0);
            EXPECT_EQ(outcome.counted.size(), truth.size());
        }
    }
}

TEST(MonoSweepTest, ComparisonNamesEveryPassTheChangedCountMisses)
{
    const monosweep::NamedScene named = TwoPeople(true);
    const std::vector<scene::Crossing> truth = scene::GroundTruth(named.scene);
    const monosweep::SceneOutcome all = monosweep::Evaluate(named,
                                                            {{truth[0].frame, truth[0].incoming ? 0 : 1, 1},
                                                             {truth[1].frame, truth[1].incoming ? 0 : 1, 2},
                                                             {truth[2].frame, truth[2].incoming ? 0 : 1, 2}},
                                                            false);
    const monosweep::SceneOutcome fewer =
        monosweep::Evaluate(named, {{truth[0].frame, truth[0].incoming ? 0 : 1, 1}}, false);
    // Both counts go through the file format.
    std::stringstream file;
    file << monosweep::SceneLineHeader() << "\n"
         << monosweep::SceneLineText({"200/260 160x120 x1 two", all}) << "\n"
         << monosweep::SceneLineText({"200/260 160x120 x1 same", all}) << "\n";
    const std::vector<monosweep::SceneLine> base = monosweep::ReadSceneLines(file, "base");
    ASSERT_EQ(base.size(), 2u);
    EXPECT_EQ(base[0].outcome.alarms, all.alarms);
    EXPECT_EQ(base[0].outcome.tally.turning_right, all.tally.turning_right);

    std::ostringstream report;
    EXPECT_EQ(monosweep::Compare(base, {{"200/260 160x120 x1 two", fewer}, {"200/260 160x120 x1 same", all}}, report),
              2);
    EXPECT_NE(report.str().find("200/260 160x120 x1 two: LOST"), std::string::npos) << report.str();
    EXPECT_EQ(report.str().find("x1 same:"), std::string::npos) << report.str();
    EXPECT_NE(report.str().find("2 scenes in both counts, 1 differ"), std::string::npos) << report.str();

    std::istringstream broken("200/260 160x120 x1 two\t3\tx\n");
    EXPECT_THROW(monosweep::ReadSceneLines(broken, "broken"), std::runtime_error);
}

}  // namespace
