#pragma once

#include <boost/intrusive_ptr.hpp>

#include "CommonUtilities/DebugInterfaces/kiv_log_level.h"

// The reference-counted sink of the parameter store's messages.
class IKIVLogSink {
public:
    virtual void OnMessage(KIVLogLevel level, const char* text, int length) = 0;
    virtual long AddRef() = 0;
    virtual long Release() = 0;

protected:
    virtual ~IKIVLogSink() = default;
};

namespace dbbridge_project {

// Where a value is looked up.
enum DBB_SECTION : int {
    DBB_SECTION_COMMON = 0,              // the shared INI file; the component id is forced to 0
    DBB_SECTION_DEVICE = 1,              // the listed INI files; the component id is checked against the bridge's id
    DBB_SECTION_DEVICE_KEY_WITH_ID = 8,  // like 1, the key gets "_" and the component id appended
    DBB_SECTION_DEVICE_KEY_WITH_CLUSTER_ID = 9,  // like 8, the id's millions part added to the component id
};

// The type of a value handed out.
enum DBB_TYPE : int {
    DBB_TYPE_INT = 0,      // one int
    DBB_TYPE_DOUBLE = 1,   // one double
    DBB_TYPE_WSTRING = 2,  // zero-terminated wide text
    DBB_TYPE_BINARY = 3,   // the content of the file the value names
};

// Result codes of the store.
enum DBB_RESULT : int {
    DBB_OK = 0,
    DBB_PENDING = 1,
    DBB_NOT_FOUND = 2,
    DBB_PENDING_AGAIN = 3,
    DBB_BAD_CALL = -1,
    DBB_WRONG_TYPE = -5,
    DBB_SEVERAL_FILES = -7,
    DBB_OK_WITHOUT_SHARED_FILE = 201,
};

// A parameter store. Value buffers are handed out by the store and given back with ReleaseBuffer.
class CIDBBridge {
public:
    virtual void ReleaseBuffer(void* buffer) = 0;
    virtual int GetDBParameter(DBB_SECTION section, unsigned long componentId, const wchar_t* name, DBB_TYPE type,
                               unsigned long* size, void** value) = 0;
    virtual int SetDBParameter(DBB_SECTION section, unsigned long componentId, const wchar_t* name, DBB_TYPE type,
                               unsigned long size, const void* value) = 0;
    virtual int GetComponentList(DBB_SECTION section, unsigned long* count, unsigned long** list) = 0;
    virtual long Release() = 0;

protected:
    virtual ~CIDBBridge() = default;
};

class CIDBBridgeAuto : public CIDBBridge {
public:
    virtual long AddRef() = 0;
    // Asks again while the answer is pending.
    virtual int GetDBParameterSync(DBB_SECTION section, unsigned long componentId, const wchar_t* name, DBB_TYPE type,
                                   unsigned long* size, void** value) = 0;
    virtual void SetPrefix(const wchar_t* prefix) = 0;
    virtual bool GetClusterID(unsigned long componentId, unsigned long& clusterId) const = 0;
    virtual const char* GetIniFileName() const = 0;

protected:
    ~CIDBBridgeAuto() override = default;
};

inline void intrusive_ptr_add_ref(CIDBBridgeAuto* bridge)
{
    bridge->AddRef();
}

inline void intrusive_ptr_release(CIDBBridgeAuto* bridge)
{
    bridge->Release();
}

}  // namespace dbbridge_project
