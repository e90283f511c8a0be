#pragma once

#include <array>
#include <cstdint>
#include <opencv2/core.hpp>
#include <vector>

#include "CommonUtilities/algorithm_support/block_light.h"
#include "StereoAnalyzer/StereoPeopleCounter/stereo_counting_obj_data.h"

namespace crossings {

// The most counting lines a counter keeps; further lines of the parameter are ignored.
constexpr int kMaxLines = stereo::StereoCountingObjData::kMaxCrossedLines;

// Crossing states of an object on one line in one frame.
enum CrossingState : int {
    kCrossingPositive = 1,  // moved from the left-hand to the right-hand side of the line
    kCrossingNegative = 2,
    kCrossingNone = 4,
};

// One counting line in pixels of the frame size.
struct PolyLineInfo {
    int id = 0;
    std::vector<cv::Point2f> points;
    int type = 0;  // 1 "Incoming", 2 "Outcoming", 3 "TwoDirections"
};

// The counter's memory of one object, indexed per line by the line's position in the line list.
struct ObjDataForIntersectCount {
    cv::Point2f current_centre;
    cv::Point2f previous_centre;
    int64_t object_id = 0;
    std::array<int8_t, kMaxLines> accumulators{};  // partial crossings, -1..1 between frames
    std::array<uint8_t, kMaxLines> alarmed{};
    std::array<int, kMaxLines> states{};
    std::array<uint8_t, kMaxLines> in_flags{};
    std::array<uint8_t, kMaxLines> out_flags{};
};

class CCrossingPerimeterDetector {
public:
    // The signed crossing measure of the move from `previous` to `current` against the polyline:
    // +2 per segment crossed from its left-hand to its right-hand side (y growing downwards),
    // -2 the other way, +-1 for a move that starts or ends on a segment's line.
    static int CheckCrossingPerimeter(const cv::Point2f& current, const cv::Point2f& previous,
                                      const std::vector<cv::Point2f>& polyline);
};

// Decides for every tracked object and counting line whether and in which direction the object
// crossed the line, and when an alarm is due. Called on the algorithm thread.
class CrossingsCounter : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    CrossingsCounter() = default;
    ~CrossingsCounter() override = default;

    void InitializeDefaultParameters() override;

    // Scales the lines to `frame_size` and forgets every object.
    void Reinit(cv::Size frame_size);
    void InitCrossingLines();

    // One frame: updates the memory from the records' boxes and writes the verdicts into them.
    void CalculateObjectsState(std::vector<stereo::StereoCountingObjData>& objects);

    void DrawLine(cv::Mat& image) const;

    const std::vector<PolyLineInfo>& GetLines() const { return m_lines; }

protected:
    void UpdateInternalObjectsCoords(const std::vector<stereo::StereoCountingObjData>& objects);
    void CalculateCrossings();
    void FillExternalObjectsState(std::vector<stereo::StereoCountingObjData>& objects);
    void FillCrossedLinesIds(const ObjDataForIntersectCount& internal, stereo::StereoCountingObjData& record) const;
    void FillAlarms(ObjDataForIntersectCount& internal, stereo::StereoCountingObjData& record) const;

private:
    ObjDataForIntersectCount* FindObject(int64_t id);

    ParamsLib::VectOfRelPolyLineParam m_counting_lines;
    std::vector<PolyLineInfo> m_lines;
    std::vector<ObjDataForIntersectCount> m_objects;
    std::vector<bool> m_unseen_objects;
    std::vector<bool> m_new_records;
    cv::Size m_frame_size;
};

}  // namespace crossings
