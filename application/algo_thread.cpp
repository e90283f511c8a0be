#include "application/algo_thread.h"

#include <algorithm>
#include <boost/format.hpp>
#include <cmath>
#include <opencv2/core/utility.hpp>
#include <stdexcept>

#include "application/console_log.h"
#include "application/runtime/file_error_handler.h"
#include "application/runtime/logger.h"
#include "application/runtime/util.h"

namespace {

// 1998-01-01 00:00:00 UTC: where the frames' running times are laid on the calendar.
constexpr long long kBaseTimeSeconds = 883612800;
constexpr std::chrono::milliseconds kFrameWait(1000);
constexpr std::chrono::seconds kInvalidAnglePause(1);

unsigned int PixelThreshold(unsigned int motion_sensitivity)
{
    const double threshold = std::pow(101.0, 1.0 - static_cast<double>(motion_sensitivity) / 100.0) - 1.0;
    return threshold > 0.0 ? static_cast<unsigned int>(threshold) : 0u;
}

double MovingThreshold(unsigned int motion_sensitivity)
{
    return std::pow(std::max(100.0 - static_cast<double>(motion_sensitivity), 0.0) / 55.0, 3);
}

// Lets go of producers waiting in push_back_sync when the consumer's loop ends, however it ends.
template <typename T>
class WaitersRelease {
public:
    explicit WaitersRelease(util::bounded_buffer<T>& buffer) : m_buffer(buffer) {}
    ~WaitersRelease() { m_buffer.release_waiters(); }
    WaitersRelease(const WaitersRelease&) = delete;
    WaitersRelease& operator=(const WaitersRelease&) = delete;

private:
    util::bounded_buffer<T>& m_buffer;  // owned by the consumer thread
};

}  // namespace

AlgoThread::AlgoThread(bool stereo, const std::string& algo_config, int algo_width, int algo_height, bool debug,
                       unsigned long long skip_ms, double max_valid_angle, unsigned int motion_sensitivity,
                       const std::string& name, bool algo_may_drop, MotionDetectionSubject motion_subject,
                       ThreadManager& manager, CounterFactory counter_factory)
    : BaseThread(name, manager),
      m_width(algo_width),
      m_height(algo_height),
      m_stereo(stereo),
      m_algo_may_drop(algo_may_drop),
      m_config_path(algo_config),
      m_debug(debug),
      m_skip_ms(skip_ms),
      m_max_valid_angle(max_valid_angle),
      m_pixel_threshold(PixelThreshold(motion_sensitivity)),
      m_moving_threshold(MovingThreshold(motion_sensitivity)),
      m_motion_subject(motion_subject),
      m_base_time(boost::chrono::seconds(kBaseTimeSeconds)),
      m_counter_factory(std::move(counter_factory))
{
}

IUniversalPeopleCounter* AlgoThread::CreateCounterInstance(CounterAlgorithm algorithm, const std::string& algo_config,
                                                           std::shared_ptr<BlockEntities::Log::ILog> log,
                                                           double tilt_angle)
{
    if (algorithm == kCounterStereo)
        return IUniversalPeopleCounter::CreateInstance<kCounterStereo>(algo_config, std::move(log), tilt_angle);
    return IUniversalPeopleCounter::CreateInstance<kCounterMono>(algo_config, std::move(log), tilt_angle);
}

void AlgoThread::SetAngle(double angle)
{
    m_angle.store(angle);
    m_angle_changed.store(true);
}

void AlgoThread::PushFrame(std::shared_ptr<cv::Mat> image, unsigned long long timestamp)
{
    if (++m_frames_received == 1) {
        LOG(GetLogger(), info) << "Received first frame with base-clock relative timestamp " << timestamp
                               << ". Timepoint assigned to base clock is " << m_base_time.time_since_epoch().count()
                               << " nanoseconds since Jan 1, 1970";
    }
    const Frame frame{timestamp, std::move(image)};
    if (!m_algo_may_drop) {
        m_frames.push_back_sync(frame);
        return;
    }
    if (m_frames.size() == m_frames.capacity())
        ++m_dropped_frames;
    m_frames.push_back(frame);
}

