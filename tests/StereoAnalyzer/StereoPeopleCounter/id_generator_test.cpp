#include "StereoAnalyzer/StereoPeopleCounter/id_generator.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(IDGeneratorTest, FirstAnalyserStartsAtOneAndARebuiltOneContinues)
{
    stereo::ObjectIdSequence run;
    {
        stereo::IDGenerator first(run);
        for (int expected = 1; expected <= 5; ++expected) EXPECT_EQ(first.GenerateNextObjectID(), expected);
        EXPECT_EQ(first.PeekNextObjectID(), 6);
    }
    // The analyser built after an angle change: the ids of the first one are still known downstream.
    stereo::IDGenerator second(run);
    EXPECT_EQ(second.GenerateNextObjectID(), 6);
    EXPECT_EQ(second.GenerateNextObjectID(), 7);
}

TEST(IDGeneratorTest, AnalysersOfTheServiceShareOneSequence)
{
    stereo::IDGenerator first;
    const int a = first.GenerateNextObjectID();
    stereo::IDGenerator second;
    EXPECT_EQ(second.GenerateNextObjectID(), a + 1);
    EXPECT_EQ(first.GenerateNextObjectID(), a + 2);
    EXPECT_GE(a, 1);
}

TEST(IDGeneratorTest, NeverHandsOutZeroOrNegativeIds)
{
    stereo::ObjectIdSequence near_end(std::numeric_limits<int>::max() - 1);
    stereo::IDGenerator ids(near_end);
    EXPECT_EQ(ids.GenerateNextObjectID(), std::numeric_limits<int>::max());
    EXPECT_EQ(ids.GenerateNextObjectID(), 1);
    EXPECT_EQ(ids.GenerateNextObjectID(), 2);
}

}  // namespace
