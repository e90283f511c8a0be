#include "tools/support/tool_main.h"

#include <cmath>
#include <exception>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace tools {

int RunTool(const char* name, int (*run)(int argc, char** argv), int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << name << ": " << error.what() << "\n";
        return 2;
    }
}

double NumberOption(const std::string& name, const std::string& text, double low, double high)
{
    size_t used = 0;
    double value = 0.0;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || !std::isfinite(value) || value < low || value > high)
        throw std::runtime_error("Option --" + name + " must be a number in " + std::to_string(low) + ".." +
                                 std::to_string(high) + ": " + text);
    return value;
}

std::vector<int> IntListOption(const std::string& name, const std::string& text, int low, int high)
{
    std::vector<int> values;
    std::istringstream in(text);
    std::string field;
    while (std::getline(in, field, ',')) {
        size_t used = 0;
        long value = 0;
        try {
            value = std::stol(field, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used == 0 || used != field.size() || value < low || value > high)
            throw std::runtime_error("Option --" + name + " takes whole numbers in " + std::to_string(low) + ".." +
                                     std::to_string(high) + " separated by commas: " + text);
        values.push_back(static_cast<int>(value));
    }
    if (values.empty())
        throw std::runtime_error("Option --" + name + " is empty");
    return values;
}

}  // namespace tools
