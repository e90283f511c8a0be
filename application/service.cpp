#include "application/service.h"

#include <cstdio>
#include <fstream>
#include <iomanip>

#include <gst/gst.h>
#include <gstreamermm/iterator.h>
#include <opencv2/imgproc.hpp>
#include <soci/soci.h>

#include "application/devices/frame_buffer.h"
#include "application/devices/inclinometer.h"
#include "application/outputs/alarms_db_thread.h"
#include "application/outputs/image_output.h"
#include "application/outputs/indicator_thread.h"
#include "application/outputs/led_controller.h"
#include "application/runtime/buffer_wrapper.h"
#include "application/runtime/file_error_handler.h"
#include "application/runtime/log_channels.h"
#include "application/runtime/mat_utils.h"
#include "application/runtime/signals2.h"
#include "application/runtime/thread_manager.h"
#include "application/runtime/util.h"
#include "application/streaming/stream_clients.h"
#include "application/streaming/stream_start.h"

namespace {

constexpr const char* kDatabaseErrorMarker = "db_error";

// The camera's raw video in Matroska, served by GStreamer's TCP server on the stream port.
std::string MainStreamDescription(int stream_port)
{
    return " capsfilter caps=video/x-raw ! matroskamux streamable=true  ! tcpserversink sync=false port=" +
           std::to_string(stream_port);
}

// GLib resolves the TCP server sink's default host "localhost" to the IPv6 loopback first, which
// would refuse every client of 127.0.0.1: the stream is served on the IPv4 loopback instead.
void ServeOnIpv4Loopback(streaming::Bin& streamer)
{
    Gst::Iterator<Gst::Element> it = streamer.GetPipeline()->iterate_recurse();
    while (it.next() == Gst::ITERATOR_OK) {
        Glib::RefPtr<Gst::Element> element = *it;
        GstElementFactory* factory = gst_element_get_factory(element->gobj());
        if (factory && std::string(GST_OBJECT_NAME(factory)) == "tcpserversink")
            g_object_set(element->gobj(), "host", "127.0.0.1", nullptr);
    }
}

// JPEG snapshots: one frame a second from a camera of at least 640 x 480 per view, else 11;
// in stereo mode only the left view.
std::string JpegBranchDescription(const ServiceOptions& options)
{
    const int rate = options.camera_width * options.camera_height >= 640 * 480 ? 1 : 11;
    std::string description = "videorate ! video/x-raw,framerate=" + std::to_string(rate) + "/1 ! ";
    if (options.stereo)
        description += "videocrop right=" + std::to_string(options.camera_width) + " ! ";
    return description + "jpegenc";
}

MatrixFactory HeaderOfType(int type)
{
    return [type](int width, int height, unsigned char* data) { return cv::Mat(height, width, type, data); };
}

}  // namespace

Service::Service(const ServiceOptions& options, LogSource& logger, ThreadManager& manager, ServiceSeams seams)
    : m_options(options),
      m_logger(logger),
      m_alarms_logger(Logger::GetLogSource(channel::kAlarms)),
      m_manager(manager),
      m_seams(std::move(seams)),
      m_debug_streams(logger, options.stream_port, manager)
{
    CreateAlarmsDatabase();
    CreateIndicator();
    CreateCapture();
    if (m_options.image_port != 0)
        CreateImageOutput();
    if (!m_options.frame_buffer.empty())
        CreateFrameBuffer();
    m_leds = std::make_unique<LedController>(m_options.set_leds);
    if (m_options.algo_enabled)
        CreateAlgorithms();
    // Last thread: runs the capture pipeline with all its branches.
    m_capture_thread = m_manager.CreateThread<streaming::PipelineMessageProcessor>(std::ref(*m_capture));
}

Service::~Service() = default;

void Service::CreateAlarmsDatabase()
{
    try {
        m_alarms_db = m_manager.CreateThread<AlarmsDbThread>(
            m_options.alarms, channel::kAlarms, m_options.alarms_max_page_count, m_seams.statement_queue_limit);
        m_database = m_alarms_db.get();
        m_incoming_total = m_options.board_incoming_correction;
        m_outgoing_total = m_options.board_outgoing_correction;
        if (!m_alarms_db->IsReady()) {
            m_totals_put_off = true;
            return;
        }
        try {
            m_incoming_total += m_alarms_db->GetAlarmsCount(AlarmsDbThread::kIncomingPass,
                                                            m_options.board_counter_start_date,
                                                            m_options.board_counter_start_time);
            m_outgoing_total += m_alarms_db->GetAlarmsCount(AlarmsDbThread::kOutgoingPass,
                                                            m_options.board_counter_start_date,
                                                            m_options.board_counter_start_time);
        } catch (const soci::soci_error& error) {
            if (!AlarmsDbThread::IsLockedError(error))
                throw;
            // Locked by another connection: the database thread counts when it is free.
            m_incoming_total = m_options.board_incoming_correction;
            m_outgoing_total = m_options.board_outgoing_correction;
            m_totals_put_off = true;
        }
    } catch (const soci::soci_error& error) {
        // The service counts on without storing; the totals start at 0, without corrections.
        m_incoming_total = 0;
        m_outgoing_total = 0;
        m_database = nullptr;
        m_totals_put_off = false;
        LOG(m_logger, error) << "Alarms database '" << LoggedValue(m_options.alarms)
                             << "' unavailable, passes will not be stored: " << error.what();
        FileErrorHandler::SetError(kDatabaseErrorMarker);
    }
}

