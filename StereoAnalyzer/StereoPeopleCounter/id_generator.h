#pragma once

#include <atomic>
#include <cstdint>

namespace stereo {

// The sequence object ids are drawn from. The service keeps one for its whole run, so that an analyser
// rebuilt after an angle change never hands out an id that an earlier analyser already gave to a person
// (the database and the indicator still know those ids). Thread-safe.
class ObjectIdSequence {
public:
    ObjectIdSequence() = default;
    // A sequence that continues after `last_handed_out` (a value below 1 starts at 1).
    explicit ObjectIdSequence(int last_handed_out) : m_last(last_handed_out < 0 ? 0 : last_handed_out) {}
    ObjectIdSequence(const ObjectIdSequence&) = delete;
    ObjectIdSequence& operator=(const ObjectIdSequence&) = delete;

    // 1, 2, ...; after the largest int the sequence starts again at 1, never negative or 0.
    int Next();
    // The id the next call of Next() returns.
    int Peek() const;

    // The sequence shared by every analyser of this process.
    static ObjectIdSequence& ForThisRun();

private:
    std::atomic<int32_t> m_last{0};  // the last id handed out, 0 before the first
};

// The analyser's object id source: hands out the ids of the sequence it draws from, one per new track.
class IDGenerator {
public:
    // Draws from the run-wide sequence.
    IDGenerator() : m_sequence(&ObjectIdSequence::ForThisRun()) {}
    explicit IDGenerator(ObjectIdSequence& sequence) : m_sequence(&sequence) {}

    // The current id, then advances: the first analyser of a run gives 1, 2, ...; a later one continues.
    int GenerateNextObjectID() { return m_sequence->Next(); }
    int PeekNextObjectID() const { return m_sequence->Peek(); }

private:
    ObjectIdSequence* m_sequence;  // the run-wide sequence, or one the caller owns and keeps alive
};

}  // namespace stereo
