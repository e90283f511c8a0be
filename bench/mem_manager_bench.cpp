// Allocation and release of small blocks: the algorithms' pool against malloc/free, with the
// ratio of the two printed at the end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "CommonUtilities/algorithm_support/mem_manager.h"
#include "bench/time_ratios.h"

namespace {

constexpr int kBlocks = 1000;

// The same request sizes (4 to 256 bytes) and release order for both contenders.
struct Workload {
    Workload()
    {
        std::mt19937 random(20150412);
        std::uniform_int_distribution<std::size_t> size(4, 256);
        for (int i = 0; i < kBlocks; ++i) sizes.push_back(size(random));
        release_order.resize(kBlocks);
        std::iota(release_order.begin(), release_order.end(), 0);
        std::shuffle(release_order.begin(), release_order.end(), random);
    }

    std::vector<std::size_t> sizes;
    std::vector<int> release_order;
};

const Workload& GetWorkload()
{
    static const Workload workload;
    return workload;
}

void BM_MemManagerSmallBlocks(benchmark::State& state)
{
    const Workload& workload = GetWorkload();
    AlgoLibrary::MemManager::MemoryManagerAllocate pool;
    std::vector<void*> blocks(kBlocks);
    for (auto _ : state) {
        for (int i = 0; i < kBlocks; ++i) {
            blocks[i] = pool._allocate(workload.sizes[i]);
            benchmark::DoNotOptimize(blocks[i]);
        }
        for (int i : workload.release_order) pool._deallocate(blocks[i]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlocks);
}
BENCHMARK(BM_MemManagerSmallBlocks);

void BM_MallocSmallBlocks(benchmark::State& state)
{
    const Workload& workload = GetWorkload();
    std::vector<void*> blocks(kBlocks);
    for (auto _ : state) {
        for (int i = 0; i < kBlocks; ++i) {
            blocks[i] = std::malloc(workload.sizes[i]);
            benchmark::DoNotOptimize(blocks[i]);
        }
        for (int i : workload.release_order) std::free(blocks[i]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlocks);
}
BENCHMARK(BM_MallocSmallBlocks);

}  // namespace

int main(int argc, char** argv)
{
    // Below 1 means the pool is faster than malloc/free.
    return bench_support::RunAndPrintTimeRatios(argc, argv, {{"BM_MemManagerSmallBlocks", "BM_MallocSmallBlocks"}});
}
