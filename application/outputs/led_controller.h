#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "PeopleCounter/universal/alarm.h"

// Signals every counted pass on the camera's LEDs by running an external utility, without ever
// holding up the caller: each event runs on a detached worker thread. Each utility runs in a
// process group of its own, so that Stop (at the latest the destructor) can end a utility that
// hangs together with the processes it started, and reap it, before the service exits.
class LedController {
public:
    static constexpr const char* kModeArg = "--mode";
    static constexpr const char* kInEvent = "pass_in_event";
    static constexpr const char* kOutEvent = "pass_out_event";
    // At most this many utilities run at once; later events wait for a free worker.
    static constexpr unsigned kMaxRunning = 4;
    // Events waiting beyond this number are dropped (with a warning) rather than piled up.
    static constexpr std::size_t kMaxPending = 100;

    // How long running utilities may take to finish at Stop before they are ended, first with
    // SIGTERM and then, after as long again, with SIGKILL.
    static constexpr std::chrono::milliseconds kStopGrace{200};

    explicit LedController(const std::string& set_leds_path);
    // Stops as Stop does.
    ~LedController();
    LedController(const LedController&) = delete;
    LedController& operator=(const LedController&) = delete;

    void EventIn();
    void EventOut();
    // The alarm slot: EventIn for "Incoming", EventOut for "Outgoing", nothing for the others.
    void ProcessAlarm(const Alarm& alarm);
    // Runs no further event, drops those waiting (with a warning), and ends and reaps every
    // utility still running, with the processes of its group. Idempotent.
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
