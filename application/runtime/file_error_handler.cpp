#include "application/runtime/file_error_handler.h"

#include <fstream>

#include <boost/filesystem.hpp>

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

}  // namespace

void FileErrorHandler::SetErrorFileDirectory(const std::string& directory)
{
    m_error_file_directory = directory;
}

void FileErrorHandler::SetError(const std::string& name)
{
    const fs::path path = MarkerPath(m_error_file_directory, name);
    std::ofstream marker(path.string(), std::ios::out | std::ios::trunc);
    if (!marker) {
        LogSource logger = Logger::GetLogSource("error_files");
        LOG(logger, warning) << "Can not create the error marker file " << path.string();
    }
}

void FileErrorHandler::ClearError(const std::string& name)
{
    fs::remove(MarkerPath(m_error_file_directory, name));
}
