#include "CommonUtilities/DebugInterfaces/debug_helper_base.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/algorithm_support/block_light.h"

// Outside any namespace, so that its readable type name is just its name.
class FallbackNamedBlock : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    using DebugHelperBase::GetContextForDebugInterfaces;
    using DebugHelperBase::Log;
    using DebugHelperBase::SetDebugInterfacesImpl;

    const void* HelperAddress() const { return static_cast<const BlockEntities::DebugHelperBase*>(this); }
};

namespace {

using BlockEntities::Context;
using BlockEntities::DebugInterfaces;

struct StoreCall {
    std::string context;
    std::vector<BlockEntities::Stats::Item> items;
};

class RecordingStorage : public BlockEntities::Stats::IStorage {
public:
    void Store(const Context& context, std::vector<BlockEntities::Stats::Item>::const_iterator begin,
               std::vector<BlockEntities::Stats::Item>::const_iterator end) override
    {
        calls.push_back({context.cached, std::vector<BlockEntities::Stats::Item>(begin, end)});
    }
    std::vector<StoreCall> calls;
};

class RecordingRegistry : public BlockEntities::DebugDraw::IRegisterVisualizer {
public:
    void RegisterVisualizer(const Context& context,
                            std::shared_ptr<BlockEntities::DebugDraw::IVisualizer> visualizer) override
    {
        contexts.push_back(context.cached);
        visualizers.push_back(std::move(visualizer));
    }
    std::vector<std::string> contexts;
    std::vector<std::shared_ptr<BlockEntities::DebugDraw::IVisualizer>> visualizers;
};

class NullVisualizer : public BlockEntities::DebugDraw::IVisualizer {
public:
    std::vector<std::string> PicturesList() const override { return {}; }
    bool IsPictureFullScreen(const std::string&) const override { return false; }
    void DrawOn(BlockEntities::DebugDraw::IDraw*, const std::string&) override {}
    std::vector<std::string> BitmapsList() const override { return {}; }
    cv::Mat* GetDebugBitmap(const std::string&) override { return nullptr; }
};

class TestBlock : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    using DebugHelperBase::GetContextForDebugInterfaces;
    using DebugHelperBase::GetDebugInterfaces;
    using DebugHelperBase::Log;
    using DebugHelperBase::SetDebugInterfacesImpl;
    using DebugHelperBase::SetterOfDebugInterfacesIdenticalToMy;
    using DebugHelperBase::StatScopedTimeCalculator;
    using DebugHelperBase::StatSpecialValueDouble;
    using DebugHelperBase::StatValueInt;
};

class VisualBlock : public TestBlock {
public:
    std::shared_ptr<BlockEntities::DebugDraw::IVisualizer> ThisClassVisualizer() override
    {
        return std::make_shared<NullVisualizer>();
    }
};

class DebugHelperBaseTest : public ::testing::Test {
protected:
    std::shared_ptr<RecordingLog> log = std::make_shared<RecordingLog>();
    std::shared_ptr<RecordingStorage> storage = std::make_shared<RecordingStorage>();
};

TEST_F(DebugHelperBaseTest, LineIsWrittenOnceWhenTheAccumulatorGoes)
{
    TestBlock root;
    BlockHighlevel::ChildBlock<TestBlock> counter("MonoPeopleCounter", root.GetChildrenRegistry());
    BlockHighlevel::ChildBlock<TestBlock> tracker("Tracker", counter.GetChildrenRegistry());
    BlockEntities::TraverseSetContexts(&root);
    tracker.SetDebugInterfacesImpl(DebugInterfaces(log, storage, nullptr));

    tracker.Log(kKivLogWarning);
    EXPECT_TRUE(log->lines.empty());

    tracker.Log(kKivLogWarning) << "lost " << 3 << " tracks";
    ASSERT_EQ(log->lines.size(), 1u);
    EXPECT_EQ(log->lines[0].level, kKivLogWarning);
    EXPECT_EQ(log->lines[0].context, "MonoPeopleCounter--Tracker");
    EXPECT_EQ(log->lines[0].text, "lost 3 tracks");
}

TEST_F(DebugHelperBaseTest, UnnamedBlockReportsUnderAStableFallbackName)
{
    FallbackNamedBlock block;
    block.SetDebugInterfacesImpl(DebugInterfaces(log, nullptr, nullptr));
    block.Log(kKivLogInfo) << "one";
    block.Log(kKivLogInfo) << "two";

    std::ostringstream expected;
    expected << "{FallbackNamedBlock AT 0x" << std::hex << reinterpret_cast<std::uintptr_t>(block.HelperAddress())
             << "}";
    ASSERT_EQ(log->lines.size(), 2u);
    EXPECT_EQ(log->lines[0].context, expected.str());
    EXPECT_EQ(log->lines[1].context, expected.str());

    block.SetDebugInterfacesImpl(DebugInterfaces(log, nullptr, nullptr));
    EXPECT_EQ(block.GetContextForDebugInterfaces().cached, expected.str());
}

