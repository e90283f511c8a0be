// Debug, marking and input videos of the stereo analyser.

#include <algorithm>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <cstdio>
#include <fstream>
#include <opencv2/imgproc.hpp>
#include <string>

#include "CommonUtilities/algorithm_support/cimage_cvmat.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "CommonUtilities/logged_text/logged_value.h"
#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter.h"
#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter_visualiser.h"

namespace stereo {

namespace {

constexpr double kVideoFps = 25.0;

// The debug and marking videos hold planar YUV 4:2:0, the input videos Motion JPEG.
const int kDebugVideoFourcc = cv::VideoWriter::fourcc('I', '4', '2', '0');
const int kMarkingVideoFourcc = cv::VideoWriter::fourcc('I', '4', '2', '0');
const int kInputVideoFourcc = cv::VideoWriter::fourcc('M', 'J', 'P', 'G');

// A folder text ready to take a file name: a separator is added when it has none at its end.
std::string FolderPrefix(const std::string& folder)
{
    if (folder.empty() || folder.back() == '/' || folder.back() == '\\')
        return folder;
    return folder + '/';
}

// The current UTC time with microseconds, without colons, for file names.
std::string FileTimeText()
{
    std::string text = boost::posix_time::to_iso_extended_string(boost::posix_time::microsec_clock::universal_time());
    std::replace(text.begin(), text.end(), ':', '_');
    return text;
}

// Writes a picture of any of the 8-bit layouts through a colour writer (a colour writer drops grey
// frames).
void WriteColourFrame(cv::VideoWriter& writer, const cv::Mat& picture, cv::Mat& frame)
{
    if (!writer.isOpened())
        return;
    frame.create(picture.size(), CV_8UC3);
    cimage_cvmat::CopyMatTo3ChannelMat(picture, frame);
    writer.write(frame);
}

}  // namespace

bool StereoPeopleCounter::OpenVideo(cv::VideoWriter& writer, const std::string& file, int fourcc, const cv::Size& size,
                                    const char* kind, bool& failed)
{
    if (failed)
        return false;
    // A file that cannot be created is found before the video library tries its backends on it.
    if (std::ofstream(file, std::ios::binary)) {
        writer.open(file, fourcc, kVideoFps, size, true);
        if (writer.isOpened())
            return true;
        std::remove(file.c_str());
    }
    failed = true;
    // The folders and the prefix of the file's name come from the parameter files.
    Log(kKivLogWarning) << "Can not open " << kind << " video " << logged_text::LoggedValue(file) << ", " << kind
                        << " videos are not written";
    return false;
}

void StereoPeopleCounter::InitOutput()
{
    KIV_CHECK(m_sizes.processing.area() > 0, "StereoCounterOutputSize_200811_140401")
        << "no processing size for the videos";
    if (m_params.write_debug_video())
        m_debug.debug_video_base_name = FolderPrefix(m_params.debug_video_folder()) +
                                        std::to_string(m_params.stereo_resolution()) + "_" +
                                        std::to_string(m_stereo_matcher->GetMaxDispVal(kLeftView)) + "_";
    if (m_params.marking_mode()) {
        if (OpenVideo(m_debug.marking_video_writer_l, "_L.avi", kMarkingVideoFourcc, m_sizes.processing, "marking",
                      m_debug.marking_video_failed))
            OpenVideo(m_debug.marking_video_writer_r, "_R.avi", kMarkingVideoFourcc, m_sizes.processing, "marking",
                      m_debug.marking_video_failed);
    }
}

void StereoPeopleCounter::StartNewInputVideo()
{
    if (!m_params.write_input_video() || m_params.marking_mode())
        return;
    KIV_CHECK(m_sizes.processing.area() > 0, "StereoCounterInputVideoSize_200811_140402")
        << "no processing size for the input videos";
    const std::string base = FolderPrefix(m_params.input_video_folder()) + m_params.input_video_prefix() +
                             FileTimeText() + std::to_string(m_params.stereo_resolution()) + "__" +
                             std::to_string(m_stereo_matcher->GetMaxDispVal(kLeftView));
    if (OpenVideo(m_debug.input_video_writer_l, base + "_orig_L.avi", kInputVideoFourcc, m_sizes.input, "input",
                  m_debug.input_video_failed))
        OpenVideo(m_debug.input_video_writer_r, base + "_orig_R.avi", kInputVideoFourcc, m_sizes.input, "input",
                  m_debug.input_video_failed);
}

void StereoPeopleCounter::WriteVideoOutput()
{
    if (m_params.write_debug_video() && m_frame.counter < m_params.debug_video_frames_num()) {
        for (const std::string& name : m_visualiser->BitmapNames()) {
            if (m_debug.debug_video_failed)
                break;
            const cv::Mat* bitmap = m_visualiser->GetDebugBitmap(name);
            const bool filled = bitmap && !bitmap->empty();
            cv::VideoWriter& writer = m_debug.debug_video_writers[name];
            if (!writer.isOpened()) {
                if (!filled)
                    continue;
                const std::string file = m_debug.debug_video_base_name + name + ".avi";
                if (!OpenVideo(writer, file, kDebugVideoFourcc, bitmap->size(), "debug", m_debug.debug_video_failed))
                    break;
                Log(kKivLogInfo) << "Creating debug video " << logged_text::LoggedValue(file);
            }
            KIV_CHECK(filled, "StereoCounterDebugVideoBitmap_200811_140403")
                << "the debug bitmap " << name << " is empty while its video is open";
            WriteColourFrame(writer, *bitmap, m_debug.video_frame);
        }
    }
    if (m_params.marking_mode() && m_frame.counter < m_params.marking_frames_num() &&
        !m_debug.rectified_uncropped_debug_pair.empty()) {
        const cv::Rect left({0, 0}, m_sizes.processing), right({m_sizes.processing.width, 0}, m_sizes.processing);
        WriteColourFrame(m_debug.marking_video_writer_l, m_debug.rectified_uncropped_debug_pair(left),
                         m_debug.video_frame);
        WriteColourFrame(m_debug.marking_video_writer_r, m_debug.rectified_uncropped_debug_pair(right),
                         m_debug.video_frame);
    }
}

void StereoPeopleCounter::EndOutput()
{
    const auto open = std::count_if(m_debug.debug_video_writers.begin(), m_debug.debug_video_writers.end(),
                                    [](const auto& entry) { return entry.second.isOpened(); });
    Log(kKivLogInfo) << "Finishing writing " << open << " debug videos";
    m_debug.debug_video_writers.clear();
    m_debug.marking_video_writer_l.release();
    m_debug.marking_video_writer_r.release();
}

void StereoPeopleCounter::WriteInputVideo()
{
    if (!m_params.write_input_video())
        return;
    // 0 frames: one pair of videos, never restarted.
    const long long frames = m_params.input_video_frames_num();
    if (frames > 0 && m_frame.counter % frames == 0) {
        EndOutputOfInput();
        StartNewInputVideo();
        return;
    }
    WriteColourFrame(m_debug.input_video_writer_l, m_views.input[kLeftView], m_debug.video_frame);
    WriteColourFrame(m_debug.input_video_writer_r, m_views.input[kRightView], m_debug.video_frame);
}

void StereoPeopleCounter::EndOutputOfInput()
{
    m_debug.input_video_writer_l.release();
    m_debug.input_video_writer_r.release();
}

}  // namespace stereo
