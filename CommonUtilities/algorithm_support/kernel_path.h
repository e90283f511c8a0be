#pragma once

namespace AlgoLibrary {

// Which implementation of a vectorised routine runs: the plain C++ loop, which is the reference, or
// the one written with OpenCV's universal intrinsics. Both give identical results; a build without
// vector instructions runs the plain loop either way.
enum class KernelPath { kScalar, kVector };

// "scalar" or "vector", for messages and benchmark names.
inline const char* KernelPathName(KernelPath path)
{
    return path == KernelPath::kVector ? "vector" : "scalar";
}

// The path every vectorised routine takes: kVector unless a ScopedKernelPath chose otherwise. A
// routine reads it once when it is called and hands the value down to its inner loops, so one
// choice holds for a whole computation (tests and benchmarks compare the two paths with it).
KernelPath ActiveKernelPath();

// Selects a path for the life of the object and restores the previous one afterwards. The choice is
// process-wide; the service never changes it.
class ScopedKernelPath {
public:
    explicit ScopedKernelPath(KernelPath path);
    ~ScopedKernelPath();
    ScopedKernelPath(const ScopedKernelPath&) = delete;
    ScopedKernelPath& operator=(const ScopedKernelPath&) = delete;

private:
    KernelPath m_previous;
};

}  // namespace AlgoLibrary
