#include "CommonUtilities/ParameterAccess/wide_text.h"

#include <cwchar>
#include <vector>

#include <iconv.h>

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

}  // namespace

std::wstring Utf8ToWide(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    IconvConverter converter("WCHAR_T", "UTF-8");
    if (!converter.IsOpen())
        return std::wstring();
    std::vector<wchar_t> output(text.size());
    const long written = converter.Convert(text.data(), text.size(), reinterpret_cast<char*>(output.data()),
                                           output.size() * sizeof(wchar_t));
    if (written < 0)
        return std::wstring();
    return std::wstring(output.data(), static_cast<size_t>(written) / sizeof(wchar_t));
}

std::string WideToUtf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    IconvConverter converter("UTF-8", "WCHAR_T");
    if (!converter.IsOpen())
        return std::string();
    std::vector<char> output(text.size() * 4);
    const long written = converter.Convert(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t),
                                           output.data(), output.size());
    if (written < 0)
        return std::string();
    return std::string(output.data(), static_cast<size_t>(written));
}

std::string WideToUtf8(const wchar_t* text)
{
    return text ? WideToUtf8(std::wstring(text)) : std::string();
}

}  // namespace ParamsLib
