#include "CommonUtilities/algorithm_support/kernel_path.h"

#include <atomic>

namespace AlgoLibrary {

namespace {
std::atomic<KernelPath> g_kernel_path{KernelPath::kVector};
}

KernelPath ActiveKernelPath()
{
    return g_kernel_path.load(std::memory_order_relaxed);
}

ScopedKernelPath::ScopedKernelPath(KernelPath path)
    : m_previous(g_kernel_path.exchange(path, std::memory_order_relaxed))
{
}

ScopedKernelPath::~ScopedKernelPath()
{
    g_kernel_path.store(m_previous, std::memory_order_relaxed);
}

}  // namespace AlgoLibrary
