#pragma once

#include <string>

namespace ParamsLib {

// Conversions between UTF-8 and the platform's wide characters through iconv ("UTF-8", "WCHAR_T").
// A text that does not convert, or a converter that cannot be opened, gives an empty result.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
std::string WideToUtf8(const wchar_t* text);

}  // namespace ParamsLib
