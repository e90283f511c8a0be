#include "CommonUtilities/algorithm_support/mem_manager.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define FLOWTALLY_POISON(addr, size) ASAN_POISON_MEMORY_REGION(addr, size)
#define FLOWTALLY_UNPOISON(addr, size) ASAN_UNPOISON_MEMORY_REGION(addr, size)
#else
#define FLOWTALLY_POISON(addr, size) ((void)(addr), (void)(size))
#define FLOWTALLY_UNPOISON(addr, size) ((void)(addr), (void)(size))
#endif

namespace AlgoLibrary {

void* AlgoMalloc(std::size_t size)
{
    void* p = nullptr;
    if (posix_memalign(&p, 16, size) != 0)
        return nullptr;
    return p;
}

void AlgoFree(void* p)
{
    std::free(p);
}

namespace MemManager {

namespace {

constexpr std::size_t RoundUp(std::size_t value, std::size_t step)
{
    return (value + step - 1) / step * step;
}

int BinaryDigits(std::size_t value)
{
    int digits = 0;
    for (; value != 0; value >>= 1)
        ++digits;
    return digits;
}

// The elements of a class hold the caller's bytes behind a header; the nominal element size
// counts a 4-byte header, the real header is pointer-sized.
constexpr std::size_t kNominalHeader = 4;

}  // namespace

MemoryManagerImpl::MemoryManagerImpl() = default;

MemoryManagerImpl::~MemoryManagerImpl()
{
    for (const RawBlock& block : m_raw_blocks) {
        FLOWTALLY_UNPOISON(block.data, block.size);
        std::free(block.data);
    }
}

void MemoryManagerImpl::AddRef()
{
    ++m_ref_count;
}

void MemoryManagerImpl::Release()
{
    if (--m_ref_count == 0)
        delete this;
}

int MemoryManagerImpl::SizeClass(std::size_t size)
{
    if (size > kMaxRequest)
        return -1;
    const std::size_t rounded = RoundUp(size, 4);
    const std::size_t with_header = rounded + kNominalHeader;
    if (with_header <= kSmallClassLimit)
        return static_cast<int>(with_header);
    return kSmallClassLimit + BinaryDigits(rounded | 3);
}

std::size_t MemoryManagerImpl::ClassElementSize(int size_class)
{
    if (size_class <= kSmallClassLimit)
        return static_cast<std::size_t>(size_class);
    return std::size_t{1} << (size_class - kSmallClassLimit);
}

void* MemoryManagerImpl::allocate(std::size_t size)
{
    const int size_class = SizeClass(size);
    if (size_class < 0)
        throw std::bad_alloc();
    SizeClassState& state = m_classes[size_class];
    if (!state.free_head)
        MakeRawBlock(size_class);
    Header* element = state.free_head;
    state.free_head = element->next_free;
    ++state.handed_out;
    element->size_class = static_cast<std::uintptr_t>(size_class);
    FLOWTALLY_UNPOISON(element + 1, size);
    return element + 1;
}

void MemoryManagerImpl::deallocate(void* p)
{
    if (!p)
        return;
    Header* element = static_cast<Header*>(p) - 1;
    const auto size_class = static_cast<int>(element->size_class);
    assert(size_class > 0 && size_class < kClassCount);
    SizeClassState& state = m_classes[size_class];
    --state.handed_out;
    element->next_free = state.free_head;
    state.free_head = element;
    FLOWTALLY_POISON(p, ClassElementSize(size_class) - kNominalHeader);
}

void MemoryManagerImpl::MakeRawBlock(int size_class)
{
    SizeClassState& state = m_classes[size_class];
    const std::size_t element_size = ClassElementSize(size_class);
    const std::size_t nominal_stride = RoundUp(element_size, 4);
    const std::size_t payload = element_size - kNominalHeader;
    const std::size_t stride = RoundUp(payload + sizeof(Header), alignof(Header));

    long long count;
    if (state.block_count == 0) {
        count = size_class <= 6 ? 256 : (size_class <= 9 ? 64 : 1);
    } else {
        count = state.made;
        if (nominal_stride >= 65536)
            count = count / 4 > 1 ? count / 4 : 1;
    }
    if (state.made >= kMaxElementsPerClass)
        throw std::bad_alloc();

    const std::size_t link = sizeof(void*);
    if (static_cast<std::size_t>(count) > (std::numeric_limits<std::size_t>::max() - link) / stride)
        throw std::bad_alloc();
    const std::size_t bytes = stride * static_cast<std::size_t>(count) + link;

    m_raw_blocks.reserve(m_raw_blocks.size() + 1);
    void* block = std::malloc(bytes);
    if (!block)
        throw std::bad_alloc();
    m_raw_blocks.push_back(RawBlock{block, bytes});

    *static_cast<void**>(block) = state.block_chain;
    state.block_chain = block;
    state.made += count;
    ++state.block_count;

    char* first = static_cast<char*>(block) + link;
    for (long long i = 0; i < count; ++i) {
        auto* element = reinterpret_cast<Header*>(first + static_cast<std::size_t>(i) * stride);
        element->next_free = i + 1 < count ? reinterpret_cast<Header*>(first + static_cast<std::size_t>(i + 1) * stride)
                                           : nullptr;
        FLOWTALLY_POISON(element + 1, payload);
    }
    state.free_head = reinterpret_cast<Header*>(first);
}

void MemoryManagerImpl::GetInfo(TB::BaseTextBuffer& out)
{
    auto add = [&out](const char* text) {
        int length = 0;
        while (text[length])
            ++length;
        out.AddText(text, length);
    };
    char scratch[64];

    add("refCount = ");
    out << m_ref_count;
    add("\r\nsize/num/reserved: \r\n");

    double handed_out_bytes = 0.0;
    double reserved_bytes = 0.0;
    int listed = 0;
    for (int c = 0; c < kClassCount; ++c) {
        const SizeClassState& state = m_classes[c];
        if (state.made == 0)
            continue;
        const auto size = static_cast<long long>(RoundUp(ClassElementSize(c), 4));
        std::snprintf(scratch, sizeof(scratch), "%4lld/%2lld/%2lld \t", size, state.handed_out, state.made);
        add(scratch);
        if (++listed % 7 == 0)
            add("\r\n");
        handed_out_bytes += static_cast<double>(state.handed_out) * static_cast<double>(size);
        reserved_bytes += static_cast<double>(state.made) * static_cast<double>(size);
    }

    add("\r\nMemory = ");
    out << static_cast<double>(static_cast<float>(handed_out_bytes / 1024.0));
    add("Kb, Reserved = ");
    out << static_cast<double>(static_cast<float>(reserved_bytes / 1024.0));
    add("Kb. Fragmentation = ");
    // Nothing handed out: no fragmentation to speak of.
    const double fragmentation = handed_out_bytes > 0.0 ? reserved_bytes / handed_out_bytes : 0.0;
    out << static_cast<double>(static_cast<float>(fragmentation));
}

MemoryManagerAllocate::MemoryManagerAllocate() : m_manager(new MemoryManagerImpl()) {}

MemoryManagerAllocate::MemoryManagerAllocate(IMemoryManager* manager) : m_manager(manager)
{
    assert(manager);
    m_manager->AddRef();
}

MemoryManagerAllocate::MemoryManagerAllocate(const MemoryManagerAllocate& other) : m_manager(other.m_manager)
{
    m_manager->AddRef();
}

MemoryManagerAllocate& MemoryManagerAllocate::operator=(const MemoryManagerAllocate& other)
{
    IMemoryManager* old = m_manager;
    other.m_manager->AddRef();
    m_manager = other.m_manager;
    old->Release();
    return *this;
}

MemoryManagerAllocate::~MemoryManagerAllocate()
{
    m_manager->Release();
}

}  // namespace MemManager
}  // namespace AlgoLibrary