void Service::CreateIndicator()
{
    const int incoming = static_cast<int>(m_incoming_total);
    const int outgoing = static_cast<int>(m_outgoing_total);
    if (m_seams.board_modem_lines)
        m_indicator =
            m_manager.CreateThread<IndicatorThread>(incoming, outgoing, channel::kIndicator, m_options.board_device,
                                                    *m_seams.board_modem_lines, m_seams.board_tty_class_dir);
    else
        m_indicator =
            m_manager.CreateThread<IndicatorThread>(incoming, outgoing, channel::kIndicator, m_options.board_device);
    if (m_totals_put_off) {
        LOG(m_logger, info) << "Alarms database is locked, the totals are added when it is free";
        IndicatorThread* indicator = m_indicator.get();
        m_alarms_db->RequestTotals(m_options.board_counter_start_date, m_options.board_counter_start_time,
                                   [indicator](long long incoming_count, long long outgoing_count) {
                                       indicator->AddToTotals(incoming_count, outgoing_count);
                                   });
    }
}

void Service::CreateCapture()
{
    LOG(m_logger, info) << "Stereo is " << (m_options.stereo ? "on." : "off.");
    LOG(m_logger, trace) << "Initializing GStreamer...";
    streaming::InitGstreamer();
    m_capture = std::make_unique<streaming::Source>(channel::kCapture, m_options.pipeline);
    if (m_options.stream_port != 0) {
        auto streamer =
            std::make_shared<streaming::Bin>(channel::kMainStreamer, MainStreamDescription(m_options.stream_port));
        ServeOnIpv4Loopback(*streamer);
        streaming::LimitStreamClients(*streamer);
        streaming::StartClientsAtClusters(*streamer);
        m_capture->AddBin(streamer);
    }
}

void Service::CreateImageOutput()
{
    auto image_output =
        m_manager.CreateThread<ImageOutput>(static_cast<unsigned short>(m_options.image_port), channel::kImage);
    auto jpeg = std::make_shared<streaming::Source>(channel::kJpeg, JpegBranchDescription(m_options));
    m_capture->AddBin(jpeg);
    ImageOutput* output = image_output.get();
    jpeg->DoOnFrame(streaming::Source::FrameSlot([output](Glib::RefPtr<Gst::Sample> sample, unsigned long long) {
                        output->SendFrame(std::make_shared<GstreamerBufferWrapper>(sample));
                    }).track_foreign(image_output));
}

void Service::CreateFrameBuffer()
{
    try {
        m_frame_buffer = m_manager.CreateThread<FrameBuffer>(m_options.frame_buffer, channel::kFrameBuffer);
        FrameBuffer* display = m_frame_buffer.get();
        m_capture->DoOnFrame(
            streaming::Source::FrameSlot([display](Glib::RefPtr<Gst::Sample> sample, unsigned long long) {
                MatrixPtr frame = CreateMatrixFromGstBuffer(sample, HeaderOfType(CV_8UC3));
                display->DrawFrame(frame, cv::Point(40, 0), FrameBuffer::ScaleForSlot(640, frame->cols));
            }).track_foreign(m_frame_buffer),
            "BGR");
    } catch (const std::exception& error) {
        LOG(m_logger, warning) << error.what();
    }
}

