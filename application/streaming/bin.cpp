#include "application/streaming/bin.h"

#include <cassert>
#include <utility>

#include <glibmm/error.h>
#include <gstreamermm/init.h>
#include <gstreamermm/iterator.h>
#include <gstreamermm/pad.h>
#include <gstreamermm/parse.h>
#include <gstreamermm/queue.h>

#include "application/streaming/gst_object_handle.h"

namespace streaming {

namespace {

// Gives a request pad back to the element that handed it out, and drops the pad reference that
// came with it. The element stays alive while any of its pads is held.
template <typename ElementType>
struct GstPadReleaser {
    Glib::RefPtr<ElementType> element;

    void operator()(GstPad* pad) const
    {
        if (!pad)
            return;
        if (element)
            gst_element_release_request_pad(GST_ELEMENT(element->gobj()), pad);
        gst_object_unref(pad);
    }
};

}  // namespace

BinException::BinException(const std::string& message, const std::string& bin_name)
    : std::runtime_error("Bin [" + bin_name + "]: " + message), m_bin_name(bin_name)
{
}

bool InitGstreamer()
{
    return Gst::init_check();
}

Bin::Bin(const std::string& name) : m_name(name), m_logger(Logger::GetLogSource(name)) {}

Bin::Bin(const std::string& name, const std::string& description) : Bin(name)
{
    m_pipeline = CreatePipelineFromString(description, "pi_" + name);
}

Bin::~Bin()
{
    m_tee.reset();
    m_tee_pads.clear();
    m_elements.clear();
    m_child_bins.clear();
    m_pipeline.reset();
}

Glib::RefPtr<Gst::Pipeline> Bin::GetPipeline()
{
    return m_pipeline;
}

void Bin::SetName(const std::string& name)
{
    m_name = name;
    m_logger = Logger::GetLogSource(name);
}

void Bin::SetPipeline(Glib::RefPtr<Gst::Pipeline> pipeline)
{
    assert(!m_pipeline && "Cannot reset pipeline when it has already been set");
    m_pipeline = std::move(pipeline);
}

void Bin::ThrowError(const std::string& message) const
{
    throw BinException(message, m_name);
}

Glib::RefPtr<Gst::Pipeline> Bin::CreatePipelineFromString(std::string description, std::string name)
{
    if (description.empty())
        description = "identity";
    // A description names several elements with their properties: it is quoted with room for that.
    LOG(m_logger, trace) << "Initializing pipeline from string: " << LoggedValue(description, 4 * kLoggedValueLimit);

    Glib::RefPtr<Gst::Element> parsed;
    try {
        parsed = Gst::Parse::launch(description);
    } catch (const Glib::Error& error) {
        LOG(m_logger, error) << "Error parsing pipeline: " << LoggedValue(error.what(), 4 * kLoggedValueLimit);
        throw;
    }
    if (!parsed)
        ThrowError("Unable to create pipeline from string: " + LoggedValue(description, 4 * kLoggedValueLimit));

    auto pipeline = Glib::RefPtr<Gst::Pipeline>::cast_dynamic(parsed);
    if (!pipeline) {
        LOG(m_logger, trace) << "Top-level object is not a pipeline, creating real pipeline...";
        pipeline = Gst::Pipeline::create("wr_" + name);
        if (!pipeline)
            ThrowError("Unable to create pipeline");
        pipeline->add(parsed);
    }
    pipeline->set_name(name);
    LOG(m_logger, trace) << "Pipeline name: " << pipeline->get_name().raw();
    return pipeline;
}

Glib::RefPtr<Gst::Element> Bin::FindTail(Glib::RefPtr<Gst::Bin> bin)
{
    if (auto tail = bin->get_element("tail")) {
        LOG(m_logger, trace) << "Found element with name \"tail\" in bin " << bin->get_name().raw();
        return tail;
    }
    LOG(m_logger, trace) << "No element with name \"tail\" in bin " << bin->get_name().raw() << ", "
                        << "looking for unlinked src pads...";
    auto element = FindElementWithUnlinkedPad(bin, "src");
    if (!element)
        ThrowError("No element with unlinked src pad found!");
    return element;
}

Glib::RefPtr<Gst::Element> Bin::FindElementWithUnlinkedPad(Glib::RefPtr<Gst::Bin> bin, const std::string& pad_name)
{
    LOG(m_logger, trace) << "Looking for unlinked " << pad_name << " pad in bin [" << bin->get_name().raw() << "]...";
    Glib::RefPtr<Gst::Element> found;
    Gst::Iterator<Gst::Element> it = bin->iterate_recurse();
    for (bool done = false; !done;) {
        switch (it.next()) {
            case Gst::ITERATOR_OK: {
                Glib::RefPtr<Gst::Element> element = *it;
                auto pad = element->get_static_pad(pad_name);
                if (!pad || pad->is_linked())
                    break;
                if (found)
                    ThrowError("More than one " + pad_name + " unlinked pads found!");
                found = element;
                // The element's name may come from the pipeline's description.
                LOG(m_logger, trace) << "Unlinked " << pad_name << " pad found (element "
                                     << LoggedValue(element->get_name().raw()) << ")";
                break;
            }
            case Gst::ITERATOR_RESYNC:
                it.resync();
                found.reset();
                break;
            case Gst::ITERATOR_ERROR:
                ThrowError("Iterator error");
            case Gst::ITERATOR_DONE:
                done = true;
                break;
        }
    }
    if (!found)
        LOG(m_logger, trace) << "No unlinked " << pad_name << " pad found";
    return found;
}

void Bin::CheckElementSinkPad(Glib::RefPtr<Gst::Element> element)
{
    if (!GST_IS_BIN(element->gobj()))
        return;
    LOG(m_logger, trace) << "Checking for sink pad of bin " << element->get_name().raw() << "...";
    if (element->get_static_pad("sink")) {
        LOG(m_logger, trace) << "OK, sink pad found...";
        return;
    }
    LOG(m_logger, trace) << "No sink pad found, creating ghost pad...";
    auto bin = Glib::RefPtr<Gst::Bin>::cast_dynamic(element);
    Glib::RefPtr<Gst::Pad> target = bin ? bin->find_unlinked_pad(Gst::PAD_SINK) : Glib::RefPtr<Gst::Pad>();
    if (!target)
        ThrowError("No unlinked sink pad(s) found!");
    auto ghost = GstObjectHandle<GstPad>::Sink(gst_ghost_pad_new("sink", target->gobj()));
    if (!ghost || !gst_element_add_pad(element->gobj(), ghost.Get()))
        ThrowError("Unable to add pad!");
}

void Bin::AddElement(Glib::RefPtr<Gst::Element> element)
{
    assert(element && "Null child pipeline is going to be added");
    LOG(m_logger, trace) << "Adding child element [" << element->get_name().raw() << "] to bin...";
    CheckElementSinkPad(element);

    if (m_elements.empty()) {
        auto tail = FindTail(m_pipeline);
        m_pipeline->add(element);
        tail->link(element);
    } else {
        if (!m_tee) {
            LOG(m_logger, trace) << "Adding second element to bin, creating tee...";
            const auto& first = m_elements.front();
            m_pipeline->remove(first);
            m_tee = Gst::Tee::create();
            if (!m_tee)
                ThrowError("Unable to create tee");
            m_pipeline->add(m_tee);
            FindTail(m_pipeline)->link(m_tee);
            m_pipeline->add(first);
            m_tee_pads.push_back(LinkElementToTee(first, m_pipeline, m_tee));
        }
        m_pipeline->add(element);
        m_tee_pads.push_back(LinkElementToTee(element, m_pipeline, m_tee));
    }
    m_elements.push_back(element);
}

std::shared_ptr<GstPad> Bin::LinkElementToTee(Glib::RefPtr<Gst::Element> element, Glib::RefPtr<Gst::Bin> bin,
                                              Glib::RefPtr<Gst::Tee> tee)
{
    LOG(m_logger, trace) << "Linking element " << element->get_name().raw() << " to tee...";
    auto queue = Gst::Queue::create("qu_" + element->get_name());
    if (!queue)
        ThrowError("Unable to create queue");
    bin->add(queue);
    queue->link(element);

    GstElement* tee_element = GST_ELEMENT(tee->gobj());
    GstPadTemplate* pad_template = gst_element_class_get_pad_template(GST_ELEMENT_GET_CLASS(tee_element), "src_%u");
    GstPad* requested = pad_template ? gst_element_request_pad(tee_element, pad_template, nullptr, nullptr) : nullptr;
    std::shared_ptr<GstPad> tee_pad(requested, GstPadReleaser<Gst::Tee>{tee});
    if (!tee_pad)
        ThrowError("Unable to obtain tee request pad");
    LOG(m_logger, trace) << "Obtained tee request pad " << GST_OBJECT_NAME(tee_pad.get());

    auto queue_pad = queue->get_static_pad("sink");
    if (!queue_pad)
        ThrowError("Unable to obtain sink pad from queue");
    if (gst_pad_link(tee_pad.get(), queue_pad->gobj()) != GST_PAD_LINK_OK)
        ThrowError("Unable to link pads");
    return tee_pad;
}

void Bin::AddChildBin(BinPtr child)
{
    assert(child && "Null child bin is going to be added");
    auto child_pipeline = child->GetPipeline();
    LOG(m_logger, trace) << "Adding child bin [" << child->GetName() << ", "
                        << (child_pipeline ? child_pipeline->get_name().raw() : std::string()) << "]";
    m_child_bins.push_back(std::move(child));
}

void Bin::AddBin(BinPtr child)
{
    AddChildBin(child);
    AddElement(child->GetPipeline());
}

}  // namespace streaming
