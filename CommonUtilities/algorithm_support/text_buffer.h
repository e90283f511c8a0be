#pragma once

namespace TB {

// A printf format of at most 15 characters, kept in a fixed array.
struct VarFormat {
    explicit VarFormat(const char* format = nullptr);
    char text[16];
};

// A bounded C-string builder over caller-owned storage. Appends never fail: text that does not
// fit in capacity - 1 characters is cut.
class BaseTextBuffer {
public:
    BaseTextBuffer(char* storage, int capacity);

    void AddText(const char* text, int n);
    BaseTextBuffer& operator<<(int value);
    BaseTextBuffer& operator<<(double value);
    BaseTextBuffer& operator<<(const void* value);

    const char* GetText() const { return m_storage; }
    int GetLength() const { return m_length; }
    int GetCapacity() const { return m_capacity; }

    VarFormat m_int_format{"%d"};
    VarFormat m_unsigned_format{"%u"};
    VarFormat m_double_format{"%.2f"};
    VarFormat m_pointer_format{"%X"};

private:
    void AddFormatted(const char* text);

    char* m_storage;  // owned by the caller, at least m_capacity bytes
    int m_capacity;
    int m_length = 0;
};

}  // namespace TB
