#pragma once

namespace util {

// Marks every open descriptor from `first` up close-on-exec, so that a program this process (or a
// child of it, between fork and exec) starts gets none of them, whoever opened them and however.
// Marking rather than closing keeps a descriptor the child still needs until its exec (the pipe
// that reports a failed exec) working. Only async-signal-safe calls: safe in the child of a fork
// of a threaded program. Uses close_range where the kernel has it (5.11 and later, with its
// close-on-exec flag), otherwise the descriptors /proc lists, otherwise every number below the
// descriptor limit.
void MarkCloseOnExecFrom(int first) noexcept;

}  // namespace util
