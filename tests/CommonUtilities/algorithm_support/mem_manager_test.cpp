#include "CommonUtilities/algorithm_support/mem_manager.h"

#include <cstdint>
#include <cstring>
#include <list>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace {

using AlgoLibrary::MemManager::Allocator;
using AlgoLibrary::MemManager::MemoryManagerAllocate;
using AlgoLibrary::MemManager::MemoryManagerImpl;
using AlgoLibrary::MemManager::TMemoryManager;

MemoryManagerImpl& Impl(const MemoryManagerAllocate& handle)
{
    return dynamic_cast<MemoryManagerImpl&>(*handle.Get());
}

std::string Info(MemoryManagerAllocate& handle)
{
    char storage[2000];
    TB::BaseTextBuffer out(storage, sizeof(storage));
    handle.GetInfo(out);
    return out.GetText();
}

TEST(MemoryManagerImplTest, RequestsMapToSizeClasses)
{
    EXPECT_EQ(MemoryManagerImpl::SizeClass(0), 4);
    for (std::size_t n = 1; n <= 4; ++n)
        EXPECT_EQ(MemoryManagerImpl::SizeClass(n), 8) << n;
    EXPECT_EQ(MemoryManagerImpl::SizeClass(5), 12);
    EXPECT_EQ(MemoryManagerImpl::SizeClass(252), 256);
    EXPECT_EQ(MemoryManagerImpl::SizeClass(253), 265);
    EXPECT_EQ(MemoryManagerImpl::SizeClass(508), 265);
    EXPECT_EQ(MemoryManagerImpl::SizeClass(509), 266);
    EXPECT_EQ(MemoryManagerImpl::SizeClass(MemoryManagerImpl::kMaxRequest), 287);
    EXPECT_EQ(MemoryManagerImpl::SizeClass(MemoryManagerImpl::kMaxRequest + 1), -1);
    EXPECT_EQ(MemoryManagerImpl::ClassElementSize(265), 512u);
}

TEST(MemoryManagerImplTest, ClassesGrowByDoubling)
{
    MemoryManagerAllocate handle;
    MemoryManagerImpl& impl = Impl(handle);
    const int c = MemoryManagerImpl::SizeClass(100);
    std::vector<void*> held;
    const int expected_blocks[] = {1, 2, 3, 3, 4, 4, 4, 4, 5};
    const long long expected_made[] = {1, 2, 4, 4, 8, 8, 8, 8, 16};
    for (int i = 0; i < 9; ++i) {
        held.push_back(handle._allocate(100));
        EXPECT_EQ(impl.RawBlockCount(c), expected_blocks[i]) << i;
        EXPECT_EQ(impl.ElementsMade(c), expected_made[i]) << i;
        EXPECT_EQ(impl.ElementsHandedOut(c), i + 1);
    }
    for (void* p : held)
        handle._deallocate(p);
    EXPECT_EQ(impl.ElementsHandedOut(c), 0);
    EXPECT_EQ(impl.ElementsMade(c), 16);
}

TEST(MemoryManagerImplTest, FirstBlockSizeDependsOnClass)
{
    MemoryManagerAllocate handle;
    MemoryManagerImpl& impl = Impl(handle);
    handle._allocate(0);
    handle._allocate(3);
    handle._allocate(8);
    EXPECT_EQ(impl.ElementsMade(4), 256);
    EXPECT_EQ(impl.ElementsMade(8), 64);
    EXPECT_EQ(impl.ElementsMade(12), 1);
}

TEST(MemoryManagerImplTest, LargeClassesGrowByAQuarter)
{
    MemoryManagerAllocate handle;
    MemoryManagerImpl& impl = Impl(handle);
    const int c = MemoryManagerImpl::SizeClass(100000);
    ASSERT_EQ(c, 256 + 17);
    const long long expected_made[] = {1, 2, 3, 4, 5, 6, 7, 8, 10};
    for (int i = 0; i < 9; ++i) {
        handle._allocate(100000);
        EXPECT_EQ(impl.ElementsMade(c), expected_made[i]) << i;
    }
}