boost::signals2::connection AlgoThread::DoOnAlarm(const AlarmSignal::slot_type& slot)
{
    return m_on_alarm.connect(slot);
}

boost::signals2::connection AlgoThread::DoOnDebugImage(const DebugImageSignal::slot_type& slot)
{
    return m_on_debug_image.connect(slot);
}

boost::signals2::connection AlgoThread::DoOnMotion(const MotionSignal::slot_type& slot)
{
    return m_on_motion.connect(slot);
}

void AlgoThread::ProducersEnded()
{
    // The flag first: the frame wait that the release ends must see it.
    BaseThread::ProducersEnded();
    m_frames.release_waiters();
}

void AlgoThread::ThreadFunc()
{
    // OpenCV's own parallel loops would wake a pool as large as the machine for pictures of a few
    // thousand pixels: they run on the calling thread (the stereo analyser runs its two views in
    // parallel itself).
    cv::setNumThreads(1);
    const WaitersRelease<Frame> release_producers(m_frames);
    const auto start = std::chrono::steady_clock::now();
    // The skip ends early when the thread is terminated; the loop below then does not run.
    if (m_skip_ms != 0 && WaitFor(std::chrono::milliseconds(m_skip_ms)))
        m_frames.clear();

    while (!IsTerminated()) {
        m_angle_changed.store(false);
        const double angle = m_angle.load();
        // A reading that is not a number (e.g. a dead inclinometer) is as unusable as a steep one.
        if (!(std::fabs(angle) <= m_max_valid_angle)) {
            LOG(GetLogger(), warning) << "Invalid angle: " << angle;
            FileErrorHandler::SetError<FileErrorHandler::kAngleError>();
            WaitFor(kInvalidAnglePause);
            m_frames.clear();
            continue;
        }
        FileErrorHandler::ClearError<FileErrorHandler::kAngleError>();
        const CounterPtr counter = CreateFlowtally(m_config_path, m_stereo, angle);
        if (counter)
            counter->InitImage(kiv::VideoFormat{m_width, m_height, 1, m_width, 0, 1});
        CountFrames(counter);
    }
    LogClosingLines(start);
}

void AlgoThread::CountFrames(const CounterPtr& counter)
{
    const AlgoLibrary::MemManager::MemoryManagerAllocate memory;
    AlarmVector alarms{AlarmVector::allocator_type(memory)};
    std::vector<cv::Mat> debug_images;

    // Once the stop is requested a new angle no longer matters, and a capture that takes long to
    // stop is no fault: the frames it still sends are counted until it has ended.
    while (IsTerminated() || !m_angle_changed.load()) {
        if (IsTerminated() && HaveProducersEnded())
            break;
        Frame frame;
        if (!m_frames.timed_front(frame, kFrameWait)) {
            if (IsTerminated())
                continue;
            throw std::runtime_error("No frames for too long.");
        }
        ProcessFrame(counter, frame, alarms, debug_images);
    }
    if (!IsTerminated())
        return;
    // The frames still queued once the capture has ended: when the capture waits for the
    // algorithms no frame may be lost, so they are counted; otherwise they are dropped like
    // frames the queue overwrites.
    if (!counter) {
        m_frames.clear();
        return;
    }
    if (m_algo_may_drop) {
        m_dropped_frames += static_cast<int>(m_frames.size());
        m_frames.clear();
        return;
    }
    Frame frame;
    while (m_frames.timed_front(frame, std::chrono::milliseconds(0)))
        ProcessFrame(counter, frame, alarms, debug_images);
}

