#pragma once

#include <ctime>
#include <string>

namespace util {

// The current local calendar time, cut to whole seconds.
std::tm localtime();

// True when an input file stream opened on the path is in good state.
bool CheckFileExistence(const std::string& path);

// Deletes `path` when it names a regular file (not a directory, link or device); anything
// else, a missing path included, is left alone.
void RemoveRegularFile(const std::string& path);

}  // namespace util
