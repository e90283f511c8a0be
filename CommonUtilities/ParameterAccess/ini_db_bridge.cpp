#include "CommonUtilities/ParameterAccess/ini_db_bridge.h"

#include <boost/lexical_cast.hpp>
#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cinttypes>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>

#include "CommonUtilities/DebugInterfaces/block_log.h"
#include "CommonUtilities/ParameterAccess/wide_text.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace fs = std::filesystem;
namespace pt = boost::property_tree;

// The file names and the parser's messages come from outside: the log quotes them.
using BlockEntities::Log::kLoggedValueLimit;
using BlockEntities::Log::LoggedValue;

namespace logging {

LoggerWrapper::LoggerWrapper(KIVLogLevel level, IKIVLogSink* sink)
    : m_level(level), m_buffer(m_storage, sizeof(m_storage)), m_sink(sink)
{
    if (m_sink)
        m_sink->AddRef();
}

LoggerWrapper::LoggerWrapper(KIVLogLevel level, IKIVLogSink* sink, const char* siteId) : LoggerWrapper(level, sink)
{
    *this << "KIV error: " << siteId << ". ";
}

LoggerWrapper::~LoggerWrapper()
{
    if (!m_sink)
        return;
    try {
        if (m_buffer.GetLength() > 0)
            m_sink->OnMessage(m_level, m_buffer.GetText(), m_buffer.GetLength());
    } catch (...) {
        // A sink that fails cannot report its own failure; the line is lost.
    }
    m_sink->Release();
}

LoggerWrapper& LoggerWrapper::operator<<(const char* text)
{
    if (m_sink && text)
        m_buffer.AddText(text, static_cast<int>(std::strlen(text)));
    return *this;
}

LoggerWrapper& LoggerWrapper::operator<<(const std::string& text)
{
    if (m_sink)
        m_buffer.AddText(text.c_str(), static_cast<int>(text.size()));
    return *this;
}

LoggerWrapper& LoggerWrapper::operator<<(const wchar_t* text)
{
    if (m_sink && text)
        *this << ParamsLib::WideToUtf8(text);
    return *this;
}

LoggerWrapper& LoggerWrapper::operator<<(const std::wstring& text)
{
    return *this << text.c_str();
}

LoggerWrapper& LoggerWrapper::operator<<(int value)
{
    if (m_sink)
        m_buffer << value;
    return *this;
}

LoggerWrapper ErrLoggerWrapper(IKIVLogSink* sink, const char* siteId)
{
    return LoggerWrapper(kKivLogError, sink, siteId);
}

}  // namespace logging

using dbbridge_project::DBB_BAD_CALL;
using dbbridge_project::DBB_NOT_FOUND;
using dbbridge_project::DBB_OK;

