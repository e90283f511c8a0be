#include "application/runtime/service_options.h"

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/algorithm/string/replace.hpp>
#include <boost/format.hpp>

#include "application/runtime/unique_fd.h"

namespace po = boost::program_options;

InvalidChoiceError::InvalidChoiceError(std::string text)
    : po::validation_error(po::validation_error::invalid_option_value), m_text(std::move(text))
{
}

const char* InvalidChoiceError::what() const noexcept
{
    return m_text.c_str();
}

void validate(boost::any& value, const std::vector<std::string>& tokens, MotionDetectionSubject*, int)
{
    po::validators::check_first_occurrence(value);
    const std::string& token = po::validators::get_single_string(tokens);
    if (token == kMotionOnlyPeopleOptionValue)
        value = boost::any(kMotionOnlyPeople);
    else if (token == kMotionAnythingOptionValue)
        value = boost::any(kMotionAnything);
    else
        throw InvalidChoiceError("Option motion_subject '" + LoggedValue(token) + "' is neither '" +
                                 kMotionOnlyPeopleOptionValue + "' nor '" + kMotionAnythingOptionValue + "'");
}

std::ostream& operator<<(std::ostream& stream, MotionDetectionSubject subject)
{
    return stream << (subject == kMotionAnything ? kMotionAnythingOptionValue : kMotionOnlyPeopleOptionValue);
}

namespace {

template <typename T>
po::typed_value<T>* Bound(T* target, const T& initial)
{
    return po::value<T>(target)->default_value(initial);
}

po::typed_value<bool>* Switch(bool* target, bool initial)
{
    return po::value<bool>(target)->default_value(initial)->implicit_value(true);
}

// The longest skip, a little under 25 days: far beyond any use and safe for the timed waits.
constexpr long long kMaxSkipMs = 2147483647;

void CheckRange(const char* name, long long value, long long low, long long high)
{
    if (value < low || value > high)
        throw std::runtime_error(
            (boost::format("Option %1% is out of range %2%..%3%: %4%") % name % low % high % value).str());
}

// The whole text split at every `separator` into numbers of `min_digits` to `max_digits` digits
// each; nothing when any piece is not.
std::optional<std::vector<int>> Numbers(const std::string& text, char separator,
                                        const std::vector<std::pair<int, int>>& digits)
{
    std::vector<int> numbers;
    std::string::size_type begin = 0;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        const auto end = i + 1 < digits.size() ? text.find(separator, begin) : text.size();
        if (end == std::string::npos)
            return std::nullopt;
        const std::string piece = text.substr(begin, end - begin);
        const int length = static_cast<int>(piece.size());
        if (length < digits[i].first || length > digits[i].second ||
            piece.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        numbers.push_back(std::stoi(piece));
        begin = end + 1;
    }
    return numbers;
}

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// A real day of the calendar written year-month-day, as the alarms table stores dates ("%Y-%m-%d").
std::optional<std::string> StoredDateForm(const std::string& text)
{
    const auto numbers = Numbers(text, '-', {{4, 4}, {1, 2}, {1, 2}});
    if (!numbers)
        return std::nullopt;
    const int year = (*numbers)[0];
    const int month = (*numbers)[1];
    const int day = (*numbers)[2];
    static const int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1)
        return std::nullopt;
    if (day > kDaysInMonth[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0))
        return std::nullopt;
    char stored[40];
    std::snprintf(stored, sizeof(stored), "%04d-%02d-%02d", year, month, day);
    return std::string(stored);
}

// A time of day written hour:minute:second, as the alarms table stores times ("%H:%M:%S").
std::optional<std::string> StoredTimeForm(const std::string& text)
{
    const auto numbers = Numbers(text, ':', {{1, 2}, {1, 2}, {1, 2}});
    if (!numbers || (*numbers)[0] > 23 || (*numbers)[1] > 59 || (*numbers)[2] > 59)
        return std::nullopt;
    char stored[40];
    std::snprintf(stored, sizeof(stored), "%02d:%02d:%02d", (*numbers)[0], (*numbers)[1], (*numbers)[2]);
    return std::string(stored);
}

// The board's totals count the rows stored since the start, comparing the texts with the stored
// dates and times: a value in another form would count a wrong number without a word. A value in
// the right form is written as the rows are; any other is reported and used as it is (the board
// is only a display: counting and storing go on). An empty value counts every row, as it always has.
void UseStoredForm(const char* name, std::string& value, const char* form,
                   std::optional<std::string> (*stored_form)(const std::string&), LogSource& logger)
{
    if (value.empty())
        return;
    const std::optional<std::string> stored = stored_form(value);
    if (!stored) {
        LOG(logger, error) << "Option " << name << " '" << LoggedValue(value) << "' is not in the form " << form
                           << ": the board counts the passes stored since it as written, compared as text";
        return;
    }
    if (*stored != value) {
        LOG(logger, warning) << "Option " << name << " '" << LoggedValue(value) << "' is used as '" << *stored << "'";
        value = *stored;
    }
}

