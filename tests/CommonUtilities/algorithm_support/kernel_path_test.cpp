#include "CommonUtilities/algorithm_support/kernel_path.h"

#include <gtest/gtest.h>

namespace {

using AlgoLibrary::KernelPath;

TEST(ScopedKernelPathTest, NestedChoicesHoldForTheirScopeAndAreRestored)
{
    ASSERT_EQ(AlgoLibrary::ActiveKernelPath(), KernelPath::kVector) << "the service's path by default";
    {
        const AlgoLibrary::ScopedKernelPath scalar(KernelPath::kScalar);
        EXPECT_EQ(AlgoLibrary::ActiveKernelPath(), KernelPath::kScalar);
        {
            const AlgoLibrary::ScopedKernelPath vector(KernelPath::kVector);
            EXPECT_EQ(AlgoLibrary::ActiveKernelPath(), KernelPath::kVector);
        }
        EXPECT_EQ(AlgoLibrary::ActiveKernelPath(), KernelPath::kScalar);
    }
    EXPECT_EQ(AlgoLibrary::ActiveKernelPath(), KernelPath::kVector);
}

}  // namespace
