#include "PeopleCounter/universal/people_counter_stereo.h"

#include <algorithm>
#include <utility>

#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace {

// 1998-01-01 00:00:00 UTC in nanoseconds since 1970-01-01.
constexpr long long kBase1998Ns = 883612800LL * 1000000000LL;

}  // namespace

PeopleCounterStereo::PeopleCounterStereo(const std::string& algo_config, std::shared_ptr<BlockEntities::Log::ILog> log,
                                         double tilt_angle, const AnalyserFactory& create_analyser)
    : UniversalPeopleCounter(algo_config, std::move(log), tilt_angle),
      m_analyser("StereoPeopleCounter", GetChildrenRegistry())
{
    m_analyser.reset(create_analyser ? create_analyser() : nullptr);
    m_analyser->SetTiltAngle(tilt_angle);
    SetContextsAndDebugInterfaces();
    InitParams();
    m_analyser->InitFromParams();
}

PeopleCounterStereo::~PeopleCounterStereo() = default;

long long PeopleCounterStereo::TicksSince1601(AlgoTimePoint time)
{
    long long since_1998 = 0;
    const bool overflow = __builtin_sub_overflow(time.time_since_epoch().count(), kBase1998Ns, &since_1998);
    KIV_CHECK(!overflow, "StereoFrontFrameTime_091226_083001") << "the frame time lies out of range";
    return kTicks1601To1998 + since_1998 / 100;
}

void PeopleCounterStereo::ProcessImage(const cv::Mat& image, AlgoTimePoint time, bool debug)
{
    const int width = GetWidth();
    const int height = GetHeight();
    KIV_CHECK(width > 0 && height > 0, "StereoFrontViewSize_091226_083002")
        << "the view size is not set:" << width << "x" << height;
    KIV_CHECK(image.dims == 2 && image.cols / 2 >= width && image.rows >= height, "StereoFrontFrameSize_091226_083003")
        << "the frame" << image.cols << "x" << image.rows << "does not hold two views of" << width << "x" << height;

    // Views into the frame, not copies.
    const cv::Mat left = image(cv::Rect(0, 0, width, height));
    const cv::Mat right = image(cv::Rect(width, 0, width, height));
    m_analyser->ProcessStereoPair(left, right, debug, TicksSince1601(time));

    std::vector<stereo::StereoCountingObjData> objects;
    m_analyser->GetObjects(objects);
    ProcessData(objects, time);
}

std::vector<cv::Mat> PeopleCounterStereo::GetDebugImages()
{
    const std::vector<std::string>& names = m_analyser->GetDebugBitmapList();
    const std::size_t count = std::min(names.size(), kMaxDebugImages);
    std::vector<cv::Mat> images;
    images.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const cv::Mat* picture = m_analyser->GetDebugBitmap(names[i]);
        KIV_CHECK(picture && picture->data && !picture->empty(), "StereoFrontDebugImage_091226_083004");
        images.push_back(picture->clone());
    }
    return images;
}