void AlgoThread::ProcessFrame(const CounterPtr& counter, const Frame& frame, AlarmVector& alarms,
                              std::vector<cv::Mat>& debug_images)
{
    if (counter) {
        const AlgoTimePoint time = m_base_time + boost::chrono::nanoseconds(static_cast<long long>(frame.timestamp));
        counter->ProcessImage(frame.image->clone(), time, m_debug);
        if (m_debug)
            debug_images = counter->GetDebugImages();
        counter->GetAlarms(alarms);
        if (!m_stereo && IsMotion(*counter))
            m_on_motion();
    }
    if (!debug_images.empty())
        m_on_debug_image(debug_images, frame.timestamp);
    EmitAlarms(alarms, frame.timestamp);
}

bool AlgoThread::IsMotion(const IUniversalPeopleCounter& counter) const
{
    switch (m_motion_subject) {
        case kMotionAnything:
            return counter.GetChangedPixelsPercent() > static_cast<float>(m_pixel_threshold);
        case kMotionOnlyPeople:
            return static_cast<double>(counter.GetMaximalPathInObjectRadius()) > m_moving_threshold;
    }
    throw std::runtime_error(
        (boost::format("Unknown motion detection subject: %1%") % static_cast<int>(m_motion_subject)).str());
}

void AlgoThread::EmitAlarms(const AlarmVector& alarms, unsigned long long timestamp)
{
    for (const Alarm& alarm : alarms) {
        const char* type_name = AlarmTypeName(alarm.type);
        if (!type_name)
            throw std::runtime_error((boost::format("Unknown alarm type: %1%") % alarm.type).str());
        LOG(GetLogger(), trace) << type_name << " ID " << alarm.object_id << " nanosecond " << timestamp;
        m_on_alarm(alarm);
    }
}

AlgoThread::CounterPtr AlgoThread::CreateFlowtally(const std::string& config_path, bool stereo, double angle)
{
    if (m_motion_subject == kMotionAnything)
        LOG(GetLogger(), info) << "Using kMotionAnything with m_pixel_threshold " << m_pixel_threshold;
    else if (m_motion_subject == kMotionOnlyPeople)
        LOG(GetLogger(), info) << "Using kMotionOnlyPeople with m_moving_threshold " << m_moving_threshold;

    // Every file of the list must be there: the stereo counter cannot count without its
    // calibration, and the single camera's counter is not built without its parameters (its
    // factory fails, and the thread with it).
    if (const auto unusable = util::FirstUnusableFile(config_path)) {
        const char* outcome = stereo ? ". Not starting algorithms." : ". The single-camera counter can not be built.";
        if (unusable->empty())
            LOG(GetLogger(), error) << "Empty entry in the parameter file list '" << LoggedValue(config_path) << "'"
                                    << outcome;
        else
            LOG(GetLogger(), error) << "File '" << LoggedValue(*unusable) << "' does not exist" << outcome;
        if (stereo)
            return nullptr;
    }
    if (stereo)
        LOG(GetLogger(), info) << "Using tilt angle " << angle;

    const auto log = std::make_shared<ConsoleLog>(GetLogger());
    CounterPtr counter(m_counter_factory(stereo ? kCounterStereo : kCounterMono, config_path, log, angle),
                       AlgoLibrary::ReleaseDeleter());
    if (!counter) {
        throw std::runtime_error(stereo ? "IUniversalPeopleCounter (stereo) instance construction failed."
                                        : "IUniversalPeopleCounter (mono) instance construction failed.");
    }
    return counter;
}

void AlgoThread::LogClosingLines(std::chrono::steady_clock::time_point start)
{
    const int dropped = m_dropped_frames.load();
    if (dropped > 0)
        LOG(GetLogger(), warning) << "Dropped frames due to slow algorithms: " << dropped;
    else
        LOG(GetLogger(), info) << "Dropped frames due to slow algorithms: " << dropped;

    const auto elapsed_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    const unsigned int frames = m_frames_received.load();
    if (elapsed_ms != 0 && frames != 0)
        LOG(GetLogger(), info) << "Algo thread FPS: " << frames * 1000.0 / static_cast<double>(elapsed_ms);
}