void Service::CreateAlgorithms()
{
    m_algo = std::make_shared<AlgoThread>(m_options.stereo, m_options.algo_config, m_options.algo_width,
                                          m_options.algo_height, m_options.debug, m_options.skip_ms,
                                          m_options.max_valid_angle, m_options.motion_sensitivity, channel::kAlgo,
                                          m_options.algo_may_drop, m_options.motion_subject, m_manager,
                                          m_seams.counter_factory);
    ConnectAlarmSlots();

    if (m_frame_buffer) {
        FrameBuffer* display = m_frame_buffer.get();
        m_algo->DoOnDebugImage([display](const std::vector<cv::Mat>& images, unsigned long long) {
            if (images.empty())
                return;
            display->DrawFrame(WrapMatrix(images[0]), cv::Point(40, 240),
                               FrameBuffer::ScaleForSlot(320, images[0].cols));
            if (images.size() >= 2)
                display->DrawFrame(WrapMatrix(images[1]), cv::Point(360, 240),
                                   FrameBuffer::ScaleForSlot(320, images[1].cols));
        });
    }
    if (m_options.stream_port != 0 && m_options.debug) {
        DebugStreams* streams = &m_debug_streams;
        m_algo->DoOnDebugImage([streams](const std::vector<cv::Mat>& images, unsigned long long timestamp) {
            streams->OnDebugImages(images, timestamp);
        });
    }

    const cv::Size target(m_options.algo_width * (m_options.stereo ? 2 : 1), m_options.algo_height);
    AlgoThread* algo = m_algo.get();
    m_capture->DoOnFrame(
        streaming::Source::FrameSlot([algo, target](Glib::RefPtr<Gst::Sample> sample, unsigned long long timestamp) {
            MatrixPtr frame = CreateMatrixFromGstBuffer(sample, HeaderOfType(CV_8UC1));
            if (frame->size() != target) {
                cv::Mat scaled;
                cv::resize(*frame, scaled, target, 0, 0, cv::INTER_LINEAR);
                frame = WrapMatrix(scaled);
            }
            algo->PushFrame(frame, timestamp);
        }).track_foreign(m_algo),
        "GRAY8");

    util::RemoveRegularFile(m_options.angle_file_path);
    if (m_options.inclinometer) {
        m_inclinometer = std::make_shared<Inclinometer>(channel::kInclinometer, m_manager);
        const bool debug = m_options.debug;
        const std::string angle_file = m_options.angle_file_path;
        LogSource& logger = m_logger;
        m_inclinometer->DoOnAngleChange(Inclinometer::AngleSignal::slot_type([algo, debug, angle_file, &logger](
                                                                                 double angle) {
                                            algo->SetAngle(angle);
                                            if (debug)
                                                WriteAngleFile(angle_file, angle, logger);
                                        }).track_foreign(m_algo));
        m_manager.AddThread(m_inclinometer);
    } else {
        m_algo->SetAngle(m_options.camera_angle);
        if (m_options.debug)
            WriteAngleFile(m_options.angle_file_path, m_options.camera_angle, m_logger);
    }
    m_manager.AddThread(m_algo);
}

void Service::ConnectAlarmSlots()
{
    LedController* leds = m_leds.get();
    m_algo->DoOnAlarm([leds](const Alarm& alarm) {
        if (alarm.type == kIncoming)
            leds->EventIn();
        else if (alarm.type == kOutgoing)
            leds->EventOut();
    });
    // Without a database the slot names every pass that is not stored.
    if (m_alarms_db)
        m_algo->DoOnAlarm(AlgoThread::AlarmSignal::slot_type([this](const Alarm& alarm) { StoreAlarm(alarm); })
                              .track_foreign(m_alarms_db));
    else
        m_algo->DoOnAlarm([this](const Alarm& alarm) { StoreAlarm(alarm); });
    IndicatorThread* indicator = m_indicator.get();
    m_algo->DoOnAlarm(AlgoThread::AlarmSignal::slot_type([indicator](const Alarm& alarm) {
                          indicator->ProcessAlarm(alarm);
                      }).track_foreign(m_indicator));
}

// Queues the alarm's statement without waiting. A pass that cannot be stored is named in the log
// with its row: without a database, and beyond the limit of statements waiting for it.
void Service::StoreAlarm(const Alarm& alarm)
{
    AlarmsDbThread::Statement statement;
    statement.is_insert = alarm.type != kMovedOut;
    statement.object_id = alarm.object_id;
    statement.local_time = util::localtime();
    if (statement.is_insert) {
        statement.pass_type = static_cast<AlarmsDbThread::PassType>(alarm.type);
        statement.object_height = alarm.object_height;
    }
    if (!m_database) {
        LOG(m_alarms_logger, error) << "not stored: " << AlarmsDbThread::RowText(statement, nullptr);
        return;
    }
    if (m_database->InsertOrUpdate(statement)) {
        m_statement_queue_full = false;
        return;
    }
    // Reported once until a statement is queued again.
    if (!m_statement_queue_full) {
        LOG(m_logger, error) << "The buffer of DB statements is full!";
        m_statement_queue_full = true;
    }
    m_database->ReportNotStored(statement);
}

void Service::WriteAngleFile(const std::string& path, double angle, LogSource& logger)
{
    std::ofstream file(path, std::ios::out | std::ios::trunc);
    if (file)
        file << std::fixed << std::setprecision(5) << angle << std::endl;
    if (!file)
        LOG(logger, warning) << "Can not write the angle file " << LoggedValue(path);
}
