#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "PeopleCounter/universal/alarm.h"

// Signals every counted pass on the camera's LEDs by running an external utility, without ever
// holding up the caller: each event runs on a detached worker thread. Each utility runs in a
// process group of its own. At Stop (at the latest the destructor) the utilities still running
// may finish their work for a while; then each group is ended, whatever its leader did: a utility
// that hangs is ended and reaped with the processes it started, and processes a utility left
// behind when it exited are ended as well, so nothing of them outlives the service.
class LedController {
public:
    static constexpr const char* kModeArg = "--mode";
    static constexpr const char* kInEvent = "pass_in_event";
    static constexpr const char* kOutEvent = "pass_out_event";
    // At most this many utilities run at once; later events wait for a free worker.
    static constexpr unsigned kMaxRunning = 4;
    // Events waiting beyond this number are dropped (with a warning) rather than piled up.
    static constexpr std::size_t kMaxPending = 100;

    // How long running utilities (and what they left running) may take to finish at Stop before
    // their groups are sent SIGTERM; then, after kTermGrace, SIGKILL.
    static constexpr std::chrono::milliseconds kStopGrace{3000};
    static constexpr std::chrono::milliseconds kTermGrace{500};

    explicit LedController(const std::string& set_leds_path);
    // Stops as Stop does.
    ~LedController();
    LedController(const LedController&) = delete;
    LedController& operator=(const LedController&) = delete;

    void EventIn();
    void EventOut();
    // The alarm slot: EventIn for "Incoming", EventOut for "Outgoing", nothing for the others.
    void ProcessAlarm(const Alarm& alarm);
    // Runs no further event and drops those waiting (with a warning); lets the utilities' groups
    // finish within kStopGrace, then ends them and reaps the utilities. Returns within about
    // kStopGrace + kTermGrace + 2.5 s. Idempotent.
    void Stop();

private:
    struct Launcher;

    // Hands the arguments to a worker and returns at once.
    void ExecSetLeds(const std::vector<std::string>& arguments);
    // Worker body: runs the waiting events one after the other until none is left.
    static void ThreadFunc(std::shared_ptr<Launcher> launcher);
    // Runs the utility with the arguments and waits for it.
    static void RunSetLeds(Launcher& launcher, const std::vector<std::string>& arguments);

    // The utility's path and the event queue, shared with the workers, which may outlive the controller.
    std::shared_ptr<Launcher> m_launcher;
};
