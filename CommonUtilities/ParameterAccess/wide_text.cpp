#include "CommonUtilities/ParameterAccess/wide_text.h"

#include <iconv.h>

#include <cstring>
#include <cwchar>

namespace ParamsLib {

namespace {

// One open iconv converter.
class IconvConverter {
public:
    IconvConverter(const char* to, const char* from) : m_handle(iconv_open(to, from)) {}
    ~IconvConverter()
    {
        if (IsOpen())
            iconv_close(m_handle);
    }
    IconvConverter(const IconvConverter&) = delete;
    IconvConverter& operator=(const IconvConverter&) = delete;

    bool IsOpen() const { return m_handle != reinterpret_cast<iconv_t>(-1); }

    // Converts all of input into output (sized by the caller); returns the bytes written, or -1.
    long Convert(const char* input, size_t input_size, char* output, size_t output_size)
    {
        char* in = const_cast<char*>(input);  // iconv's interface is not const-correct
        char* out = output;
        size_t in_left = input_size;
        size_t out_left = output_size;
        if (iconv(m_handle, &in, &in_left, &out, &out_left) == static_cast<size_t>(-1))
            return -1;
        return static_cast<long>(output_size - out_left);
    }

private:
    iconv_t m_handle;
};

// Converts the bytes of input with an output room of output_bytes; empty on any failure.
std::string Convert(const char* to, const char* from, const char* input, size_t input_bytes, size_t output_bytes)
{
    if (input_bytes == 0)
        return std::string();
    IconvConverter converter(to, from);
    if (!converter.IsOpen())
        return std::string();
    std::string output(output_bytes, '\0');
    const long written = converter.Convert(input, input_bytes, output.data(), output.size());
    if (written < 0)
        return std::string();
    output.resize(static_cast<size_t>(written));
    return output;
}

}  // namespace

std::wstring Utf8ToWide(const std::string& text)
{
    // At most one wide character per input byte.
    const std::string bytes = Convert("WCHAR_T", "UTF-8", text.data(), text.size(), text.size() * sizeof(wchar_t));
    std::wstring wide(bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(wide.data(), bytes.data(), wide.size() * sizeof(wchar_t));
    return wide;
}

std::string WideToUtf8(const std::wstring& text)
{
    // At most four bytes per wide character.
    return Convert("UTF-8", "WCHAR_T", reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t),
                   text.size() * 4);
}

std::string WideToUtf8(const wchar_t* text)
{
    return text ? WideToUtf8(std::wstring(text)) : std::string();
}

}  // namespace ParamsLib
