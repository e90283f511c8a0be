#pragma once

namespace stereo {

// Provisional: the object id source.
class IDGenerator {
public:
    int TakeNextId() { return m_next++; }

private:
    int m_next = 1;
};

}  // namespace stereo
