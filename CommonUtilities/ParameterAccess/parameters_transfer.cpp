#include "CommonUtilities/ParameterAccess/parameters_transfer.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "CommonUtilities/ParameterAccess/wide_text.h"

using dbbridge_project::DBB_OK;
using dbbridge_project::DBB_SECTION_COMMON;
using dbbridge_project::DBB_SECTION_DEVICE;

namespace {

void CheckScenario(Blocks::LoadScenario scenario, bool text_getter)
{
    if (scenario < Blocks::kLoadDefault || scenario > Blocks::kLoadCommonAndDevice ||
        (text_getter && scenario == Blocks::kLoadCommonAndDevice))
        throw std::logic_error("Unsupported parameter load scenario " + std::to_string(static_cast<int>(scenario)));
}

// Text getters: common section for scenario 2, device section otherwise.
dbbridge_project::DBB_SECTION TextSection(Blocks::LoadScenario scenario)
{
    return scenario == Blocks::kLoadCommonOnly ? DBB_SECTION_COMMON : DBB_SECTION_DEVICE;
}

// The buffer holds `length` characters and the terminator: copies at most `length` characters
// and puts the zero at position `length` (right after a shorter text, too).
void CopyToBuffer(const char* text, char* buffer, long length)
{
    if (!buffer || length < 0)
        return;
    const std::size_t room = static_cast<std::size_t>(length);
    const std::size_t taken = text ? ::strnlen(text, room) : 0;
    if (taken > 0)
        std::memcpy(buffer, text, taken);
    buffer[taken] = '\0';
    buffer[room] = '\0';
}

}  // namespace

bool Blocks::IParametersTransfer::GetParameterAsStringIfExists(const wchar_t*, std::string&, LoadScenario)
{
    return false;
}

ParametersTransfer::ParametersTransfer(boost::intrusive_ptr<dbbridge_project::CIDBBridgeAuto> bridge, long id)
    : m_bridge(std::move(bridge)), m_id(id)
{
}

ParametersTransfer* CreateParameterTransferForKIV(boost::intrusive_ptr<dbbridge_project::CIDBBridgeAuto> bridge,
                                                  long id)
{
    return std::make_unique<ParametersTransfer>(std::move(bridge), id).release();
}

void ParametersTransfer::Release()
{
    std::unique_ptr<ParametersTransfer> owned(this);
}

template <typename T>
bool ParametersTransfer::ReadValue(const wchar_t* name, dbbridge_project::DBB_TYPE type, DBB_SECTION section, T& out)
{
    if (!m_bridge)
        return false;
    unsigned long size = 0;
    void* value = nullptr;
    int result = 0;
    try {
        result = m_bridge->GetDBParameterSync(section, static_cast<unsigned long>(m_id), name, type, &size, &value);
    } catch (...) {
        m_bridge->ReleaseBuffer(value);
        throw;
    }
    const bool found = result == DBB_OK && value && size >= sizeof(T);
    if (found)
        std::memcpy(&out, value, sizeof(T));
    m_bridge->ReleaseBuffer(value);
    return found;
}

bool ParametersTransfer::ReadWideText(const wchar_t* name, DBB_SECTION section, std::wstring& out, int* result)
{
    if (result)
        *result = dbbridge_project::DBB_NOT_FOUND;
    if (!m_bridge)
        return false;
    unsigned long size = 0;
    void* value = nullptr;
    int code = 0;
    try {
        code = m_bridge->GetDBParameterSync(section, static_cast<unsigned long>(m_id), name,
                                            dbbridge_project::DBB_TYPE_WSTRING, &size, &value);
    } catch (...) {
        m_bridge->ReleaseBuffer(value);
        throw;
    }
    if (result)
        *result = code;
    const bool found = code == DBB_OK && value;
    if (found) {
        // The text ends at its terminator or at the end of the buffer, whichever comes first.
        const wchar_t* text = static_cast<const wchar_t*>(value);
        const std::size_t capacity = size / sizeof(wchar_t);
        std::size_t length = 0;
        while (length < capacity && text[length] != L'\0') ++length;
        out.assign(text, length);
    }
    m_bridge->ReleaseBuffer(value);
    return found;
}

int32_t ParametersTransfer::GetDBParameterInt(const wchar_t* name, int32_t defaultValue, DBB_SECTION section)
{
    int32_t value = defaultValue;
    ReadValue(name, dbbridge_project::DBB_TYPE_INT, section, value);
    return value;
}

double ParametersTransfer::GetDBParameterDouble(const wchar_t* name, double defaultValue, DBB_SECTION section)
{
    double value = defaultValue;
    ReadValue(name, dbbridge_project::DBB_TYPE_DOUBLE, section, value);
    return value;
}

long ParametersTransfer::GetDBParameterString(const wchar_t* name, const char* defaultValue, char* buffer, long length,
                                              DBB_SECTION section)
{
    CopyToBuffer(defaultValue, buffer, length);
    std::wstring wide;
    if (ReadWideText(name, section, wide))
        CopyToBuffer(ParamsLib::WideToUtf8(wide).c_str(), buffer, length);
    return 0;
}

int ParametersTransfer::GetDBParameterString(const wchar_t* name, const char* defaultValue, std::string& out,
                                             DBB_SECTION section)
{
    out = defaultValue ? defaultValue : "";
    std::wstring wide;
    if (ReadWideText(name, section, wide))
        out = ParamsLib::WideToUtf8(wide);
    return 0;
}

