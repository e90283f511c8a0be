#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <type_traits>
#include <vector>

#include "CommonUtilities/algorithm_support/text_buffer.h"

namespace AlgoLibrary {

// Plain 16-byte aligned heap memory.
void* AlgoMalloc(std::size_t size);
void AlgoFree(void* p);

namespace MemManager {

class IMemoryManager {
public:
    virtual ~IMemoryManager() = default;
    virtual void AddRef() = 0;
    virtual void Release() = 0;
    // Throws std::bad_alloc when the request cannot be served.
    virtual void* allocate(std::size_t size) = 0;
    virtual void deallocate(void* p) = 0;
    virtual void GetInfo(TB::BaseTextBuffer& out) = 0;
};

// A size-class free-list pool. Memory taken from the heap stays with its size class until the
// pool is destroyed. Not thread-safe: a pool belongs to one thread.
class MemoryManagerImpl : public IMemoryManager {
public:
    // Requests up to 256 bytes (with the header) are served in 4-byte steps, larger ones from
    // power-of-two classes; 288 classes in all.
    static constexpr int kClassCount = 288;
    static constexpr int kSmallClassLimit = 256;
    // Largest request: the power-of-two classes end at 2^31 bytes.
    static constexpr std::size_t kMaxRequest = (std::size_t{1} << 31) - 4;
    // Elements a class may make before it refuses to grow.
    static constexpr long long kMaxElementsPerClass = 1LL << 30;

    MemoryManagerImpl();
    ~MemoryManagerImpl() override;
    MemoryManagerImpl(const MemoryManagerImpl&) = delete;
    MemoryManagerImpl& operator=(const MemoryManagerImpl&) = delete;

    void AddRef() override;
    void Release() override;
    void* allocate(std::size_t size) override;
    void deallocate(void* p) override;
    void GetInfo(TB::BaseTextBuffer& out) override;

    // The class serving a request of `size` bytes; -1 when the request is too large.
    static int SizeClass(std::size_t size);
    // The nominal element size of a class (header included): c, or 2^(c - 256).
    static std::size_t ClassElementSize(int size_class);

    // Counters of one class, for reports and tests.
    long long ElementsMade(int size_class) const { return m_classes[size_class].made; }
    long long ElementsHandedOut(int size_class) const { return m_classes[size_class].handed_out; }
    int RawBlockCount(int size_class) const { return m_classes[size_class].block_count; }

private:
    // The header word in front of every element: the next free element while free, the size
    // class while handed out. Pointer-sized, so addresses are never cut.
    union Header {
        Header* next_free;
        std::uintptr_t size_class;
    };

    struct SizeClassState {
        Header* free_head = nullptr;
        long long made = 0;
        long long handed_out = 0;
        void* block_chain = nullptr;  // the class's newest raw block; each links to the previous one
        int block_count = 0;
    };

    struct RawBlock {
        void* data;
        std::size_t size;
    };

    void MakeRawBlock(int size_class);

    int m_ref_count = 1;
    std::vector<RawBlock> m_raw_blocks;  // every heap array taken, freed at destruction
    SizeClassState m_classes[kClassCount];
};

// A copyable, reference-counting handle to a memory manager.
class MemoryManagerAllocate {
public:
    // A fresh pool.
    MemoryManagerAllocate();
    explicit MemoryManagerAllocate(IMemoryManager* manager);
    MemoryManagerAllocate(const MemoryManagerAllocate& other);
    MemoryManagerAllocate& operator=(const MemoryManagerAllocate& other);
    ~MemoryManagerAllocate();

    void* _allocate(std::size_t size) { return m_manager->allocate(size); }
    void _deallocate(void* p) { m_manager->deallocate(p); }
    void GetInfo(TB::BaseTextBuffer& out) { m_manager->GetInfo(out); }

    IMemoryManager* Get() const { return m_manager; }

private:
    IMemoryManager* m_manager;  // holds one reference
};

// The algorithms' name for the pool handle.
using MemoryManager = MemoryManagerAllocate;

// Selects the pool handle an Allocator draws from.
template <bool kThreadSafe>
struct TMemoryManager {
    static_assert(!kThreadSafe, "only the single-thread pool exists");
    using Handle = MemoryManagerAllocate;
};

// A standard allocator over a pool handle, giving 16-byte aligned storage. Below each result
// lies the address that the pool handed out.
template <typename T, typename TManager = TMemoryManager<false>>
class Allocator {
public:
    using value_type = T;
    static constexpr std::size_t kAlignment = 16;
    // Room to align the start and keep the pool's address below it.
    static constexpr std::size_t kOverhead = kAlignment - 1 + sizeof(void*);

    static_assert(alignof(T) <= kAlignment, "over-aligned types are not supported");

    // A fresh pool.
    Allocator() = default;
    // Shares the given pool.
    Allocator(const typename TManager::Handle& manager) : m_manager(manager) {}
    template <typename U>
    Allocator(const Allocator<U, TManager>& other) : m_manager(other.GetManager())
    {
    }

    T* allocate(std::size_t n)
    {
        if (n == 0 || n > max_size())
            throw std::bad_alloc();
        const auto raw = reinterpret_cast<std::uintptr_t>(m_manager._allocate(n * sizeof(T) + kOverhead));
        if (raw == 0)
            throw std::bad_alloc();
        const std::uintptr_t aligned = (raw + kOverhead) & ~static_cast<std::uintptr_t>(kAlignment - 1);
        reinterpret_cast<std::uintptr_t*>(aligned)[-1] = raw;
        return reinterpret_cast<T*>(aligned);
    }

    void deallocate(T* p, std::size_t)
    {
        if (!p)
            return;
        m_manager._deallocate(reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t*>(p)[-1]));
    }

    std::size_t max_size() const noexcept { return (MemoryManagerImpl::kMaxRequest - kOverhead) / sizeof(T); }

    const typename TManager::Handle& GetManager() const { return m_manager; }

    template <typename U>
    bool operator==(const Allocator<U, TManager>& other) const
    {
        return m_manager.Get() == other.GetManager().Get();
    }
    template <typename U>
    bool operator!=(const Allocator<U, TManager>& other) const
    {
        return !(*this == other);
    }

private:
    typename TManager::Handle m_manager;
};

}  // namespace MemManager
}  // namespace AlgoLibrary

// A vector whose storage comes from the algorithms' memory manager.
template <typename T>
using avector = std::vector<T, AlgoLibrary::MemManager::Allocator<T, AlgoLibrary::MemManager::TMemoryManager<false>>>;
