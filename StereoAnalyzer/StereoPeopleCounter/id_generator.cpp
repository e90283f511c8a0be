#include "StereoAnalyzer/StereoPeopleCounter/id_generator.h"

#include <limits>

namespace stereo {

namespace {
int32_t After(int32_t id)
{
    return id >= std::numeric_limits<int32_t>::max() ? 1 : id + 1;
}
}  // namespace

int ObjectIdSequence::Next()
{
    int32_t last = m_last.load(std::memory_order_relaxed);
    while (!m_last.compare_exchange_weak(last, After(last), std::memory_order_relaxed)) {
    }
    return After(last);
}

int ObjectIdSequence::Peek() const
{
    return After(m_last.load(std::memory_order_relaxed));
}

ObjectIdSequence& ObjectIdSequence::ForThisRun()
{
    static ObjectIdSequence sequence;
    return sequence;
}

}  // namespace stereo
