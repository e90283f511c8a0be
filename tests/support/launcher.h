#pragma once

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// The command that starts a program of the tree (the service, the renderer) or of the system
// (gst-launch-1.0). In a cross build CTest names a launcher in FLOWTALLY_TEST_LAUNCHER that runs
// the target's programs through the emulator; it goes first. Natively the command is unchanged.
inline std::vector<std::string> LaunchCommand(std::vector<std::string> command)
{
    const char* launcher = std::getenv("FLOWTALLY_TEST_LAUNCHER");
    if (launcher && *launcher)
        command.insert(command.begin(), launcher);
    return command;
}

// The tests run under the emulator (a cross build): durations mean nothing there, and a fork of a
// threaded program now and then leaves the child stuck inside the emulator before its exec.
inline bool UnderEmulator()
{
    const char* launcher = std::getenv("FLOWTALLY_TEST_LAUNCHER");
    return launcher && *launcher;
}

}  // namespace testing_support
