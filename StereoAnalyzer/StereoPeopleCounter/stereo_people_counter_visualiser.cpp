#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter_visualiser.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>
#include <string>

#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter.h"

namespace stereo {

namespace {

const cv::Scalar kHeightTextColour(0, 255, 0);
const cv::Scalar kFallenColour(0, 0, 255);
const cv::Scalar kAlarmedColour(0, 255, 0);
const cv::Scalar kObjectColour(255, 255, 0);

void DrawObjectSquare(cv::Mat& picture, const StereoCountingObjData& object, int r, const cv::Scalar& colour)
{
    cv::rectangle(picture, cv::Rect(object.point_x - r, object.point_y - r, 2 * r, 2 * r), colour, 1, cv::LINE_8);
}

}  // namespace

StereoPeopleCounterVisualiser::StereoPeopleCounterVisualiser(StereoPeopleCounter* counter) : VisualizerBase(counter)
{
    using C = StereoPeopleCounter;
    using V = StereoPeopleCounterVisualiser;
    using Maps = C::HeightMapBuffers;
    using Debug = C::DebugVideoState;
    using ViewsOf = C::ViewBuffers;
    using Grey = cv::Mat_<uchar>;
    AddGetBitmapFunction("TracksAndObjects", &V::TracksAndObjects);
    AddGetBitmapFunction("DisparityLeft", &V::Disparity<0>);
    AddGetBitmapFunction("RectifiedPair",
                         &V::CounterPicture<Debug, &C::m_debug, cv::Mat, &Debug::rectified_uncropped_debug_pair>);
    AddGetBitmapFunction("DisparityRight", &V::Disparity<1>);
    AddGetBitmapFunction("Gradient", &V::CounterPicture<Maps, &C::m_maps, Grey, &Maps::gradient>);
    AddGetBitmapFunction("BlurredGradient",
                         &V::CounterPicture<Maps, &C::m_maps, cv::Mat, &Maps::blurred_gradient_foreground>);
    AddGetBitmapFunction("HeightLeft", &V::CounterViewPicture<kLeftView, ViewsOf, &C::m_views, &ViewsOf::height_map>);
    AddGetBitmapFunction("HeightRight", &V::CounterViewPicture<kRightView, ViewsOf, &C::m_views, &ViewsOf::height_map>);
    AddGetBitmapFunction("Binarized", &V::CounterPicture<Maps, &C::m_maps, Grey, &Maps::morphology_processed_image_l>);
    AddGetBitmapFunction("Blurred", &V::CounterPicture<Maps, &C::m_maps, cv::Mat, &Maps::blurred_l>);
    AddGetBitmapFunction("HeightMapPreFilteredLeft",
                         &V::CounterPicture<Maps, &C::m_maps, Grey, &Maps::median_filled_image_l>);
    AddGetBitmapFunction("HeightMapPreFilteredRight",
                         &V::CounterPicture<Maps, &C::m_maps, Grey, &Maps::median_filled_image_r>);
    AddGetBitmapFunction("HeightMapFiltered",
                         &V::CounterPicture<Maps, &C::m_maps, Grey, &Maps::all_median_filled_image_l>);
    AddGetBitmapFunction("DisparityNonFilledLeft",
                         &V::CounterViewPicture<kLeftView, ViewsOf, &C::m_views, &ViewsOf::disp8_debug_non_filled>);
    AddGetBitmapFunction("DisparityNonFilledRight",
                         &V::CounterViewPicture<kRightView, ViewsOf, &C::m_views, &ViewsOf::disp8_debug_non_filled>);
}

template <typename Group, Group StereoPeopleCounter::*GroupMember, typename M, M Group::*Member>
cv::Mat* StereoPeopleCounterVisualiser::CounterPicture()
{
    return &((Debuggee()->*GroupMember).*Member);
}

template <std::size_t View, typename Group, Group StereoPeopleCounter::*GroupMember,
          std::array<cv::Mat, 2> Group::*Member>
cv::Mat* StereoPeopleCounterVisualiser::CounterViewPicture()
{
    return &((Debuggee()->*GroupMember).*Member)[View];
}

template <int View>
cv::Mat* StereoPeopleCounterVisualiser::Disparity()
{
    StereoPeopleCounter& counter = *Debuggee();
    cv::Mat_<uchar>& picture = m_disparity_pictures[View];
    if (counter.m_sizes.processing.area() <= 0)
        return &picture;
    picture.create(counter.m_sizes.processing);
    if (View == kLeftView)
        counter.GetDisparityMapLeft(picture);
    else
        counter.GetDisparityMapRight(picture);
    return &picture;
}

cv::Mat* StereoPeopleCounterVisualiser::TracksAndObjects()
{
    StereoPeopleCounter& counter = *Debuggee();
    const cv::Mat& source = counter.m_views.rectified[kLeftView];
    if (source.empty())
        return nullptr;
    cv::cvtColor(source, m_tracks_picture, cv::COLOR_GRAY2BGR);
    counter.m_tracker.Draw(&m_tracks_picture);

    const int r = counter.m_filter.circle_around_head_rad;
    const std::size_t maxima = std::min(counter.m_found.head_points.size(), counter.m_found.head_heights.size());
    for (std::size_t i = 0; i < maxima; ++i) {
        const cv::Point& point = counter.m_found.head_points[i];
        cv::putText(m_tracks_picture, std::to_string(counter.m_found.head_heights[i]),
                    cv::Point(point.x + r, point.y + 10), cv::FONT_HERSHEY_SIMPLEX, 0.25, kHeightTextColour, 1,
                    cv::LINE_8);
    }
    counter.m_crossings_counter.DrawLine(m_tracks_picture);
    for (const StereoCountingObjData& object : counter.m_found.fallen_objects)
        DrawObjectSquare(m_tracks_picture, object, r, kFallenColour);
    for (const StereoCountingObjData& object : counter.m_found.objects)
        DrawObjectSquare(m_tracks_picture, object, r, object.alarmed ? kAlarmedColour : kObjectColour);
    return &m_tracks_picture;
}

std::shared_ptr<StereoPeopleCounterVisualiser> CreateStereoPeopleCounterVisualiser(StereoPeopleCounter* counter)
{
    return std::make_shared<StereoPeopleCounterVisualiser>(counter);
}

}  // namespace stereo
