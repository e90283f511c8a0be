#pragma once

#include <cstdint>
#include <vector>

#include "CommonUtilities/algorithm_support/context.h"

namespace AlgoLibrary {
namespace StatUtils {

// Which derived series of a value are of interest (a bit set).
struct SubjectOfInterest {
    enum Enum : int32_t {
        Value = 1,
        Increment = 2,
        AbsIncrement = 4,
    };
};

}  // namespace StatUtils
}  // namespace AlgoLibrary

namespace BlockEntities {
namespace Stats {

enum ItemKind : int32_t {
    kTimerStart = 1,
    kTimerElapsed = 2,
    kInteger = 3,
    kDouble = 4,
};

// One measurement handed to the statistics storage.
struct Item {
    union Value {
        int64_t as_int;
        double as_double;
    };

    const char* name;  // the caller's literal, not copied
    int32_t kind;
    AlgoLibrary::StatUtils::SubjectOfInterest::Enum subject_of_interest;
    Value value;
};

class IStorage {
public:
    virtual void Store(const Context& context, std::vector<Item>::const_iterator begin,
                       std::vector<Item>::const_iterator end) = 0;
    virtual ~IStorage() = default;
};

}  // namespace Stats
}  // namespace BlockEntities