namespace {

constexpr char kSpecialEnumerateName[] = "MAIN_ENUMERATE_SOURCES";
constexpr std::uintmax_t kMaxIniFileBytes = 1024 * 1024;

bool IsRegularFile(const std::string& path)
{
    std::error_code error;
    return !path.empty() && fs::is_regular_file(path, error);
}

// A value buffer handed out to callers and given back through ReleaseBuffer.
char* AllocateBuffer(std::size_t bytes)
{
    try {
        return std::make_unique<char[]>(bytes).release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

template <typename T>
int HandOutValue(const T& value, unsigned long* size, void** out)
{
    char* buffer = AllocateBuffer(sizeof(T));
    if (!buffer)
        return DBB_NOT_FOUND;
    std::memcpy(buffer, &value, sizeof(T));
    *out = buffer;
    if (size)
        *size = sizeof(T);
    return DBB_OK;
}

pt::ptree::path_type ValuePath(const std::string& section, const std::string& key)
{
    return pt::ptree::path_type(section + "/" + key, '/');
}

}  // namespace

CIniDBBridge::CIniDBBridge(IKIVLogSink* sink) : m_log_sink(sink)
{
    if (m_log_sink)
        m_log_sink->AddRef();
}

CIniDBBridge::~CIniDBBridge()
{
    if (m_log_sink)
        m_log_sink->Release();
}

logging::LoggerWrapper CIniDBBridge::LogError(const char* siteId) const
{
    return logging::ErrLoggerWrapper(m_log_sink, siteId);
}

int CIniDBBridge::Initialize(const char* iniFiles, bool useSharedIni, int id)
{
    m_id = id;
    if (!FillAndCheckFileNames(iniFiles))
        return DBB_BAD_CALL;
    if (!useSharedIni)
        return DBB_OK;
    const std::string shared = ReadSharedIniFileName();
    if (!IsRegularFile(shared))
        return dbbridge_project::DBB_OK_WITHOUT_SHARED_FILE;
    std::error_code error;
    const fs::path canonical = fs::canonical(shared, error);
    if (error)
        return dbbridge_project::DBB_OK_WITHOUT_SHARED_FILE;
    m_shared_ini_file = canonical.string();
    return DBB_OK;
}

bool CIniDBBridge::FillAndCheckFileNames(const char* iniFiles)
{
    m_ini_files.clear();
    const std::string list = iniFiles ? iniFiles : "";
    std::string::size_type begin = 0;
    for (;;) {
        const auto separator = list.find('?', begin);
        const std::string entry =
            list.substr(begin, separator == std::string::npos ? std::string::npos : separator - begin);
        std::error_code error;
        fs::path canonical;
        if (IsRegularFile(entry))
            canonical = fs::canonical(entry, error);
        if (entry.empty() || !IsRegularFile(entry) || error || canonical.empty()) {
            m_ini_files.clear();
            return false;
        }
        m_ini_files.push_back(canonical.string());
        if (separator == std::string::npos)
            return true;
        begin = separator + 1;
    }
}

bool CIniDBBridge::ParseName(const std::string& name)
{
    if (name.empty())
        return false;
    const auto underscore = name.find('_');
    if (underscore == name.size() - 1)
        return false;
    m_section = ParamsLib::WideToUtf8(m_prefix);
    if (underscore == std::string::npos) {
        m_section += "main";
        m_key = name;
    } else {
        m_section += name.substr(0, underscore);
        m_key = name.substr(underscore + 1);
    }
    return true;
}

std::string CIniDBBridge::GetPathWithoutFileName(const std::string& path)
{
    return fs::path(path).parent_path().string();
}

char* CIniDBBridge::LoadFileToBuffer(const std::string& path, unsigned int* size)
{
    if (size)
        *size = 0;
    std::unique_ptr<char[]> buffer;
    try {
        std::ifstream file;
        file.exceptions(std::ios_base::failbit | std::ios_base::badbit);
        file.open(path, std::ios_base::in | std::ios_base::binary);
        file.seekg(0, std::ios_base::end);
        const std::streamoff length = file.tellg();
        file.seekg(0, std::ios_base::beg);
        if (length < 0 || static_cast<unsigned long long>(length) > UINT_MAX)
            return nullptr;
        buffer.reset(AllocateBuffer(static_cast<std::size_t>(length) + 1));  // one byte so that an empty file works
        if (!buffer)
            return nullptr;
        if (length > 0)
            file.read(buffer.get(), length);
        if (size)
            *size = static_cast<unsigned int>(length);
    } catch (const std::exception&) {
        return nullptr;
    }
    return buffer.release();
}

std::string CIniDBBridge::ReadSharedIniFileName() const
{
    return std::string();
}

const char* CIniDBBridge::GetIniFileName() const
{
    return m_ini_files.empty() ? "" : m_ini_files.front().c_str();
}

unsigned long CIniDBBridge::ResolveComponentId(DBB_SECTION section, unsigned long componentId) const
{
    switch (section) {
        case dbbridge_project::DBB_SECTION_DEVICE:
            if (m_id != 0 && m_id != -1) {
                if (componentId != 0 && componentId != ULONG_MAX) {
                    KIV_CHECK(componentId % 1000000UL == static_cast<unsigned long>(m_id) % 1000000UL,
                              "IniBridgeComponentId_110615_101500")
                        << static_cast<int>(componentId % 1000000UL) << m_id;
                }
                return static_cast<unsigned long>(m_id);
            }
            return componentId;
        case dbbridge_project::DBB_SECTION_DEVICE_KEY_WITH_CLUSTER_ID:
            return componentId + static_cast<unsigned long>(m_id / 1000000) * 1000000UL;
        case dbbridge_project::DBB_SECTION_COMMON:
            return 0;
        default:
            return componentId;
    }
}

int CIniDBBridge::GetDBParameter(DBB_SECTION section, unsigned long componentId, const wchar_t* name, DBB_TYPE type,
                                 unsigned long* size, void** value)
{
    componentId = ResolveComponentId(section, componentId);
    if (size)
        *size = 0;
    if (!value || !name)
        return DBB_BAD_CALL;
    *value = nullptr;

    if (ParamsLib::WideToUtf8(name) == kSpecialEnumerateName) {
        if (type != dbbridge_project::DBB_TYPE_BINARY) {
            LogError("IniBridgeEnumerateType_110615_101600")
                << "Incorrect type " << static_cast<int>(type) << " for parameter " << kSpecialEnumerateName;
            return dbbridge_project::DBB_WRONG_TYPE;
        }
        return HandOutValue(static_cast<int32_t>(componentId / 1000000UL), size, value);
    }

    if (section == dbbridge_project::DBB_SECTION_COMMON)
        return GetDBParameterFromIniFile(m_shared_ini_file, section, componentId, name, type, size, value);
    if (m_ini_files.empty())
        return DBB_BAD_CALL;
    int result = DBB_NOT_FOUND;
    for (auto file = m_ini_files.rbegin(); file != m_ini_files.rend(); ++file) {
        result = GetDBParameterFromIniFile(*file, section, componentId, name, type, size, value);
        if (result == DBB_OK)
            return DBB_OK;
    }
    return result;
}

const pt::ptree* CIniDBBridge::ParsedFile(const std::string& iniFile)
{
    const auto known = m_parsed.find(iniFile);
    if (known != m_parsed.end())
        return known->second.get();
    // A parameter file holds some hundred keys; a file of megabytes is not one, and parsing it would
    // hold up the counter's start (and a stop request) for seconds.
    std::error_code size_error;
    const std::uintmax_t bytes = fs::file_size(iniFile, size_error);
    if (!size_error && bytes > kMaxIniFileBytes) {
        LogError("IniBridgeFileSize_110615_102700")
            << "ini file " << LoggedValue(iniFile) << " is " << std::to_string(bytes) << " bytes, more than the "
            << std::to_string(kMaxIniFileBytes) << " bytes a parameter file may have; it is not read";
        return m_parsed.emplace(iniFile, nullptr).first->second.get();
    }
    auto tree = std::make_unique<pt::ptree>();
    try {
        pt::read_ini(iniFile, *tree);
    } catch (const pt::ini_parser_error& e) {
        // The parser's message names the file again.
        LogError("IniBridgeParseFile_110615_101800") << "CIniDBBridge error parsing ini file " << LoggedValue(iniFile)
                                                     << ": " << LoggedValue(e.what(), 4 * kLoggedValueLimit);
        tree.reset();
    } catch (const pt::ptree_error&) {
        tree.reset();
    } catch (const fs::filesystem_error&) {
        tree.reset();
    }
    return m_parsed.emplace(iniFile, std::move(tree)).first->second.get();
}

int CIniDBBridge::GetDBParameterFromIniFile(const std::string& iniFile, DBB_SECTION section, unsigned long componentId,
                                            const wchar_t* name, DBB_TYPE type, unsigned long* size, void** value)
{
    if (iniFile.empty())
        return DBB_NOT_FOUND;
    if (!IsRegularFile(iniFile)) {
        LogError("IniBridgeMissingFile_110615_101700") << "ini file " << LoggedValue(iniFile) << " doesn't exist";
        return DBB_NOT_FOUND;
    }
    const pt::ptree* parsed = ParsedFile(iniFile);
    if (!parsed)
        return DBB_NOT_FOUND;
    const pt::ptree& tree = *parsed;

    const std::string narrow_name = ParamsLib::WideToUtf8(name);
    if (!ParseName(narrow_name)) {
        LogError("IniBridgeParseName_110615_101900") << "Error parsing parameter name " << narrow_name;
        return DBB_BAD_CALL;
    }
    if (section == dbbridge_project::DBB_SECTION_DEVICE_KEY_WITH_ID ||
        section == dbbridge_project::DBB_SECTION_DEVICE_KEY_WITH_CLUSTER_ID) {
        char number[32];
        std::snprintf(number, sizeof(number), "%lld", static_cast<long long>(componentId));
        m_key += "_";
        m_key += number;
    }

    const auto text = tree.get_optional<std::string>(ValuePath(m_section, m_key));
    if (!text)
        return DBB_NOT_FOUND;

    switch (type) {
        case dbbridge_project::DBB_TYPE_INT:
            return HandOutValue(boost::lexical_cast<int>(*text), size, value);
        case dbbridge_project::DBB_TYPE_DOUBLE:
            return HandOutValue(boost::lexical_cast<double>(*text), size, value);
        case dbbridge_project::DBB_TYPE_WSTRING: {
            const std::wstring wide = ParamsLib::Utf8ToWide(*text);
            const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
            char* buffer = AllocateBuffer(bytes);
            if (!buffer)
                return DBB_NOT_FOUND;
            std::memcpy(buffer, wide.c_str(), bytes);
            *value = buffer;
            if (size)
                *size = static_cast<unsigned long>(bytes);
            return DBB_OK;
        }
        case dbbridge_project::DBB_TYPE_BINARY: {
            if (text->empty())
                return DBB_NOT_FOUND;
            std::error_code error;
            const fs::path data = fs::canonical(fs::path(GetPathWithoutFileName(iniFile)) / *text, error);
            if (error)
                return DBB_NOT_FOUND;
            unsigned int length = 0;
            char* buffer = LoadFileToBuffer(data.string(), &length);
            if (!buffer)
                return DBB_NOT_FOUND;
            *value = buffer;
            if (size)
                *size = length;
            return DBB_OK;
        }
        default:
            LogError("IniBridgeValueType_110615_102000")
                << "Incorrect type " << static_cast<int>(type) << " for parameter " << narrow_name;
            return DBB_BAD_CALL;
    }
}

int CIniDBBridge::SetDBParameter(DBB_SECTION section, unsigned long componentId, const wchar_t* name, DBB_TYPE type,
                                 unsigned long size, const void* value)
{
    componentId = ResolveComponentId(section, componentId);
    if (section != dbbridge_project::DBB_SECTION_COMMON && m_ini_files.size() != 1) {
        auto line = LogError("IniBridgeSeveralFiles_110615_102100");
        line << "CIniDBBridge::SetDBParameter can't be used if more than 1 ini files used. Files:";
        for (const auto& file : m_ini_files) line << LoggedValue(file) << "; ";
        return dbbridge_project::DBB_SEVERAL_FILES;
    }
    const std::string target = section == dbbridge_project::DBB_SECTION_COMMON ? m_shared_ini_file : m_ini_files[0];

    pt::ptree tree;
    if (IsRegularFile(target)) {
        try {
            pt::read_ini(target, tree);
        } catch (const pt::ini_parser_error& e) {
            LogError("IniBridgeWriteParseFile_110615_102400")
                << "CIniDBBridge error parsing ini file " << LoggedValue(target) << ": "
                << LoggedValue(e.what(), 4 * kLoggedValueLimit);
            return -2;
        }
    }

    const std::string narrow_name = name ? ParamsLib::WideToUtf8(name) : std::string();
    if (!ParseName(narrow_name)) {
        LogError("IniBridgeWriteParseName_110615_102500") << "Error parsing parameter name " << narrow_name;
        return DBB_BAD_CALL;
    }
    if (!value)
        return DBB_BAD_CALL;

    const auto path = ValuePath(m_section, m_key);
    try {
        switch (type) {
            case dbbridge_project::DBB_TYPE_INT: {
                int number = 0;
                std::memcpy(&number, value, sizeof(number));
                tree.put(path, number);
                break;
            }
            case dbbridge_project::DBB_TYPE_DOUBLE: {
                double number = 0;
                std::memcpy(&number, value, sizeof(number));
                tree.put(path, number);
                break;
            }
            case dbbridge_project::DBB_TYPE_WSTRING:
                tree.put(path, ParamsLib::WideToUtf8(static_cast<const wchar_t*>(value)));
                break;
            case dbbridge_project::DBB_TYPE_BINARY: {
                const std::string file_name = m_section + "_" + m_key + ".dat";
                const fs::path data = fs::path(GetPathWithoutFileName(target)) / file_name;
                std::ofstream file;
                file.exceptions(std::ios_base::failbit | std::ios_base::badbit);
                file.open(data, std::ios_base::out | std::ios_base::binary | std::ios_base::trunc);
                file.write(static_cast<const char*>(value), static_cast<std::streamsize>(size));
                file.close();
                tree.put(path, file_name);
                break;
            }
            default:
                LogError("IniBridgeWriteValueType_110615_102600")
                    << "Incorrect type " << static_cast<int>(type) << " for parameter " << narrow_name;
                return DBB_BAD_CALL;
        }
        m_parsed.erase(target);
        pt::write_ini(target, tree);
    } catch (const std::exception&) {
        return -3;
    }
    return DBB_OK;
}

int CIniDBBridge::GetDBParameterSync(DBB_SECTION section, unsigned long componentId, const wchar_t* name, DBB_TYPE type,
                                     unsigned long* size, void** value)
{
    int result = 0;
    do {
        result = GetDBParameter(section, componentId, name, type, size, value);
    } while (result == dbbridge_project::DBB_PENDING || result == dbbridge_project::DBB_PENDING_AGAIN);
    return result;
}

void CIniDBBridge::ReleaseBuffer(void* buffer)
{
    std::unique_ptr<char[]> owned(static_cast<char*>(buffer));
}

int CIniDBBridge::GetComponentList(DBB_SECTION, unsigned long*, unsigned long**)
{
    return DBB_BAD_CALL;
}

void CIniDBBridge::SetPrefix(const wchar_t* prefix)
{
    KIV_CHECK(!prefix || *prefix == L'\0', "IniBridgePrefix_110615_102200");
}

bool CIniDBBridge::GetClusterID(unsigned long, unsigned long&) const
{
    return false;
}

long CIniDBBridge::AddRef()
{
    return ++m_ref_count;
}

long CIniDBBridge::Release()
{
    KIV_CHECK(m_ref_count.load() >= 1, "IniBridgeRelease_110615_102300") << m_ref_count.load();
    if (--m_ref_count == 0)
        std::unique_ptr<CIniDBBridge> owned(this);
    return 0;
}

int CreateIniDBBridge(const char* iniFiles, bool useSharedIni, int id, IKIVLogSink* sink,
                      boost::intrusive_ptr<dbbridge_project::CIDBBridgeAuto>& out)
{
    dbbridge_project::CIDBBridgeAuto* bridge = nullptr;
    const int result = CIniDBBridge::CreateInstanceTyped<CIniDBBridge>(&bridge, iniFiles, useSharedIni, id, sink);
    if (result < 0 || !bridge)
        return result;
    out = boost::intrusive_ptr<dbbridge_project::CIDBBridgeAuto>(bridge, false);
    return result;
}
