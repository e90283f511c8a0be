#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/core/noncopyable.hpp>

#include <gst/gst.h>
#include <gstreamermm/bin.h>
#include <gstreamermm/element.h>
#include <gstreamermm/pipeline.h>
#include <gstreamermm/tee.h>

#include "application/runtime/logger.h"

namespace streaming {

// The pipeline layer's one exception: "Bin [" + bin name + "]: " + message.
class BinException : public std::runtime_error {
public:
    BinException(const std::string& message, const std::string& bin_name);

    const std::string& GetBinName() const { return m_bin_name; }

private:
    std::string m_bin_name;
};

class Bin;
using BinPtr = std::shared_ptr<Bin>;

// Initialises GStreamer and gstreamermm; true when GStreamer could be initialised.
bool InitGstreamer();

// A named owner of one GStreamer pipeline and of a log source on the channel of its name.
// Further elements and child bins can be attached behind the pipeline's tail (the element named
// "tail", or else the one element whose "src" pad is unlinked): the first one directly, and from
// the second one on through a tee with one queue per branch.
// A bin is built on one thread while its pipeline is in the NULL state; it has no lock.
class Bin : private boost::noncopyable {
public:
    explicit Bin(const std::string& name);
    // Builds the pipeline "pi_" + name from a gst-launch description ("" stands for "identity").
    Bin(const std::string& name, const std::string& description);
    // Gives the request pads back to the tee and releases elements, child bins and the pipeline.
    // The pipeline's state is not changed.
    virtual ~Bin();

    Glib::RefPtr<Gst::Pipeline> GetPipeline();
    const std::string& GetName() const { return m_name; }
    LogSource& GetLogger() { return m_logger; }
    void SetName(const std::string& name);
    // The pipeline can be set only once.
    void SetPipeline(Glib::RefPtr<Gst::Pipeline> pipeline);
    [[noreturn]] void ThrowError(const std::string& message) const;

    Glib::RefPtr<Gst::Pipeline> CreatePipelineFromString(std::string description, std::string name);
    Glib::RefPtr<Gst::Element> FindTail(Glib::RefPtr<Gst::Bin> bin);
    // Empty when no element of the bin (nested bins included) has an unlinked pad of that name.
    Glib::RefPtr<Gst::Element> FindElementWithUnlinkedPad(Glib::RefPtr<Gst::Bin> bin, const std::string& pad_name);
    // Gives a bin without a "sink" pad a ghost "sink" pad on its one free sink pad.
    void CheckElementSinkPad(Glib::RefPtr<Gst::Element> element);
    void AddElement(Glib::RefPtr<Gst::Element> element);
    // tee pad src_N -> queue "qu_" + element name -> element; the returned handle gives the pad back.
    std::shared_ptr<GstPad> LinkElementToTee(Glib::RefPtr<Gst::Element> element, Glib::RefPtr<Gst::Bin> bin,
                                             Glib::RefPtr<Gst::Tee> tee);
    // Keeps the child alive as long as this bin; links nothing.
    void AddChildBin(BinPtr child);
    // Keeps the child and attaches its whole pipeline behind this bin's tail.
    void AddBin(BinPtr child);

private:
    std::string m_name;
    LogSource m_logger;
    Glib::RefPtr<Gst::Pipeline> m_pipeline;
    std::vector<BinPtr> m_child_bins;
    std::vector<Glib::RefPtr<Gst::Element>> m_elements;
    std::vector<std::shared_ptr<GstPad>> m_tee_pads;
    Glib::RefPtr<Gst::Tee> m_tee;
};

}  // namespace streaming
