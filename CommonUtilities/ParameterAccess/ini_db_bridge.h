#pragma once

#include <atomic>
#include <boost/intrusive_ptr.hpp>
#include <boost/property_tree/ptree_fwd.hpp>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CommonUtilities/ParameterAccess/db_bridge.h"
#include "CommonUtilities/algorithm_support/text_buffer.h"

namespace logging {

// One message line under construction; sent to the sink (when there is one and the text is not
// empty) when the wrapper is destroyed. The text is cut at 4000 bytes.
class LoggerWrapper {
public:
    LoggerWrapper(KIVLogLevel level, IKIVLogSink* sink);
    // Starts the line with "KIV error: " + siteId + ". ".
    LoggerWrapper(KIVLogLevel level, IKIVLogSink* sink, const char* siteId);
    ~LoggerWrapper();
    LoggerWrapper(const LoggerWrapper&) = delete;
    LoggerWrapper& operator=(const LoggerWrapper&) = delete;

    LoggerWrapper& operator<<(const char* text);
    LoggerWrapper& operator<<(const std::string& text);
    LoggerWrapper& operator<<(const wchar_t* text);
    LoggerWrapper& operator<<(const std::wstring& text);
    LoggerWrapper& operator<<(int value);

    const char* GetText() const { return m_buffer.GetText(); }

private:
    KIVLogLevel m_level;
    char m_storage[4000];
    TB::BaseTextBuffer m_buffer;
    IKIVLogSink* m_sink;  // held with AddRef, released by the destructor
};

// An error line of the reporting place siteId.
LoggerWrapper ErrLoggerWrapper(IKIVLogSink* sink, const char* siteId);

}  // namespace logging

// The parameter store over one or more INI files (later files win). A bridge lives for one load of
// the parameters: each file is parsed once, at its first lookup, and its tree (or its parse error,
// reported once) serves every later lookup. A write drops the written file's tree.
class CIniDBBridge : public dbbridge_project::CIDBBridgeAuto {
public:
    using DBB_SECTION = dbbridge_project::DBB_SECTION;
    using DBB_TYPE = dbbridge_project::DBB_TYPE;

    // Makes a bridge over the "?"-separated file list; a negative result leaves *out null.
    template <typename T>
    static int CreateInstanceTyped(dbbridge_project::CIDBBridgeAuto** out, const char* iniFiles, bool useSharedIni,
                                   int id, IKIVLogSink* sink)
    {
        std::unique_ptr<T> bridge(new T(sink));  // reference count 1, handed over on success
        const int result = bridge->Initialize(iniFiles ? iniFiles : "", useSharedIni, id);
        *out = result < 0 ? nullptr : bridge.release();
        return result;
    }

    void ReleaseBuffer(void* buffer) override;
    int GetDBParameter(DBB_SECTION section, unsigned long componentId, const wchar_t* name, DBB_TYPE type,
                       unsigned long* size, void** value) override;
    int SetDBParameter(DBB_SECTION section, unsigned long componentId, const wchar_t* name, DBB_TYPE type,
                       unsigned long size, const void* value) override;
    int GetComponentList(DBB_SECTION section, unsigned long* count, unsigned long** list) override;
    long Release() override;
    long AddRef() override;
    int GetDBParameterSync(DBB_SECTION section, unsigned long componentId, const wchar_t* name, DBB_TYPE type,
                           unsigned long* size, void** value) override;
    void SetPrefix(const wchar_t* prefix) override;
    bool GetClusterID(unsigned long componentId, unsigned long& clusterId) const override;
    const char* GetIniFileName() const override;

    virtual int GetDBParameterFromIniFile(const std::string& iniFile, DBB_SECTION section, unsigned long componentId,
                                          const wchar_t* name, DBB_TYPE type, unsigned long* size, void** value);

    int Initialize(const char* iniFiles, bool useSharedIni, int id);
    // Resolves every entry of the list to a canonical path; false (and no files) when one is bad.
    bool FillAndCheckFileNames(const char* iniFiles);
    // Splits a parameter name at its first "_" into section and key ("main" when there is none).
    bool ParseName(const std::string& name);
    const std::string& GetParsedSection() const { return m_section; }
    const std::string& GetParsedKey() const { return m_key; }

    static std::string GetPathWithoutFileName(const std::string& path);
    // The whole file in a buffer to be given back with ReleaseBuffer; null when it cannot be read.
    static char* LoadFileToBuffer(const std::string& path, unsigned int* size);
    std::string ReadSharedIniFileName() const;

protected:
    explicit CIniDBBridge(IKIVLogSink* sink);
    ~CIniDBBridge() override;

private:
    friend struct std::default_delete<CIniDBBridge>;

    // The parsed tree of a file, or null when it does not parse (reported at the first attempt).
    const boost::property_tree::ptree* ParsedFile(const std::string& iniFile);
    unsigned long ResolveComponentId(DBB_SECTION section, unsigned long componentId) const;
    logging::LoggerWrapper LogError(const char* siteId) const;

    std::wstring m_prefix;
    std::vector<std::string> m_ini_files;
    std::string m_shared_ini_file;
    int m_id = 0;
    std::atomic<int> m_ref_count{1};
    IKIVLogSink* m_log_sink;  // held with AddRef, released by the destructor
    std::string m_section;
    std::string m_key;
    // Canonical path to its tree; a null tree marks a file that does not parse.
    std::map<std::string, std::unique_ptr<boost::property_tree::ptree>> m_parsed;
};

// Creates a bridge over the file list; on success out adopts it (no extra reference).
int CreateIniDBBridge(const char* iniFiles, bool useSharedIni, int id, IKIVLogSink* sink,
                      boost::intrusive_ptr<dbbridge_project::CIDBBridgeAuto>& out);
