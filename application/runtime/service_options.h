#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include <boost/any.hpp>
#include <boost/program_options.hpp>

#include "application/runtime/logger.h"

// What the single-camera motion decision reacts to.
enum MotionDetectionSubject {
    kMotionOnlyPeople = 0,
    kMotionAnything = 1,
};

constexpr const char* kMotionOnlyPeopleOptionValue = "only_people";
constexpr const char* kMotionAnythingOptionValue = "anything";

// The library's validation error for an invalid option value, with a text that names the value
// and the choices. The text is given whole: the library fills the placeholders of its own texts
// ("%value%") by replacing them until none is left, which a value holding one would never end.
class InvalidChoiceError : public boost::program_options::validation_error {
public:
    explicit InvalidChoiceError(std::string text);
    const char* what() const noexcept override;

private:
    std::string m_text;
};

// Reads a MotionDetectionSubject from exactly one token, case-sensitively. Any other text is the
// library's validation error for an invalid option value, its text naming the value and the choices.
void validate(boost::any& value, const std::vector<std::string>& tokens, MotionDetectionSubject*, int);
std::ostream& operator<<(std::ostream& stream, MotionDetectionSubject subject);

// The service's own configuration keys, with their defaults.
struct ServiceOptions {
    std::string config;
    bool inclinometer = true;
    std::string alarms = "/opt/flowtally/alarms.sqlite";
    int alarms_max_page_count = 250000;
    int image_port = 11009;
    std::string set_leds = "/opt/flowtally/bin/set_leds";
    std::string algo_config = "/opt/flowtally/etc/algo.ini";
    std::string frame_buffer;
    int stream_port = 11010;
    int algo_width = 160;
    int algo_height = 120;
    int camera_width = 320;
    int camera_height = 240;
    double camera_angle = 0.0;
    double max_valid_angle = 0.4363323129985824;
    unsigned long long skip_ms = 5000;
    bool debug = false;
    bool stereo = true;
    std::string angle_file_path = "/run/brisko/camera_angle";
    std::string board_counter_start_date = "2013-08-01";
    std::string board_counter_start_time = "00:00:00";
    int board_incoming_correction = 0;
    int board_outgoing_correction = 0;
    std::string board_device;
    std::string error_file_directory = "/run/brisko/errors";
    unsigned int motion_sensitivity = 0;
    MotionDetectionSubject motion_subject = kMotionOnlyPeople;
    bool algo_enabled = true;
    std::string pipeline =
        "v4l2src device=/dev/video0 ! capsfilter "
        "caps=\"video/x-raw,width={camera_width},height={camera_height},framerate=25/1\" name=tail";
    std::string log_filter;
    bool algo_may_drop = true;
};

// Declares the options, reads the command line and the configuration file, and prepares the
// values the start-up wiring consumes.
class ServiceOptionsParser {
public:
    enum class Outcome { kRun, kHelp, kVersion };

    explicit ServiceOptionsParser(ServiceOptions& options);

    // Parses and stores the command line; the library's errors propagate (each '%' of a text
    // from outside in them escaped, as its placeholders are filled in by repeated replacement).
    Outcome ParseCommandLine(int argc, const char* const argv[]);
    void PrintHelp(std::ostream& out) const;
    static void PrintVersion(std::ostream& out);

    // Reads the configuration file named by `config` (if any). Command-line values win;
    // unknown keys are ignored. Throws with the file's name: "Can not open configuration file"
    // for one that is missing or can not be opened, "Can not read configuration file" with the
    // reason for one that fails while it is read, "... is not a regular file" for a directory, a
    // FIFO or a device; and with the key's name for a value that holds a NUL byte.
    void ReadConfigFile(LogSource& logger);

    // Expands the pipeline macros, applies the frame-skip rule and checks narrowed values. The
    // board's start date and time are written as the alarms table stores them ("2026-8-1" as
    // "2026-08-01", with a warning); one in another form is reported as an error and kept.
    void Finalize(LogSource& logger);

private:
    ServiceOptions& m_options;  // owned by the caller
    boost::program_options::options_description m_generic;
    boost::program_options::options_description m_configuration;
    boost::program_options::options_description m_all;
    boost::program_options::variables_map m_values;
};

// Replaces every "{camera_width}" (doubled in stereo mode) and "{camera_height}".
std::string ExpandPipelineMacros(const std::string& pipeline, int camera_width, int camera_height, bool stereo);
