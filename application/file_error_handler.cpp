#include "application/file_error_handler.h"

#include <fstream>

#include <boost/filesystem.hpp>

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
    std::ofstream marker(MarkerPath(m_error_file_directory, name).string(), std::ios::out | std::ios::trunc);
}

void FileErrorHandler::ClearError(const std::string& name)
{
    fs::remove(MarkerPath(m_error_file_directory, name));
}
