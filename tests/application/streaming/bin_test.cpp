#include "application/streaming/bin.h"

#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <glibmm/error.h>
#include <gstreamermm/elementfactory.h>

#include "application/streaming/streaming_test_support.h"

namespace {

using streaming_test::LogCapture;
using ::testing::ElementsAre;

Glib::RefPtr<Gst::Element> MakeElement(const std::string& factory, const std::string& name)
{
    return Gst::ElementFactory::create_element(factory, name);
}

// Direct children of the pipeline of one GObject type ("GstTee") or derived from it, oldest first.
std::vector<GstElement*> Children(const Glib::RefPtr<Gst::Pipeline>& pipeline, const std::string& type_name)
{
    const GType type = g_type_from_name(type_name.c_str());
    std::vector<GstElement*> children;
    for (GList* item = GST_BIN_CHILDREN(GST_BIN(pipeline->gobj())); item; item = item->next) {
        if (type != 0 && g_type_is_a(G_OBJECT_TYPE(item->data), type))
            children.insert(children.begin(), GST_ELEMENT(item->data));  // bins keep children newest first
    }
    return children;
}

std::vector<std::string> ChildNames(const Glib::RefPtr<Gst::Pipeline>& pipeline, const std::string& type_name)
{
    std::vector<std::string> names;
    for (GstElement* element : Children(pipeline, type_name)) names.push_back(GST_OBJECT_NAME(element));
    return names;
}

GstElement* OnlyChild(const Glib::RefPtr<Gst::Pipeline>& pipeline, const std::string& type_name)
{
    auto children = Children(pipeline, type_name);
    return children.size() == 1 ? children.front() : nullptr;
}

std::vector<std::string> SrcPadNames(GstElement* element)
{
    std::vector<std::string> names;
    for (GList* item = element->srcpads; item; item = item->next) names.push_back(GST_OBJECT_NAME(item->data));
    return names;
}

std::string PeerParentName(const Glib::RefPtr<Gst::Element>& element, const std::string& pad_name)
{
    auto pad = element->get_static_pad(pad_name);
    GstPad* peer = pad ? gst_pad_get_peer(pad->gobj()) : nullptr;
    if (!peer)
        return "unlinked";
    GstObject* parent = gst_pad_get_parent(peer);
    std::string name = parent ? GST_OBJECT_NAME(parent) : "none";
    if (parent)
        gst_object_unref(parent);
    gst_object_unref(peer);
    return name;
}

std::string ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const streaming::BinException& error) {
        return error.what();
    }
    return "no error";
}

class BinTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(streaming::InitGstreamer()); }
};

TEST(BinExceptionTest, NamesTheBin)
{
    streaming::BinException error("Unable to link pads", "video_capture");
    EXPECT_STREQ(error.what(), "Bin [video_capture]: Unable to link pads");
    EXPECT_EQ(error.GetBinName(), "video_capture");
}

TEST_F(BinTest, PipelinesFromTextAreNamedAfterTheBin)
{
    streaming::Bin empty("empty", "");
    auto pipeline = empty.GetPipeline();
    EXPECT_EQ(pipeline->get_name(), "pi_empty");
    EXPECT_THAT(ChildNames(pipeline, "GstIdentity").size(), 1u);
    empty.AddElement(MakeElement("fakesink", "out"));
    EXPECT_EQ(PeerParentName(pipeline->get_element("out"), "sink").substr(0, 8), "identity");

    streaming::Bin single("single", "identity name=one");
    EXPECT_TRUE(GST_IS_PIPELINE(single.GetPipeline()->gobj()));
    EXPECT_EQ(single.GetPipeline()->get_name(), "pi_single");
    EXPECT_TRUE(single.GetPipeline()->get_element("one"));

    streaming::Bin chain("chain", "videotestsrc name=src ! identity name=tail");
    EXPECT_EQ(chain.GetPipeline()->get_name(), "pi_chain");
}

TEST_F(BinTest, UnparsableDescriptionRaisesTheParserError)
{
    LogCapture log;
    EXPECT_THROW(streaming::Bin("broken", "videotestsrc ! ! fakesink"), Glib::Error);
    const auto lines = log.Lines();
    const auto errors = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("[broken] Error parsing pipeline: ", 0) == 0;
    });
    EXPECT_EQ(errors, 1);
}

