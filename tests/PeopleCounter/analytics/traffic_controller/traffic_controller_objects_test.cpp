#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "PeopleCounter/analytics/traffic_controller/src/traffic_controller.h"
#include "PeopleCounter/analytics/traffic_controller/traffic_controller_harness.h"

namespace {

constexpr int kW = 160;
constexpr int kH = 120;

// Tracked points as the tracker would report them, each with its own attached-object slot. With
// the uniform perspective a point's y is its input row.
class PointFeed {
public:
    // Adds or moves the path `key` to (x, y); valid as given.
    void Set(int key, int x, int y, bool valid = true)
    {
        m_slots.emplace(key, nullptr);
        m_state[key] = {x, y, valid};
    }
    void Remove(int key)
    {
        m_state.erase(key);
        m_slots.erase(key);
    }

    std::vector<IPoint> Points()
    {
        std::vector<IPoint> points;
        for (auto& entry : m_state) {
            IPoint p{};
            p.x = entry.second.x;
            p.y = entry.second.y;
            p.ID = entry.first;
            p.valid = entry.second.valid;
            p.diameter = 5;
            p.attached_object = &m_slots[entry.first];
            p.stationary_flags = 0;
            points.push_back(p);
        }
        return points;
    }
    void* Slot(int key) { return m_slots[key]; }

private:
    struct State {
        int x, y;
        bool valid;
    };
    std::map<int, State> m_state;
    std::map<int, void*> m_slots;
};

// The object steps of one frame, in the controller's order; good flow for every object.
void Frame(CTrafficController& c, PointFeed& feed, bool good_flow = true)
{
    c.DeleteUnusedObjects();
    std::vector<IPoint> points = feed.Points();
    c.DeleteInfoPointsByNext(points);
    c.ReinitInfoPoints();
    c.ProcessFeaturePoints(points);
    c.CompileObjects(points);
    c.DeleteInfoPointsByErase(points);
    c.UpdateObjectsInContainer();
    std::map<int64_t, bool> flow;
    for (const ObjectData& object : c.GetObjectList()) flow[object.id] = good_flow;
    c.ApplyOpticFlow(flow);
    c.UpdateIntersections();
}

// Moves path 1 to (x, y) and runs a frame.
void Step(CTrafficController& c, PointFeed& feed, int x, int y, bool good_flow = true)
{
    feed.Set(1, x, y);
    Frame(c, feed, good_flow);
}

std::vector<int> Crossed(const CTrafficController& c, int64_t id = 1)
{
    const auto found = c.GetObjectList().find(id);
    return found == c.GetObjectList().end() ? std::vector<int>{99} : found->crossed_lines;
}

const ObjectData& Object(const CTrafficController& c, int64_t id = 1)
{
    return *c.GetObjectList().find(id);
}

const std::string kOneLine = "[MonoPeopleCounter]\nlines=[[[0.0,0.5],[1.0,0.5]]]\n";

TEST(CTrafficControllerObjectsTest, CrossingsInOneAndInTwoSteps)
{
    struct Case {
        const char* name;
        std::vector<int> rows;                  // the point's row per frame
        std::vector<std::vector<int>> crossed;  // crossed lines after each frame
        int settlings;                          // frames in which the point settled on a side
    };
    const Case cases[] = {
        {"down in one step", {50, 70, 80}, {{}, {1}, {1}}, 1},
        {"up in one step", {70, 50, 40}, {{}, {-1}, {-1}}, 1},
        {"down, stopping on the line", {50, 60, 70, 80}, {{}, {}, {1}, {1}}, 1},
        // Back across the line the state returns to 0: no settling on the far side.
        {"down and back up", {50, 70, 50}, {{}, {1}, {}}, 1},
        {"down, back and down again", {50, 70, 50, 70}, {{}, {1}, {}, {1}}, 2},
        {"touching the line and back", {50, 60, 50}, {{}, {}, {}}, 0},
        {"along the line", {60, 60, 60}, {{}, {}, {}}, 0},
    };
    for (const Case& c : cases) {
        ControllerHarness h(kOneLine);
        h->InitImage(GreyFormat(kW, kH));
        PointFeed feed;
        int crossings_seen = 0;
        for (std::size_t f = 0; f < c.rows.size(); ++f) {
            Step(*h, feed, 40 + static_cast<int>(f) * 3, c.rows[f]);
            EXPECT_EQ(Crossed(*h), c.crossed[f]) << c.name << " frame " << f;
            crossings_seen += Object(*h).crossed_mask != 0;
            EXPECT_EQ(Object(*h).in, !c.crossed[f].empty() && c.crossed[f][0] > 0) << c.name;
            EXPECT_EQ(Object(*h).out, !c.crossed[f].empty() && c.crossed[f][0] < 0) << c.name;
        }
        // The crossing mask is set only in the frame of each settling.
        EXPECT_EQ(crossings_seen, c.settlings) << c.name;
        EXPECT_EQ(h->GetLines()[0].crossings, c.settlings) << c.name;
        EXPECT_EQ(Object(*h).alarmed, c.settlings > 0) << c.name;
    }
}

TEST(CTrafficControllerObjectsTest, CrossingWaitsForAGoodFlow)
{
    ControllerHarness h(kOneLine);
    h->InitImage(GreyFormat(kW, kH));
    PointFeed feed;
    Step(*h, feed, 40, 50);
    Step(*h, feed, 40, 70, false);  // the step across the line with a bad flow
    EXPECT_TRUE(Crossed(*h).empty());
    EXPECT_EQ(Object(*h).pending_mask, 1u);
    EXPECT_EQ(Object(*h).alarmed, 0);
    Step(*h, feed, 40, 80, true);  // a good flow later does not accept the old crossing
    EXPECT_TRUE(Crossed(*h).empty());
    EXPECT_EQ(Object(*h).pending_mask, 1u);
    Step(*h, feed, 40, 50, true);  // back across: no settling
    EXPECT_TRUE(Crossed(*h).empty());
    EXPECT_EQ(Object(*h).pending_mask, 1u);
    Step(*h, feed, 40, 70, true);  // the next crossing of the line is accepted
    EXPECT_EQ(Crossed(*h), (std::vector<int>{1}));
    EXPECT_EQ(Object(*h).pending_mask, 0u);
    EXPECT_EQ(Object(*h).alarmed, 1);
    EXPECT_EQ(Object(*h).alarmed_lines.back(), -1);
    EXPECT_EQ(Object(*h).alarmed_lines.size(), 2u);

    // Without the filter, the flow does not matter.
    ControllerHarness off(kOneLine + "optic_flow_shift_filter_enabled=false\n");
    off->InitImage(GreyFormat(kW, kH));
    PointFeed feed2;
    Step(*off, feed2, 40, 50, false);
    Step(*off, feed2, 40, 70, false);
    EXPECT_EQ(Crossed(*off), (std::vector<int>{1}));
}

TEST(CTrafficControllerObjectsTest, InvalidPointsGiveSkipRecordsAndVanishedPathsEndTheirObjects)
{
    ControllerHarness h(kOneLine);
    h->InitImage(GreyFormat(kW, kH));
    PointFeed feed;
    feed.Set(1, 40, 30);
    feed.Set(2, 100, 30);
    Frame(*h, feed);
    ASSERT_EQ(h->GetObjectList().size(), 2u);
    const int32_t box_before[4] = {Object(*h).box[0], Object(*h).box[1], Object(*h).box[2], Object(*h).box[3]};
    EXPECT_EQ(Object(*h).active, 0);  // a new object becomes active at its first update
    Frame(*h, feed);
    EXPECT_EQ(Object(*h).active, 1);

    // Point 1 leaves the image, point 2 turns invalid: both objects stay, inactive, with their boxes.
    feed.Set(1, -5, 30);
    feed.Set(2, 100, 40, false);
    Frame(*h, feed);
    ASSERT_EQ(h->GetObjectList().size(), 2u);
    for (int64_t id : {1, 2}) {
        EXPECT_EQ(Object(*h, id).seen, 1);
        EXPECT_EQ(Object(*h, id).active, 0);
        ASSERT_NE(Object(*h, id).info, nullptr);
        EXPECT_EQ(Object(*h, id).info->skip, 1);
    }
    EXPECT_EQ(Object(*h, 1).box[0], box_before[0]);
    EXPECT_NE(feed.Slot(1), nullptr);  // the InfoPoint is kept

    // Path 2 ends: its object is unseen now and gone at the start of the next frame.
    feed.Remove(2);
    Frame(*h, feed);
    ASSERT_EQ(h->GetObjectList().count(2), 1u);
    EXPECT_EQ(Object(*h, 2).seen, 0);
    EXPECT_EQ(Object(*h, 2).info, nullptr);
    Frame(*h, feed);
    EXPECT_EQ(h->GetObjectList().count(2), 0u);
    EXPECT_EQ(h->GetObjectList().count(1), 1u);

    // A new path gets the next identifier.
    feed.Set(3, 20, 20);
    Frame(*h, feed);
    EXPECT_EQ(h->GetObjectList().rbegin()->id, 3);
}

// A point keeps its object for as long as its path lives, wherever it goes: a counted person who
// walks to the picture's edge (here the last rows, partly out of the picture) and comes back
// through the line stays one object, whose crossings cancel.
TEST(CTrafficControllerObjectsTest, CountedPointKeepsItsObjectAtThePictureEdge)
{
    const struct {
        const char* name;
        std::vector<int> rows;        // path 1's row per frame
        std::vector<int> last_lines;  // crossed lines of its object at the end
    } cases[] = {
        {"counted, to the edge and back through the line", {50, 70, 90, 110, 118, 110, 90, 50}, {}},
        {"counted, to the edge and staying there", {50, 70, 90, 110, 118, 118}, {1}},
    };
    for (const auto& c : cases) {
        ControllerHarness h(kOneLine);
        h->InitImage(GreyFormat(kW, kH));
        PointFeed feed;
        for (std::size_t f = 0; f < c.rows.size(); ++f) {
            Step(*h, feed, 4, c.rows[f]);  // along the left edge as well
            EXPECT_EQ(static_cast<InfoPoint*>(feed.Slot(1))->id, 1) << c.name << " frame " << f;
        }
        EXPECT_EQ(h->GetObjectList().size(), 1u) << c.name;
        EXPECT_EQ(Crossed(*h, 1), c.last_lines) << c.name;
    }
}

TEST(CTrafficControllerObjectsTest, SidesOfSeveralLinesCancelAndNoLinesCountNothing)
{
    // Line 1 left to right at row 60, line 2 right to left at row 60 in the right half.
    ControllerHarness two("[MonoPeopleCounter]\nlines=[[[0.0,0.5],[1.0,0.5]],[[1.0,0.5],[0.5,0.5]]]\n");
    two->InitImage(GreyFormat(kW, kH));
    PointFeed feed;
    Step(*two, feed, 120, 50);
    Step(*two, feed, 120, 70);
    EXPECT_EQ(Object(*two).positive_mask, 1u);
    EXPECT_EQ(Object(*two).negative_mask, 2u);
    EXPECT_TRUE(Crossed(*two).empty());
    EXPECT_EQ(Object(*two).in, 0);
    EXPECT_EQ(Object(*two).out, 0);
    EXPECT_EQ(two->GetLines()[0].positive_points, 1);
    EXPECT_EQ(two->GetLines()[1].negative_points, 1);

    ControllerHarness none("[MonoPeopleCounter]\nlines=[]\n");
    none->InitImage(GreyFormat(kW, kH));
    PointFeed feed2;
    Step(*none, feed2, 120, 50);
    Step(*none, feed2, 120, 70);
    EXPECT_TRUE(Crossed(*none).empty());
    EXPECT_EQ(Object(*none).in + Object(*none).out, 0);
}

TEST(CTrafficControllerObjectsTest, RecordsOfTheObjects)
{
    ControllerHarness h(kOneLine);
    h->InitImage(GreyFormat(kW, kH));
    std::vector<PeopleCountingPODObjData> records(3);
    h->GetObjects(records);
    EXPECT_TRUE(records.empty());

    PointFeed feed;
    feed.Set(1, 40, 50);
    feed.Set(2, 100, 10);
    Frame(*h, feed);
    Step(*h, feed, 40, 70);
    h->GetObjects(records);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].id, 1);
    EXPECT_EQ(records[0].in, 1);
    ASSERT_EQ(records[0].crossed_lines_count, 1);
    EXPECT_EQ(records[0].crossed_lines[0], 1);
    EXPECT_EQ(records[0].alarmed, 1);
    EXPECT_EQ(records[0].alarmed_count, 2);
    EXPECT_EQ(records[1].id, 2);
    EXPECT_EQ(records[1].crossed_lines_count, 0);
    EXPECT_EQ(records[1].crossed_lines, nullptr);
    ASSERT_EQ(records[1].alarmed_count, 1);
    EXPECT_EQ(records[1].alarmed_lines[0], -1);
    // The box: the radius is the mean distance to the points r = 16 rows above (cut at row 0: 10)
    // and below (16), 13; the box is cut to the image.
    EXPECT_EQ(records[1].box[0], 87);
    EXPECT_EQ(records[1].box[1], 0);
    EXPECT_EQ(records[1].box[2], 113);
    EXPECT_EQ(records[1].box[3], 23);
    for (const auto& record : records) EXPECT_EQ(record.height, 0);
}

}  // namespace
