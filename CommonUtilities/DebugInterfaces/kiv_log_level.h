#pragma once

// Severity of an algorithm log line. The underlying type is int, so any level a caller passes
// (values above 3 included) can be carried and is treated as the lowest one by the log sinks.
enum KIVLogLevel : int {
    kKivLogTrace = 0,
    kKivLogInfo = 1,
    kKivLogWarning = 2,
    kKivLogError = 3,
};