int ParametersTransfer::GetDBParameterString(const wchar_t* name, const wchar_t* defaultValue, std::wstring& out,
                                             DBB_SECTION section)
{
    out = defaultValue ? defaultValue : L"";
    std::wstring wide;
    if (ReadWideText(name, section, wide))
        out = wide;
    return 0;
}

int32_t ParametersTransfer::GetParameterInt(const wchar_t* name, int32_t defaultValue, Blocks::LoadScenario scenario)
{
    CheckScenario(scenario, false);
    switch (scenario) {
        case Blocks::kLoadDeviceOnly:
            return GetDBParameterInt(name, defaultValue, DBB_SECTION_DEVICE);
        case Blocks::kLoadCommonOnly:
            return GetDBParameterInt(name, defaultValue, DBB_SECTION_COMMON);
        default:
            return GetDBParameterInt(name, GetDBParameterInt(name, defaultValue, DBB_SECTION_COMMON),
                                     DBB_SECTION_DEVICE);
    }
}

double ParametersTransfer::GetParameterDouble(const wchar_t* name, double defaultValue, Blocks::LoadScenario scenario)
{
    CheckScenario(scenario, false);
    switch (scenario) {
        case Blocks::kLoadCommonOnly:
            return GetDBParameterDouble(name, defaultValue, DBB_SECTION_COMMON);
        case Blocks::kLoadCommonAndDevice:
            return GetDBParameterDouble(name, GetDBParameterDouble(name, defaultValue, DBB_SECTION_COMMON),
                                        DBB_SECTION_DEVICE);
        default:
            return GetDBParameterDouble(name, defaultValue, DBB_SECTION_DEVICE);
    }
}

long ParametersTransfer::GetParameterString(const wchar_t* name, const char* defaultValue, char* buffer, long length,
                                            Blocks::LoadScenario scenario)
{
    CheckScenario(scenario, true);
    return GetDBParameterString(name, defaultValue, buffer, length, TextSection(scenario));
}

template <typename Text, typename Default>
int ParametersTransfer::GetStrHelpFunc(const wchar_t* name, Default defaultValue, Text& out,
                                       Blocks::LoadScenario scenario)
{
    CheckScenario(scenario, true);
    return GetDBParameterString(name, defaultValue, out, TextSection(scenario));
}

int ParametersTransfer::GetParameterString(const wchar_t* name, const char* defaultValue, std::string& out,
                                           Blocks::LoadScenario scenario)
{
    return GetStrHelpFunc(name, defaultValue, out, scenario);
}

int ParametersTransfer::GetParameterString(const wchar_t* name, const wchar_t* defaultValue, std::wstring& out,
                                           Blocks::LoadScenario scenario)
{
    return GetStrHelpFunc(name, defaultValue, out, scenario);
}

long ParametersTransfer::GetParameterSpecial(const wchar_t*, long, long)
{
    return 0;
}

std::string ParametersTransfer::GetWorkingDirectory() const
{
    if (!m_bridge)
        throw std::logic_error("ParametersTransfer has no parameter store");
    return std::filesystem::path(m_bridge->GetIniFileName()).parent_path().string();
}

bool ParametersTransfer::GetParameterBuffer(const wchar_t* name, uint32_t* size, void** buffer,
                                            Blocks::LoadScenario scenario)
{
    CheckScenario(scenario, false);
    if (size)
        *size = 0;
    if (buffer)
        *buffer = nullptr;
    if (!m_bridge || !buffer)
        return false;

    auto read = [&](DBB_SECTION section) {
        unsigned long read_size = 0;
        void* value = nullptr;
        const int result = m_bridge->GetDBParameterSync(section, static_cast<unsigned long>(m_id), name,
                                                        dbbridge_project::DBB_TYPE_BINARY, &read_size, &value);
        if (result != DBB_OK) {
            m_bridge->ReleaseBuffer(value);
            return false;
        }
        *buffer = value;
        if (size)
            *size = static_cast<uint32_t>(read_size);
        return true;
    };
    switch (scenario) {
        case Blocks::kLoadCommonOnly:
            return read(DBB_SECTION_COMMON);
        case Blocks::kLoadCommonAndDevice:
            return read(DBB_SECTION_DEVICE) || read(DBB_SECTION_COMMON);
        default:
            return read(DBB_SECTION_DEVICE);
    }
}

void ParametersTransfer::ReleaseBuffer(void* buffer)
{
    if (m_bridge)
        m_bridge->ReleaseBuffer(buffer);
}

bool ParametersTransfer::GetParameterAsStringIfExists(const wchar_t* name, std::string& out,
                                                      Blocks::LoadScenario scenario)
{
    if (!m_bridge)
        return false;
    const DBB_SECTION section = scenario == Blocks::kLoadCommonOnly ? DBB_SECTION_COMMON : DBB_SECTION_DEVICE;
    std::wstring wide;
    int result = 0;
    if (ReadWideText(name, section, wide, &result)) {
        out = ParamsLib::WideToUtf8(wide);
        return true;
    }
    if (result != dbbridge_project::DBB_WRONG_TYPE)
        return false;
    int32_t number = 0;
    if (ReadValue(name, dbbridge_project::DBB_TYPE_INT, section, number)) {
        std::ostringstream text;
        text << number;
        out = text.str();
        return true;
    }
    double real = 0;
    if (ReadValue(name, dbbridge_project::DBB_TYPE_DOUBLE, section, real)) {
        std::ostringstream text;
        text << real;
        out = text.str();
        return true;
    }
    return false;
}