// The library fills the placeholders of its error texts ("%value%", "%canonical_option%", ...) by
// replacing each until none is left: a name or value from outside that holds the placeholder it is
// put in for would never end, and the start would spin, deaf to stop signals. Each '%' of those
// texts is shown escaped instead, as a control character is.
class PlaceholderGuard : public po::error_with_option_name {
public:
    static void Defuse(po::error_with_option_name& error)
    {
        auto& substitutions = error.*(&PlaceholderGuard::m_substitutions);
        for (auto& substitution : substitutions) boost::algorithm::replace_all(substitution.second, "%", "\\x25");
    }
};

// The whole configuration file. Only a regular file is read (a symbolic link to one is followed):
// a FIFO without a writer or a device could hold up the start for good, and a directory reads as
// an empty file. It is opened without waiting and checked again once open, so that a file put in
// its place meanwhile cannot hold it up either. A file that fails while it is read stops the start
// rather than counting as empty.
std::string ReadConfigurationText(const std::string& path)
{
    const std::string named = "'" + LoggedValue(path) + "'";
    const std::string not_regular = "Configuration file " + named + " is not a regular file";
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        throw std::runtime_error("Can not open configuration file " + named);
    if (!S_ISREG(status.st_mode))
        throw std::runtime_error(not_regular);
    const util::UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.isValid())
        throw std::runtime_error("Can not open configuration file " + named);
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        throw std::runtime_error(not_regular);
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer, sizeof(buffer));
        if (count == 0)
            return text;
        if (count > 0) {
            text.append(buffer, static_cast<std::size_t>(count));
        } else if (errno != EINTR) {
            throw std::runtime_error("Can not read configuration file " + named + ": " +
                                     std::generic_category().message(errno));
        }
    }
}

// A value is handed on as a C string (a path, a pipeline): a NUL byte would cut it short without
// a word. Unrecognised keys are ignored and so are not looked at.
void RefuseNulBytes(const po::parsed_options& parsed, const std::string& path)
{
    for (const po::option& option : parsed.options) {
        if (option.unregistered)
            continue;
        for (const std::string& value : option.value) {
            if (value.find('\0') != std::string::npos)
                throw std::runtime_error("Option '" + LoggedValue(option.string_key) + "' in configuration file '" +
                                         LoggedValue(path) + "' holds a NUL byte");
        }
    }
}

}  // namespace

ServiceOptionsParser::ServiceOptionsParser(ServiceOptions& options)
    : m_options(options),
      m_generic("Generic options", 80, 40),
      m_configuration("Configuration", 80, 40),
      m_all(80, 40)
{
    ServiceOptions& o = m_options;
    const ServiceOptions d;
    m_generic.add_options()
        ("version,v", "print version string")
        ("help", "produce help message")
        ("config", po::value<std::string>(&o.config), "configuration file");

    m_configuration.add_options()
        ("inclinometer", Switch(&o.inclinometer, d.inclinometer), "Enable inclinometer")
        ("alarms", Bound(&o.alarms, d.alarms), "Alarms db name")
        ("alarms_max_page_count", Bound(&o.alarms_max_page_count, d.alarms_max_page_count),
         "Do not add new pages to database if it already has such amount of pages")
        ("image_port", Bound(&o.image_port, d.image_port),
         "TCP port on localhost to listen for image requests. 0 = disabled")
        ("set_leds", Bound(&o.set_leds, d.set_leds), "set_leds utility path")
        ("algo_config", Bound(&o.algo_config, d.algo_config), "Algorithms configuration file path")
        ("frame_buffer", Bound(&o.frame_buffer, d.frame_buffer), "Path to fb device")
        ("stream_port", Bound(&o.stream_port, d.stream_port),
         "TCP port on localhost to listen for GStreamer connections. 0 = disabled")
        ("algo_width", Bound(&o.algo_width, d.algo_width), "Image width for algorithms")
        ("algo_height", Bound(&o.algo_height, d.algo_height), "Image height for algorithms")
        ("camera_width", Bound(&o.camera_width, d.camera_width), "Image width to get from camera")
        ("camera_height", Bound(&o.camera_height, d.camera_height), "Image height to get from camera")
        ("camera_angle", Bound(&o.camera_angle, d.camera_angle), "Camera angle")
        ("max_valid_angle", Bound(&o.max_valid_angle, d.max_valid_angle), "Maximum valid angle")
        ("skip_ms", Bound(&o.skip_ms, d.skip_ms), "Skip first N ms of capture.")
        ("debug", Switch(&o.debug, d.debug), "Enable debugging capabilities (i.e. debug streams, etc.)")
        ("stereo", Switch(&o.stereo, d.stereo), "")
        ("angle_file_path", Bound(&o.angle_file_path, d.angle_file_path), "Angle file path")
        ("board_counter_start_date", Bound(&o.board_counter_start_date, d.board_counter_start_date), "")
        ("board_counter_start_time", Bound(&o.board_counter_start_time, d.board_counter_start_time), "")
        ("board_incoming_correction", Bound(&o.board_incoming_correction, d.board_incoming_correction), "")
        ("board_outgoing_correction", Bound(&o.board_outgoing_correction, d.board_outgoing_correction), "")
        ("board_device", Bound(&o.board_device, d.board_device), "serial port for indicator board")
        ("error_file_directory", Bound(&o.error_file_directory, d.error_file_directory),
         "Directory to store error files")
        ("motion_sensitivity", Bound(&o.motion_sensitivity, d.motion_sensitivity), "Motion detector sensitivity")
        ("motion_subject",
         po::value<MotionDetectionSubject>(&o.motion_subject)->default_value(d.motion_subject, "only_people"),
         "subject of motion detection. For possible values see kMotion*OptionValue constants")
        ("algo_enabled", Switch(&o.algo_enabled, d.algo_enabled), "Enable algorithms")
        ("pipeline", Bound(&o.pipeline, d.pipeline),
         "Gstreamer capture pipeline part. Use {camera_width} and {camera_height} macros.")
        ("log_filter", Bound(&o.log_filter, d.log_filter),
         "Logger filter for different log sources. E.g., '*:warning;main:info;video_capture:trace' will make "
         "all sources log at least warning messages, 'main' source log at least info messages, and "
         "'video_capture' source log at least trace messages.")
        ("algo_may_drop", Switch(&o.algo_may_drop, d.algo_may_drop),
         "Allow dropping frames if algorithms are processing frames slower than frames are coming to sink");

    m_all.add(m_generic).add(m_configuration);
}

