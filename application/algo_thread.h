#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "PeopleCounter/universal/alarm.h"
#include "PeopleCounter/universal/i_universal_people_counter.h"
#include "application/runtime/base_thread.h"
#include "application/runtime/bounded_buffer.h"
#include "application/runtime/service_options.h"
#include "application/runtime/signals2.h"

class ThreadManager;

// The thread that runs the people counter: it takes the scaled grey frames from its queue,
// builds one counter per camera tilt angle, hands it every frame with a time point, and emits
// the alarms, the debug images and (single camera) the motion decisions.
class AlgoThread : public BaseThread {
public:
    // One queued frame; a copy shares the image.
    struct Frame {
        unsigned long long timestamp = 0;  // nanoseconds of the capture pipeline's running time
        std::shared_ptr<cv::Mat> image;
    };

    using AlarmSignal = boost::signals2::signal<void(const Alarm&)>;
    using DebugImageSignal = boost::signals2::signal<void(const std::vector<cv::Mat>&, unsigned long long)>;
    using MotionSignal = boost::signals2::signal<void()>;

    // Stands in for IUniversalPeopleCounter::CreateInstance: builds the counter of the given kind
    // from the parameter file path(s), the algorithms' log and the tilt angle; null on failure.
    using CounterFactory = std::function<IUniversalPeopleCounter*(CounterAlgorithm, const std::string&,
                                                                  std::shared_ptr<BlockEntities::Log::ILog>, double)>;

    static constexpr std::size_t kQueueCapacity = 200;

    AlgoThread(bool stereo, const std::string& algo_config, int algo_width, int algo_height, bool debug,
               unsigned long long skip_ms, double max_valid_angle, unsigned int motion_sensitivity,
               const std::string& name, bool algo_may_drop, MotionDetectionSubject motion_subject,
               ThreadManager& manager, CounterFactory counter_factory = &CreateCounterInstance);

    // Radians; the thread builds a new counter for it.
    void SetAngle(double angle);
    // Queues one frame. With dropping allowed a full queue loses its oldest frame; otherwise the
    // caller waits until the queue is empty (or the thread has ended).
    void PushFrame(std::shared_ptr<cv::Mat> image, unsigned long long timestamp);

    boost::signals2::connection DoOnAlarm(const AlarmSignal::slot_type& slot);
    boost::signals2::connection DoOnDebugImage(const DebugImageSignal::slot_type& slot);
    boost::signals2::connection DoOnMotion(const MotionSignal::slot_type& slot);

    // The capture has ended: the stop takes the frames still queued and ends.
    void ProducersEnded() override;

    // The real counter factory.
    static IUniversalPeopleCounter* CreateCounterInstance(CounterAlgorithm algorithm, const std::string& algo_config,
                                                          std::shared_ptr<BlockEntities::Log::ILog> log,
                                                          double tilt_angle);

protected:
    void ThreadFunc() override;

private:
    using CounterPtr = std::shared_ptr<IUniversalPeopleCounter>;

    CounterPtr CreateFlowtally(const std::string& config_path, bool stereo, double angle);
    // Runs the counter on frames until the angle changes or the stop is done. After the stop
    // request it goes on taking frames while the capture stops, then runs it on the frames still
    // queued (or counts them as dropped when dropping is allowed).
    void CountFrames(const CounterPtr& counter);
    // Hands one frame to the counter (if any) and emits what it produced.
    void ProcessFrame(const CounterPtr& counter, const Frame& frame, AlarmVector& alarms,
                      std::vector<cv::Mat>& debug_images);
    bool IsMotion(const IUniversalPeopleCounter& counter) const;
    void EmitAlarms(const AlarmVector& alarms, unsigned long long timestamp);
    void LogClosingLines(std::chrono::steady_clock::time_point start);

    int m_width;
    int m_height;
    bool m_stereo;
    bool m_algo_may_drop;
    std::string m_config_path;
    std::atomic<double> m_angle{0.0};
    std::atomic<bool> m_angle_changed{true};
    util::bounded_buffer<Frame> m_frames{kQueueCapacity};
    std::atomic<int> m_dropped_frames{0};
    AlarmSignal m_on_alarm;
    DebugImageSignal m_on_debug_image;
    MotionSignal m_on_motion;
    bool m_debug;
    unsigned long long m_skip_ms;
    double m_max_valid_angle;
    unsigned int m_pixel_threshold;
    double m_moving_threshold;
    MotionDetectionSubject m_motion_subject;
    std::atomic<unsigned int> m_frames_received{0};
    AlgoTimePoint m_base_time;
    CounterFactory m_counter_factory;
};
