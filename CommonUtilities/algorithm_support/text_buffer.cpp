#include "CommonUtilities/algorithm_support/text_buffer.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace TB {

namespace {
constexpr int kScratchSize = 8000;
}

VarFormat::VarFormat(const char* format)
{
    std::memset(text, 0, sizeof(text));
    if (format)
        std::strncpy(text, format, sizeof(text) - 1);
}

BaseTextBuffer::BaseTextBuffer(char* storage, int capacity) : m_storage(storage), m_capacity(capacity)
{
    if (m_storage && m_capacity > 0)
        std::memset(m_storage, 0, static_cast<size_t>(m_capacity));
}

void BaseTextBuffer::AddText(const char* text, int n)
{
    if (!text || !m_storage || n <= 0)
        return;
    int room = m_capacity - 1 - m_length;
    if (room <= 0)
        return;
    int length = static_cast<int>(strnlen(text, static_cast<size_t>(n)));
    int taken = length < room ? length : room;
    std::memcpy(m_storage + m_length, text, static_cast<size_t>(taken));
    m_length += taken;
    m_storage[m_length] = '\0';
}

void BaseTextBuffer::AddFormatted(const char* text)
{
    AddText(text, static_cast<int>(std::strlen(text)));
}

BaseTextBuffer& BaseTextBuffer::operator<<(int value)
{
    char scratch[kScratchSize];
    std::snprintf(scratch, sizeof(scratch), m_int_format.text, value);
    AddFormatted(scratch);
    return *this;
}

BaseTextBuffer& BaseTextBuffer::operator<<(double value)
{
    char scratch[kScratchSize];
    std::snprintf(scratch, sizeof(scratch), m_double_format.text, value);
    AddFormatted(scratch);
    return *this;
}

BaseTextBuffer& BaseTextBuffer::operator<<(const void* value)
{
    // The whole address, in capitals and without a prefix, on any pointer width.
    char scratch[kScratchSize];
    std::snprintf(scratch, sizeof(scratch), "%" PRIXPTR, reinterpret_cast<std::uintptr_t>(value));
    AddFormatted(scratch);
    return *this;
}

}  // namespace TB