ServiceOptionsParser::Outcome ServiceOptionsParser::ParseCommandLine(int argc, const char* const argv[])
{
    try {
        po::store(po::parse_command_line(argc, argv, m_all), m_values);
        po::notify(m_values);
    } catch (po::error_with_option_name& error) {
        PlaceholderGuard::Defuse(error);
        throw;
    }
    if (m_values.count("help"))
        return Outcome::kHelp;
    if (m_values.count("version"))
        return Outcome::kVersion;
    return Outcome::kRun;
}

void ServiceOptionsParser::PrintHelp(std::ostream& out) const
{
    out << m_all << std::endl;
}

void ServiceOptionsParser::PrintVersion(std::ostream& out)
{
    out << "flowtally 3.3" << std::endl;
    out << "People counting service for overhead stereo and single cameras" << std::endl;
}

void ServiceOptionsParser::ReadConfigFile(LogSource& logger)
{
    if (m_options.config.empty())
        return;
    LOG(logger, info) << "Reading configuration from file.";
    std::istringstream text(ReadConfigurationText(m_options.config));
    try {
        const po::parsed_options parsed = po::parse_config_file(text, m_configuration, true);
        RefuseNulBytes(parsed, m_options.config);
        po::store(parsed, m_values);
        po::notify(m_values);
    } catch (po::error_with_option_name& error) {
        PlaceholderGuard::Defuse(error);
        throw;
    }
}

void ServiceOptionsParser::Finalize(LogSource& logger)
{
    // Values narrowed or used as sizes later are refused here rather than wrapped.
    CheckRange("image_port", m_options.image_port, 0, 65535);
    CheckRange("stream_port", m_options.stream_port, 0, 65535);
    CheckRange("algo_width", m_options.algo_width, 1, 65535);
    CheckRange("algo_height", m_options.algo_height, 1, 65535);
    CheckRange("camera_width", m_options.camera_width, 1, 65535);
    CheckRange("camera_height", m_options.camera_height, 1, 65535);
    // The option is unsigned, so a negative text arrives wrapped; it reads as negative here.
    CheckRange("skip_ms", static_cast<long long>(m_options.skip_ms), 0, kMaxSkipMs);

    UseStoredForm("board_counter_start_date", m_options.board_counter_start_date,
                  "year-month-day of a calendar day (e.g. 2013-08-01)", &StoredDateForm, logger);
    UseStoredForm("board_counter_start_time", m_options.board_counter_start_time,
                  "hour:minute:second of a time of day (e.g. 00:00:00)", &StoredTimeForm, logger);

    m_options.pipeline = ExpandPipelineMacros(m_options.pipeline, m_options.camera_width,
                                              m_options.camera_height, m_options.stereo);
    if (!m_options.algo_may_drop && m_options.skip_ms != 0) {
        m_options.skip_ms = 0;
        LOG(logger, warning) << "algo_may_drop is set to false, non-zero skip_ms parameter value is ignored.";
    }
}

std::string ExpandPipelineMacros(const std::string& pipeline, int camera_width, int camera_height, bool stereo)
{
    std::string result = pipeline;
    boost::algorithm::replace_all(result, "{camera_width}", std::to_string(camera_width * (stereo ? 2 : 1)));
    boost::algorithm::replace_all(result, "{camera_height}", std::to_string(camera_height));
    return result;
}