TEST(MemoryManagerImplTest, FreedElementIsReusedFirst)
{
    MemoryManagerAllocate handle;
    void* a = handle._allocate(40);
    void* b = handle._allocate(40);
    EXPECT_NE(a, b);
    handle._deallocate(a);
    EXPECT_EQ(handle._allocate(40), a);
    handle._deallocate(b);
    handle._deallocate(a);
    EXPECT_EQ(handle._allocate(37), a);
    EXPECT_EQ(handle._allocate(40), b);
}

TEST(MemoryManagerImplTest, TooLargeRequestThrowsBadAlloc)
{
    MemoryManagerAllocate handle;
    EXPECT_THROW(handle._allocate(MemoryManagerImpl::kMaxRequest + 1), std::bad_alloc);
    EXPECT_THROW(handle._allocate(static_cast<std::size_t>(-1)), std::bad_alloc);
}

TEST(MemoryManagerImplTest, InfoOfFreshManager)
{
    MemoryManagerAllocate handle;
    EXPECT_EQ(Info(handle),
              "refCount = 1\r\nsize/num/reserved: \r\n\r\nMemory = 0.00Kb, Reserved = 0.00Kb. Fragmentation = 0.00");
}

TEST(MemoryManagerImplTest, InfoListsClassesSevenPerLine)
{
    MemoryManagerAllocate handle;
    MemoryManagerAllocate second = handle;
    handle._allocate(100);
    for (int i = 0; i < 7; ++i)
        handle._allocate(static_cast<std::size_t>(200 + 4 * i));
    EXPECT_EQ(Info(handle),
              "refCount = 2\r\nsize/num/reserved: \r\n"
              " 104/ 1/ 1 \t 204/ 1/ 1 \t 208/ 1/ 1 \t 212/ 1/ 1 \t 216/ 1/ 1 \t 220/ 1/ 1 \t 224/ 1/ 1 \t\r\n"
              " 228/ 1/ 1 \t\r\nMemory = 1.58Kb, Reserved = 1.58Kb. Fragmentation = 1.00");
}

TEST(MemoryManagerImplTest, HandlesShareOneManager)
{
    MemoryManagerAllocate first;
    {
        MemoryManagerAllocate copy(first);
        MemoryManagerAllocate other;
        EXPECT_EQ(copy.Get(), first.Get());
        EXPECT_NE(other.Get(), first.Get());
        other = copy;
        EXPECT_EQ(other.Get(), first.Get());
        EXPECT_NE(Info(first).find("refCount = 3"), std::string::npos);
        MemoryManagerAllocate& alias = other;
        other = alias;
        EXPECT_NE(Info(first).find("refCount = 3"), std::string::npos);
    }
    EXPECT_NE(Info(first).find("refCount = 1"), std::string::npos);
}

TEST(MemoryManagerImplTest, RandomAllocationsKeepTheirContents)
{
    MemoryManagerAllocate handle;
    MemoryManagerImpl& impl = Impl(handle);
    std::mt19937 random(20150412);
    std::uniform_int_distribution<int> pick(0, 99);
    std::uniform_int_distribution<std::size_t> small(0, 300);
    std::uniform_int_distribution<std::size_t> large(301, 70000);

    struct Block {
        unsigned char* data;
        std::size_t size;
        unsigned char pattern;
    };
    std::vector<Block> live;
    auto check_and_free = [&](std::size_t index) {
        const Block block = live[index];
        std::size_t intact = 0;
        while (intact < block.size && block.data[intact] == static_cast<unsigned char>(block.pattern + intact))
            ++intact;
        ASSERT_EQ(intact, block.size) << "block of " << block.size << " bytes overwritten";
        handle._deallocate(block.data);
        live[index] = live.back();
        live.pop_back();
    };

    for (int step = 0; step < 100000; ++step) {
        const int choice = pick(random);
        if (!live.empty() && (choice < 45 || live.size() > 2000)) {
            check_and_free(static_cast<std::size_t>(random() % live.size()));
            continue;
        }
        const std::size_t size = choice < 95 ? small(random) : large(random);
        auto* data = static_cast<unsigned char*>(handle._allocate(size));
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(data) % alignof(void*), 0u);
        const auto pattern = static_cast<unsigned char>(step);
        for (std::size_t i = 0; i < size; ++i)
            data[i] = static_cast<unsigned char>(pattern + i);
        live.push_back(Block{data, size, pattern});
    }
    while (!live.empty())
        check_and_free(live.size() - 1);
    for (int c = 0; c < MemoryManagerImpl::kClassCount; ++c)
        EXPECT_EQ(impl.ElementsHandedOut(c), 0) << c;
}

