// Allocation and release of small blocks: the algorithms' pool against malloc/free, with the
// ratio of the two printed at the end. Before it is timed, the pool's run is checked: the blocks
// of one round hold their bytes side by side, and a second round gets the first round's blocks
// back instead of taking more memory.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// Two rounds of the workload on a fresh pool, each block filled with a byte of its own while all
// are held: true when every block still holds its byte at the end of its round, and the second
// round was served from the first round's blocks.
bool BlocksAreApartAndReused(const Workload& workload)
{
    AlgoLibrary::MemManager::MemoryManagerAllocate pool;
    std::vector<void*> blocks(kBlocks);
    std::vector<std::vector<void*>> rounds;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < kBlocks; ++i) {
            blocks[i] = pool._allocate(workload.sizes[i]);
            std::memset(blocks[i], i % 251, workload.sizes[i]);
        }
        for (int i = 0; i < kBlocks; ++i) {
            const auto* bytes = static_cast<const unsigned char*>(blocks[i]);
            if (std::any_of(bytes, bytes + workload.sizes[i], [i](unsigned char b) { return b != i % 251; }))
                return false;
        }
        rounds.push_back(blocks);
        std::sort(rounds.back().begin(), rounds.back().end());
        for (int i : workload.release_order) pool._deallocate(blocks[i]);
    }
    return rounds[0] == rounds[1];
}

void BM_MemManagerSmallBlocks(benchmark::State& state)
{
    const Workload& workload = GetWorkload();
    if (!BlocksAreApartAndReused(workload))
        state.SkipWithError("the pool's blocks overlap, or a second round took new memory");
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
