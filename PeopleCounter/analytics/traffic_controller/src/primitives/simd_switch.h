#pragma once

namespace AlgoLibrary {

// Whether the image primitives take their vectorised paths (the default) or their scalar ones.
// Both give identical results; the switch exists so that the two can be compared.
bool SimdEnabled();
void SetSimdEnabled(bool enabled);

// Selects a path for the life of the object and restores the previous choice afterwards.
class ScopedSimdPath {
public:
    explicit ScopedSimdPath(bool enabled) : m_previous(SimdEnabled()) { SetSimdEnabled(enabled); }
    ~ScopedSimdPath() { SetSimdEnabled(m_previous); }
    ScopedSimdPath(const ScopedSimdPath&) = delete;
    ScopedSimdPath& operator=(const ScopedSimdPath&) = delete;

private:
    bool m_previous;
};

}  // namespace AlgoLibrary