TEST_F(DebugHelperBaseTest, EachStatisticsValueIsOneStoreOfOneItem)
{
    TestBlock block;
    block.GetModifiableContext().SetName("Counter");
    block.SetDebugInterfacesImpl(DebugInterfaces(nullptr, storage, nullptr));

    block.StatValueInt("frames", -12);
    block.StatSpecialValueDouble("brightness", 0.5, AlgoLibrary::StatUtils::SubjectOfInterest::Increment);

    ASSERT_EQ(storage->calls.size(), 2u);
    ASSERT_EQ(storage->calls[0].items.size(), 1u);
    EXPECT_EQ(storage->calls[0].context, "Counter");
    EXPECT_STREQ(storage->calls[0].items[0].name, "frames");
    EXPECT_EQ(storage->calls[0].items[0].kind, BlockEntities::Stats::kInteger);
    EXPECT_EQ(storage->calls[0].items[0].subject_of_interest, AlgoLibrary::StatUtils::SubjectOfInterest::Value);
    EXPECT_EQ(storage->calls[0].items[0].value.as_int, -12);
    ASSERT_EQ(storage->calls[1].items.size(), 1u);
    EXPECT_EQ(storage->calls[1].items[0].kind, BlockEntities::Stats::kDouble);
    EXPECT_EQ(storage->calls[1].items[0].subject_of_interest, AlgoLibrary::StatUtils::SubjectOfInterest::Increment);
    EXPECT_EQ(storage->calls[1].items[0].value.as_double, 0.5);
}

TEST_F(DebugHelperBaseTest, ScopedTimerStoresStartThenElapsedWhenTheLastCopyGoes)
{
    TestBlock block;
    block.SetDebugInterfacesImpl(DebugInterfaces(nullptr, storage, nullptr));
    {
        auto timer = block.StatScopedTimeCalculator("total_frame");
        ASSERT_EQ(storage->calls.size(), 1u);
        EXPECT_EQ(storage->calls[0].items[0].kind, BlockEntities::Stats::kTimerStart);
        EXPECT_EQ(static_cast<int>(storage->calls[0].items[0].subject_of_interest), 0);
        EXPECT_GT(storage->calls[0].items[0].value.as_int, 0);
        {
            auto copy = timer;
        }
        EXPECT_EQ(storage->calls.size(), 1u);
    }
    ASSERT_EQ(storage->calls.size(), 2u);
    EXPECT_STREQ(storage->calls[1].items[0].name, "total_frame");
    EXPECT_EQ(storage->calls[1].items[0].kind, BlockEntities::Stats::kTimerElapsed);
    EXPECT_EQ(storage->calls[1].items[0].subject_of_interest, AlgoLibrary::StatUtils::SubjectOfInterest::Value);
    EXPECT_GE(storage->calls[1].items[0].value.as_int, 0);
}

TEST_F(DebugHelperBaseTest, SetterHandsOutTheSinksOfItsCreationToTheWholeTree)
{
    TestBlock root;
    BlockHighlevel::ChildBlock<TestBlock> child("Child", root.GetChildrenRegistry());
    BlockEntities::TraverseSetContexts(&root);
    root.SetDebugInterfacesImpl(DebugInterfaces(log, storage, nullptr));
    auto setter = root.SetterOfDebugInterfacesIdenticalToMy();
    root.SetDebugInterfacesImpl(DebugInterfaces(nullptr, nullptr, nullptr));

    BlockEntities::Traverse<BlockEntities::IDebuggable>(&root, setter);

    child.Log(kKivLogInfo) << "from child";
    root.Log(kKivLogInfo) << "from root";
    ASSERT_EQ(log->lines.size(), 2u);
    EXPECT_EQ(log->lines[0].context, "Child");
    EXPECT_EQ(log->lines[1].text, "from root");
}

TEST_F(DebugHelperBaseTest, VisualizerIsRegisteredOnlyWithARegistry)
{
    auto registry = std::make_shared<RecordingRegistry>();
    VisualBlock block;
    block.GetModifiableContext().SetName("StereoPeopleCounter");
    block.SetDebugInterfacesImpl(DebugInterfaces(log, nullptr, nullptr));
    block.SetDebugInterfacesImpl(DebugInterfaces(log, nullptr, registry));
    ASSERT_EQ(registry->contexts.size(), 1u);
    EXPECT_EQ(registry->contexts[0], "StereoPeopleCounter");
    EXPECT_NE(registry->visualizers[0], nullptr);
}

TEST_F(DebugHelperBaseTest, ThreadDefaultsReachNewBlocksWhileTheyLive)
{
    auto defaults = std::make_shared<DebugInterfaces>(log, nullptr, nullptr);
    BlockEntities::DefaultThreadDebugInterfacesSetter setter(defaults);
    {
        TestBlock block;
        block.Log(kKivLogInfo) << "with defaults";
    }
    EXPECT_EQ(log->lines.size(), 1u);

    defaults.reset();
    TestBlock later;
    EXPECT_EQ(later.GetDebugInterfaces().log, nullptr);
    BlockEntities::DefaultThreadDebugInterfacesSetter clear{std::weak_ptr<DebugInterfaces>()};
}

}  // namespace
