#include "PeopleCounter/universal/people_counter_mono.h"

#include <utility>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "PeopleCounter/universal/people_counter_stereo.h"

namespace {

constexpr const char* kControllerName = "MonoPeopleCounter";

}  // namespace

PeopleCounterMono::PeopleCounterMono(const std::string& algo_config, std::shared_ptr<BlockEntities::Log::ILog> log,
                                     double tilt_angle)
    : UniversalPeopleCounter(algo_config, std::move(log), tilt_angle), m_controller(kControllerName, nullptr)
{
    TrafficControllerInitParams params;
    params.name = kControllerName;
    params.parent = GetChildrenRegistry();
    params.memory_manager = m_controller_memory;
    // The controller registers itself with this block when it is built, so the child pointer
    // only takes ownership: the controller is listed once among the children.
    m_controller.reset(ITrafficController::CreateNew(params));
    SetContextsAndDebugInterfaces();
    InitParams();
}

PeopleCounterMono::~PeopleCounterMono() = default;

void PeopleCounterMono::InitImage(const kiv::VideoFormat& format)
{
    m_image_initialised = false;
    UniversalPeopleCounter::InitImage(format);
    m_controller->InitImage(format);
    m_image_initialised = true;
}

void PeopleCounterMono::ProcessImage(const cv::Mat& image, AlgoTimePoint time, bool debug)
{
    (void)debug;
    KIV_CHECK(m_image_initialised, "MonoFrontNoFormat_091226_090002")
        << "PeopleCounterMono: ProcessImage before a successful InitImage";
    const int width = GetWidth();
    const int height = GetHeight();
    KIV_CHECK(image.dims == 2 && image.type() == CV_8UC1 && image.cols == width && image.rows == height,
              "MonoFrontFrame_091226_090001")
        << "the frame must be 8-bit grey" << width << "x" << height << "; got type" << image.type() << "size"
        << image.cols << "x" << image.rows;
    const cv::Mat* frame = &image;
    if (!image.isContinuous()) {
        image.copyTo(m_continuous);
        frame = &m_continuous;
    }
    m_controller->ProcessImage(frame->ptr<unsigned char>(0), PeopleCounterStereo::TicksSince1601(time));
    m_controller->GetObjects(m_objects);
    ProcessData(m_objects, time);
}

std::vector<cv::Mat> PeopleCounterMono::GetDebugImages()
{
    return {};
}

float PeopleCounterMono::GetChangedPixelsPercent() const
{
    return m_controller->GetChangedPixelsPercent();
}

float PeopleCounterMono::GetMaximalPathInObjectRadius() const
{
    return m_controller->GetMaximalPathInObjectRadius();
}
