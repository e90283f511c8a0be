#include "application/runtime/file_error_handler.h"

#include <fstream>
#include <mutex>
#include <set>

#include <boost/filesystem.hpp>

#include "application/runtime/log_channels.h"
#include "application/runtime/logger.h"

namespace fs = boost::filesystem;

std::string FileErrorHandler::m_error_file_directory;

namespace {

fs::path MarkerPath(const std::string& directory, const std::string& name)
{
    fs::path dir(directory);
    fs::create_directories(dir);
    return dir / name;
}

// Markers whose last operation failed: a marker that keeps failing is reported once, until it
// works again.
std::mutex g_failing_mutex;
std::set<std::string> g_failing_markers;

void ReportFailure(const std::string& name, const std::string& what)
{
    {
        std::lock_guard<std::mutex> lock(g_failing_mutex);
        if (!g_failing_markers.insert(name).second)
            return;
    }
    LogSource logger = Logger::GetLogSource(channel::kErrorFiles);
    // The reason names the directory, which comes from the options.
    LOG(logger, warning) << "Error marker " << name
                         << " can not be changed: " << LoggedValue(what, 4 * kLoggedValueLimit);
}

void ReportSuccess(const std::string& name)
{
    std::lock_guard<std::mutex> lock(g_failing_mutex);
    g_failing_markers.erase(name);
}

}  // namespace

void FileErrorHandler::SetErrorFileDirectory(const std::string& directory)
{
    m_error_file_directory = directory;
}

void FileErrorHandler::SetError(const std::string& name)
{
    try {
        const fs::path path = MarkerPath(m_error_file_directory, name);
        std::ofstream marker(path.string(), std::ios::out | std::ios::trunc);
        if (!marker) {
            ReportFailure(name, "can not create the file " + path.string());
            return;
        }
    } catch (const fs::filesystem_error& error) {
        ReportFailure(name, error.what());
        return;
    }
    ReportSuccess(name);
}

void FileErrorHandler::ClearError(const std::string& name)
{
    try {
        fs::remove(MarkerPath(m_error_file_directory, name));
    } catch (const fs::filesystem_error& error) {
        ReportFailure(name, error.what());
        return;
    }
    ReportSuccess(name);
}
