#pragma once

#include <string>
#include <vector>

namespace tools {

// The `main` of a command-line tool: runs `run`, and turns an exception into "<name>: <message>"
// on standard error and exit code 2.
int RunTool(const char* name, int (*run)(int argc, char** argv), int argc, char** argv);

// A number option's value; std::runtime_error naming the option and its range when the text is
// not a finite number in low..high.
double NumberOption(const std::string& name, const std::string& text, double low, double high);

// A comma-separated list of whole numbers in low..high; std::runtime_error naming the option when
// a field is not one, or the list is empty.
std::vector<int> IntListOption(const std::string& name, const std::string& text, int low, int high);

}  // namespace tools
