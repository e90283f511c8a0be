#pragma once

namespace util {

// How MarkCloseOnExecFrom finds the descriptors. The service takes the best way the kernel offers;
// each of the others can be taken alone, so that it can be run on a kernel that offers a better one.
enum class CloseOnExecWay {
    kBest,        // close_range; where that is refused, /proc; where that fails, the limit
    kCloseRange,  // close_range with its close-on-exec flag only: nothing is marked where it is refused
    kProcWalk,    // the descriptors /proc/self/fd lists only: nothing is marked where it can not be read
    kLimitWalk,   // every number below the descriptor limit (its soft value, at most 2^20)
};

// Marks every open descriptor from `first` up close-on-exec, so that a program this process (or a
// child of it, between fork and exec) starts gets none of them, whoever opened them and however.
// Marking rather than closing keeps a descriptor the child still needs until its exec (the pipe
// that reports a failed exec) working. Only async-signal-safe calls, whichever the way: safe in the
// child of a fork of a threaded program. The best way uses close_range where the kernel has it
// (5.11 and later, with its close-on-exec flag), otherwise the descriptors /proc lists, otherwise
// every number below the descriptor limit.
void MarkCloseOnExecFrom(int first, CloseOnExecWay way = CloseOnExecWay::kBest) noexcept;

}  // namespace util
