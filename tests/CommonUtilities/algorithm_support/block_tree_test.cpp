#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "CommonUtilities/algorithm_support/block_light.h"
#include "CommonUtilities/algorithm_support/block_traverse.h"

namespace {

using BlockEntities::Context;
using BlockEntities::IAlgoEntityBase;

class Block : public BlockHighlevel::LightBlock<IAlgoEntityBase> {};

// An entity with children but neither parameters nor debug sinks.
class PlainEntity : public IAlgoEntityBase, public BlockEntities::ImplIHasChildren {
public:
    Context& GetModifiableContext() override { return m_context; }
    const Context& GetContext() const override { return m_context; }

private:
    Context m_context;
};

// An entity without a child list.
class LeafEntity : public IAlgoEntityBase {
public:
    Context& GetModifiableContext() override { return m_context; }
    const Context& GetContext() const override { return m_context; }

private:
    Context m_context;
};

Context MakeContext(std::vector<std::string> names)
{
    Context context;
    context.names = std::move(names);
    context.UpdateCachedNames();
    return context;
}

TEST(ContextTest, HierarchyNameSkipsEmptyEntries)
{
    EXPECT_EQ(MakeContext({"Tracker", "", "MonoPeopleCounter"}).cached, "MonoPeopleCounter--Tracker");
    EXPECT_EQ(MakeContext({"", "MonoPeopleCounter"}).cached, "MonoPeopleCounter");
    EXPECT_EQ(MakeContext({"", "", ""}).cached, "");
    EXPECT_EQ(MakeContext({"c", "b", "a"}).cached, "a--b--c");
}

TEST(ContextTest, SetHierarchyParentKeepsOwnNameAndReplacesAncestors)
{
    Context context;
    context.SetName("Tracker");
    const Context parent = MakeContext({"MonoPeopleCounter", ""});
    context.SetHierarchyParent(parent);
    const auto once = context.names;
    context.SetHierarchyParent(parent);
    EXPECT_EQ(context.names, once);
    EXPECT_EQ(context.names, (std::vector<std::string>{"Tracker", "MonoPeopleCounter", ""}));
    EXPECT_EQ(context.cached, "MonoPeopleCounter--Tracker");

    context.SetHierarchyParent(MakeContext({"StereoPeopleCounter"}));
    EXPECT_EQ(context.names, (std::vector<std::string>{"Tracker", "StereoPeopleCounter"}));
    EXPECT_EQ(context.cached, "StereoPeopleCounter--Tracker");
}

TEST(BlockTreeTest, TraverseTreeVisitsBreadthFirstWithRealParents)
{
    Block root;
    BlockHighlevel::ChildBlock<Block> a("A", root.GetChildrenRegistry());
    BlockHighlevel::ChildBlock<Block> b("B", root.GetChildrenRegistry());
    BlockHighlevel::ChildBlock<Block> a1("A1", a.GetChildrenRegistry());
    BlockHighlevel::ChildBlock<Block> a2("A2", a.GetChildrenRegistry());

    std::vector<std::pair<const IAlgoEntityBase*, const IAlgoEntityBase*>> visits;
    BlockEntities::detail::TraverseTree(
        &root, [&](IAlgoEntityBase* entity, const IAlgoEntityBase* parent) { visits.emplace_back(entity, parent); });

    const IAlgoEntityBase* r = &root;
    const IAlgoEntityBase* pa = &a;
    const IAlgoEntityBase* pb = &b;
    const IAlgoEntityBase* pa1 = &a1;
    const IAlgoEntityBase* pa2 = &a2;
    const std::vector<std::pair<const IAlgoEntityBase*, const IAlgoEntityBase*>> expected{
        {r, nullptr}, {pa, r}, {pb, r}, {pa1, pa}, {pa2, pa}};
    EXPECT_EQ(visits, expected);
}

TEST(BlockTreeTest, EmptyVisitorThrowsBadFunctionCall)
{
    Block root;
    EXPECT_THROW(BlockEntities::detail::TraverseTree(&root, nullptr), std::bad_function_call);
    Block child;
    root.RegisterChild(&child);
    EXPECT_THROW(root.ForEachAlgoEntityChild(nullptr), std::bad_function_call);
}

TEST(BlockTreeTest, TraverseSetContextsNamesTheWholeTree)
{
    Block root;
    BlockHighlevel::ChildBlock<Block> counter("MonoPeopleCounter", root.GetChildrenRegistry());
    BlockHighlevel::ChildBlock<Block> tracker("Tracker", counter.GetChildrenRegistry());
    BlockHighlevel::ChildBlock<Block> flow("OpticFlow", counter.GetChildrenRegistry());
    EXPECT_EQ(tracker.GetContext().cached, "Tracker");

    BlockEntities::TraverseSetContexts(&root);

    EXPECT_EQ(root.GetContext().cached, "");
    EXPECT_EQ(root.GetContext().names.size(), 1u);
    EXPECT_EQ(counter.GetContext().cached, "MonoPeopleCounter");
    EXPECT_EQ(tracker.GetContext().cached, "MonoPeopleCounter--Tracker");
    EXPECT_EQ(tracker.GetContext().names, (std::vector<std::string>{"Tracker", "MonoPeopleCounter", ""}));
    EXPECT_EQ(flow.GetContext().cached, "MonoPeopleCounter--OpticFlow");

    BlockEntities::TraverseSetContexts(&root);
    EXPECT_EQ(tracker.GetContext().names, (std::vector<std::string>{"Tracker", "MonoPeopleCounter", ""}));
}

TEST(BlockTreeTest, TraverseSkipsEntitiesWithoutInterfaceButVisitsTheirChildren)
{
    Block root;
    PlainEntity plain;
    plain.GetModifiableContext().SetName("Plain");
    root.RegisterChild(&plain);
    Block below_plain;
    below_plain.GetModifiableContext().SetName("BelowPlain");
    plain.RegisterChild(&below_plain);
    LeafEntity leaf;
    leaf.GetModifiableContext().SetName("Leaf");
    root.RegisterChild(&leaf);
    BlockEntities::TraverseSetContexts(&root);

    std::vector<std::string> visited;
    BlockEntities::Traverse<ParamsLib::IHasParameters>(
        &root, [&](ParamsLib::IHasParameters*, const Context& context) { visited.push_back(context.cached); });
    EXPECT_EQ(visited, (std::vector<std::string>{"", "Plain--BelowPlain"}));

    std::vector<std::string> all;
    BlockEntities::detail::TraverseTree(
        &root, [&](IAlgoEntityBase* entity, const IAlgoEntityBase*) { all.push_back(entity->GetContext().cached); });
    EXPECT_EQ(all, (std::vector<std::string>{"", "Plain", "Leaf", "Plain--BelowPlain"}));
}

class CountedBlock : public Block {
public:
    explicit CountedBlock(int* counter) : m_counter(counter) {}
    ~CountedBlock() override { ++*m_counter; }

private:
    int* m_counter;
};

TEST(ChildBlockPtrTest, ResetNamesRegistersAndOwnsTheChild)
{
    int destroyed = 0;
    Block root;
    {
        BlockHighlevel::ChildBlockPtr<IAlgoEntityBase> core("MonoPeopleCounter", root.GetChildrenRegistry());
        EXPECT_FALSE(core);
        int children = 0;
        root.ForEachAlgoEntityChild([&](IAlgoEntityBase*) { ++children; });
        EXPECT_EQ(children, 0);

        auto* child = new CountedBlock(&destroyed);
        core.reset(child);
        EXPECT_EQ(core.get(), child);
        EXPECT_EQ(child->GetContext().cached, "MonoPeopleCounter");
        std::vector<IAlgoEntityBase*> listed;
        root.ForEachAlgoEntityChild([&](IAlgoEntityBase* entity) { listed.push_back(entity); });
        EXPECT_EQ(listed, std::vector<IAlgoEntityBase*>{child});
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(ChildBlockPtrTest, SecondResetAndNullResetThrowAndKeepTheHeldObject)
{
    int destroyed = 0;
    BlockHighlevel::ChildBlockPtr<Block> empty("X", nullptr);
    try {
        empty.reset(nullptr);
        FAIL() << "reset(nullptr) must throw";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "You can reset ChildPtr only if previous value was nullptr");
    }
    EXPECT_FALSE(empty);

    BlockHighlevel::ChildBlockPtr<Block> core("Core", nullptr);
    auto* first = new CountedBlock(&destroyed);
    core.reset(first);
    auto second = std::make_unique<CountedBlock>(&destroyed);
    try {
        core.reset(second.get());
        FAIL() << "second reset must throw";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "You can reset ChildPtr only if previous value was nullptr");
    }
    EXPECT_EQ(core.get(), first);
    EXPECT_EQ(destroyed, 0);
}

class WithArgument : public Block {
public:
    explicit WithArgument(int& source) : value(source) {}
    int& value;
};

class VirtualBase : public Block {};
class OverVirtualBase : public virtual VirtualBase {};

TEST(ChildBlockTest, ForwardsArgumentsAndRegistersThroughVirtualBase)
{
    Block root;
    int source = 42;
    BlockHighlevel::ChildBlock<WithArgument> with_argument("Tracker", root.GetChildrenRegistry(), source);
    EXPECT_EQ(&with_argument.value, &source);
    BlockHighlevel::ChildBlock<OverVirtualBase> over_virtual("LKTracker", root.GetChildrenRegistry());

    std::vector<IAlgoEntityBase*> listed;
    root.ForEachAlgoEntityChild([&](IAlgoEntityBase* entity) { listed.push_back(entity); });
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0], static_cast<IAlgoEntityBase*>(&with_argument));
    EXPECT_EQ(listed[1], static_cast<IAlgoEntityBase*>(&over_virtual));
    EXPECT_EQ(listed[1]->GetContext().cached, "LKTracker");
}

}  // namespace
