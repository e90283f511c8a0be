#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "application/algo_thread.h"
#include "application/debug_streams.h"
#include "application/outputs/alarms_db_thread.h"
#include "application/runtime/logger.h"
#include "application/runtime/service_options.h"
#include "application/streaming/pipeline_message_processor.h"
#include "application/streaming/source.h"

class FrameBuffer;
class IModemLines;
class ImageOutput;
class Inclinometer;
class IndicatorThread;
class LedController;
class ThreadManager;

// Platform seams of the service's parts, for running the whole wiring where the hardware is absent.
struct ServiceSeams {
    // Builds the people counter for an angle.
    AlgoThread::CounterFactory counter_factory = &AlgoThread::CreateCounterInstance;
    // The indicator board's modem lines and terminal list; null: the real ones.
    IModemLines* board_modem_lines = nullptr;
    std::string board_tty_class_dir = "/sys/class/tty";
    // How many statements may wait for the database (tests take a few).
    std::size_t statement_queue_limit = AlarmsDbThread::kQueueLimit;
};

// Everything the service runs: built in start-up order by the constructor, each thread started
// by the manager as soon as it exists, the capture pipeline's thread last. The manager must have
// joined every thread before the service is destroyed.
class Service {
public:
    // `logger` (channel "main") and `manager` are owned by the caller and outlive the service.
    Service(const ServiceOptions& options, LogSource& logger, ThreadManager& manager,
            ServiceSeams seams = ServiceSeams());
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Writes the tilt in radians, five decimals, to the angle file; a failure is a warning.
    static void WriteAngleFile(const std::string& path, double angle, LogSource& logger);

private:
    void CreateAlarmsDatabase();
    void CreateIndicator();
    void CreateCapture();
    void CreateImageOutput();
    void CreateFrameBuffer();
    void CreateAlgorithms();
    void ConnectAlarmSlots();
    void StoreAlarm(const Alarm& alarm);

    const ServiceOptions m_options;
    LogSource& m_logger;
    LogSource m_alarms_logger;  // channel "alarms", for passes without a database
    ThreadManager& m_manager;
    ServiceSeams m_seams;

    long long m_incoming_total = 0;
    long long m_outgoing_total = 0;
    std::shared_ptr<AlarmsDbThread> m_alarms_db;
    AlarmsDbThread* m_database = nullptr;  // null after a database failure at start
    bool m_totals_put_off = false;         // the database was locked at start: it counts later
    bool m_statement_queue_full = false;   // used on the algorithm thread only
    std::shared_ptr<IndicatorThread> m_indicator;
    std::unique_ptr<streaming::Source> m_capture;
    std::shared_ptr<FrameBuffer> m_frame_buffer;
    std::unique_ptr<LedController> m_leds;
    std::shared_ptr<AlgoThread> m_algo;
    std::shared_ptr<Inclinometer> m_inclinometer;
    DebugStreams m_debug_streams;
    std::shared_ptr<streaming::PipelineMessageProcessor> m_capture_thread;
};