TEST_F(BinTest, TailMustBeUnambiguous)
{
    streaming::Bin two("two", "videotestsrc name=a videotestsrc name=b");
    EXPECT_EQ(ErrorOf([&] { two.AddElement(MakeElement("fakesink", "out")); }),
              "Bin [two]: More than one src unlinked pads found!");

    streaming::Bin closed("closed", "videotestsrc ! fakesink");
    EXPECT_EQ(ErrorOf([&] { closed.AddElement(MakeElement("fakesink", "out")); }),
              "Bin [closed]: No element with unlinked src pad found!");
}

TEST_F(BinTest, SecondElementInsertsATeeWithAQueuePerBranch)
{
    streaming::Bin bin("cap", "videotestsrc ! identity name=tail");
    auto pipeline = bin.GetPipeline();

    bin.AddElement(MakeElement("fakesink", "a"));
    EXPECT_TRUE(ChildNames(pipeline, "GstTee").empty());
    EXPECT_TRUE(ChildNames(pipeline, "GstQueue").empty());
    EXPECT_EQ(PeerParentName(pipeline->get_element("a"), "sink"), "tail");

    bin.AddElement(MakeElement("fakesink", "b"));
    ASSERT_EQ(ChildNames(pipeline, "GstTee").size(), 1u);
    EXPECT_THAT(ChildNames(pipeline, "GstQueue"), ElementsAre("qu_a", "qu_b"));
    GstElement* tee = OnlyChild(pipeline, "GstTee");
    EXPECT_THAT(SrcPadNames(tee), ElementsAre("src_0", "src_1"));
    EXPECT_EQ(PeerParentName(pipeline->get_element("tail"), "src"), GST_OBJECT_NAME(tee));
    EXPECT_EQ(PeerParentName(pipeline->get_element("a"), "sink"), "qu_a");
    EXPECT_EQ(PeerParentName(pipeline->get_element("qu_a"), "sink"), GST_OBJECT_NAME(tee));

    bin.AddElement(MakeElement("fakesink", "c"));
    EXPECT_EQ(ChildNames(pipeline, "GstTee").size(), 1u);
    EXPECT_THAT(ChildNames(pipeline, "GstQueue"), ElementsAre("qu_a", "qu_b", "qu_c"));
    EXPECT_THAT(SrcPadNames(tee), ElementsAre("src_0", "src_1", "src_2"));
}

TEST_F(BinTest, DestroyingTheBinReleasesAndFreesEveryRequestPad)
{
    auto bin = std::make_unique<streaming::Bin>("cap", "videotestsrc ! identity name=tail");
    bin->AddElement(MakeElement("fakesink", "a"));
    bin->AddElement(MakeElement("fakesink", "b"));
    GstElement* tee = OnlyChild(bin->GetPipeline(), "GstTee");
    ASSERT_NE(tee, nullptr);
    gst_object_ref(tee);

    int freed = 0;
    for (GList* item = tee->srcpads; item; item = item->next)
        g_object_weak_ref(
            G_OBJECT(item->data), [](gpointer count, GObject*) { ++*static_cast<int*>(count); }, &freed);
    bin.reset();

    EXPECT_EQ(tee->numsrcpads, 0);
    EXPECT_EQ(freed, 2);
    gst_object_unref(tee);
}

TEST_F(BinTest, AttachedBinGetsAGhostSinkPadOnItsFreeSinkPad)
{
    streaming::Bin parent("parent", "videotestsrc ! identity name=tail");
    auto child = std::make_shared<streaming::Bin>("child", "videoconvert name=convert ! fakesink");
    parent.AddBin(child);

    auto child_pipeline = child->GetPipeline();
    auto ghost = child_pipeline->get_static_pad("sink");
    ASSERT_TRUE(ghost);
    EXPECT_TRUE(ghost->is_linked());
    GstPad* target = gst_ghost_pad_get_target(GST_GHOST_PAD(ghost->gobj()));
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(std::string(GST_OBJECT_NAME(GST_OBJECT_PARENT(target))), "convert");
    gst_object_unref(target);
    EXPECT_NE(GST_OBJECT_PARENT(child_pipeline->gobj()), nullptr);

    auto closed = std::make_shared<streaming::Bin>("closed", "videotestsrc ! fakesink");
    streaming::Bin other("other", "videotestsrc ! identity name=tail");
    EXPECT_EQ(ErrorOf([&] { other.AddBin(closed); }), "Bin [other]: No unlinked sink pad(s) found!");
}

}  // namespace
