#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "PeopleCounter/universal/alarm.h"

// Signals every counted pass on the camera's LEDs by running an external utility, without ever
// holding up the caller: each event runs on a detached worker thread, and the caller only ever
// waits for a short update of the event queue (never for a utility's start, its end or a look at
// the running processes). Each utility runs in a process group of its own. A utility that takes
// longer than kRunBound is ended with its group, so that one that hangs cannot keep a worker; an
// event that waited longer than kStaleAfter for a worker is dropped, as its pass is long over. At
// Stop (at the latest the destructor) the utilities still running may finish their work for a
// while; then each group is ended, whatever its leader did: a utility that hangs is ended and
// reaped with the processes it started, and processes a utility left behind when it exited are
// ended as well, so nothing of them outlives the service.
//
// EventIn, EventOut and ProcessAlarm are called by the algorithm thread, Stop (and the destructor)
// by the service's owner; the workers share the queue and the sets of process groups with them
// under the launcher's one mutex.
class LedController {
public:
    static constexpr const char* kModeArg = "--mode";
    static constexpr const char* kInEvent = "pass_in_event";
    static constexpr const char* kOutEvent = "pass_out_event";
    // At most this many utilities run at once; later events wait for a free worker. With every
    // utility hanging, the workers still serve kMaxRunning / (kRunBound + kTermGrace) passes a
    // second (3.2), more than a busy door's two.
    static constexpr unsigned kMaxRunning = 8;
    // Events waiting beyond this number are dropped (with a warning) rather than piled up.
    static constexpr std::size_t kMaxPending = 100;

    // How long running utilities (and what they left running) may take to finish at Stop before
    // their groups are sent SIGTERM; then, after kTermGrace, SIGKILL.
    static constexpr std::chrono::milliseconds kStopGrace{3000};
    static constexpr std::chrono::milliseconds kTermGrace{500};

    // A utility still running this long after its start is ended as at Stop: its group is sent
    // SIGTERM, then, after kTermGrace, SIGKILL, and it is reaped (one warning for each). Setting
    // the LEDs takes well under a second.
    static constexpr std::chrono::milliseconds kRunBound{2000};
    // An event that has waited this long for a worker is dropped instead of run. Such drops are
    // logged as one warning with their number, at most once per kStaleReportInterval (and at Stop).
    static constexpr std::chrono::milliseconds kStaleAfter{2000};
    static constexpr std::chrono::milliseconds kStaleReportInterval{10000};

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
    // Runs the utility with the arguments and waits for it, at most kRunBound before ending it.
    static void RunSetLeds(Launcher& launcher, const std::vector<std::string>& arguments);

    // The utility's path and the event queue, shared with the workers, which may outlive the controller.
    std::shared_ptr<Launcher> m_launcher;
};