#if defined(__SANITIZE_ADDRESS__)
TEST(MemoryManagerImplTest, FreeElementsArePoisonedForAddressSanitizer)
{
    MemoryManagerAllocate handle;
    auto* p = static_cast<char*>(handle._allocate(64));
    EXPECT_EQ(__asan_region_is_poisoned(p, 64), nullptr);
    EXPECT_TRUE(__asan_address_is_poisoned(p + 64));
    handle._deallocate(p);
    EXPECT_TRUE(__asan_address_is_poisoned(p));
}
#endif

TEST(AllocatorTest, ResultsAreAlignedAndRememberThePoolAddress)
{
    MemoryManagerAllocate handle;
    MemoryManagerImpl& impl = Impl(handle);
    Allocator<char, TMemoryManager<false>> allocator(handle);
    for (std::size_t n = 1; n < 300; n += 7) {
        char* p = allocator.allocate(n);
        const auto address = reinterpret_cast<std::uintptr_t>(p);
        EXPECT_EQ(address % 16, 0u) << n;
        const std::uintptr_t raw = reinterpret_cast<std::uintptr_t*>(p)[-1];
        EXPECT_GE(address, raw + sizeof(void*));
        EXPECT_LT(address, raw + sizeof(void*) + 16);
        std::memset(p, 0x5a, n);
        const int c = MemoryManagerImpl::SizeClass(n + Allocator<char>::kOverhead);
        EXPECT_EQ(impl.ElementsHandedOut(c), 1) << n;
        allocator.deallocate(p, n);
        EXPECT_EQ(impl.ElementsHandedOut(c), 0) << n;
    }
}

TEST(AllocatorTest, RefusesEmptyAndOversizedRequests)
{
    Allocator<double> allocator;
    EXPECT_THROW(allocator.allocate(0), std::bad_alloc);
    EXPECT_THROW(allocator.allocate(allocator.max_size() + 1), std::bad_alloc);
    // n * sizeof(T) would wrap around.
    EXPECT_THROW(allocator.allocate(static_cast<std::size_t>(-1) / sizeof(double) + 2), std::bad_alloc);
    avector<double> v(allocator);
    EXPECT_THROW(v.reserve(v.max_size() + 1), std::length_error);
}

TEST(AllocatorTest, ContainersDrawFromTheSharedPool)
{
    AlgoLibrary::MemManager::MemoryManager pool;
    MemoryManagerImpl& impl = Impl(pool);
    avector<int> numbers(pool);
    for (int i = 0; i < 1000; ++i)
        numbers.push_back(i);
    std::list<int, Allocator<int>> items(Allocator<int>{pool});
    items.push_back(1);
    items.push_back(2);

    long long handed_out = 0;
    for (int c = 0; c < MemoryManagerImpl::kClassCount; ++c)
        handed_out += impl.ElementsHandedOut(c);
    EXPECT_EQ(handed_out, 3);  // the vector's storage and two list nodes
    EXPECT_EQ(numbers[999], 999);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(numbers.data()) % 16, 0u);

    avector<int> copy(numbers);
    EXPECT_TRUE(copy.get_allocator() == numbers.get_allocator());
    EXPECT_FALSE(avector<int>().get_allocator() == numbers.get_allocator());
}

}  // namespace
