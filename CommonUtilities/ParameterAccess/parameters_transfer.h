#pragma once

#include <boost/intrusive_ptr.hpp>
#include <cstdint>
#include <string>

#include "CommonUtilities/ParameterAccess/db_bridge.h"

namespace Blocks {

// Where a value is looked up: 0 common then device for integers, device otherwise; 1 device only;
// 2 common only; 3 both for numbers (device wins), device then common for buffers.
enum LoadScenario : int {
    kLoadDefault = 0,
    kLoadDeviceOnly = 1,
    kLoadCommonOnly = 2,
    kLoadCommonAndDevice = 3,
};

// The algorithms' typed view of the parameter store.
class IParametersTransfer {
public:
    virtual ~IParametersTransfer() = default;
    virtual int32_t GetParameterInt(const wchar_t* name, int32_t defaultValue, LoadScenario scenario) = 0;
    virtual double GetParameterDouble(const wchar_t* name, double defaultValue, LoadScenario scenario) = 0;
    // buffer holds length + 1 characters: at most length characters are copied and a zero is
    // put at position length.
    virtual long GetParameterString(const wchar_t* name, const char* defaultValue, char* buffer, long length,
                                    LoadScenario scenario) = 0;
    virtual int GetParameterString(const wchar_t* name, const char* defaultValue, std::string& out,
                                   LoadScenario scenario) = 0;
    virtual int GetParameterString(const wchar_t* name, const wchar_t* defaultValue, std::wstring& out,
                                   LoadScenario scenario) = 0;
    virtual long GetParameterSpecial(const wchar_t* name, long, long) = 0;
    virtual std::string GetWorkingDirectory() const = 0;
    virtual bool GetParameterBuffer(const wchar_t* name, uint32_t* size, void** buffer, LoadScenario scenario) = 0;
    virtual void ReleaseBuffer(void* buffer) = 0;
    // The value as text when the store has it (wide text, else integer, else double).
    virtual bool GetParameterAsStringIfExists(const wchar_t* name, std::string& out, LoadScenario scenario);
    virtual void Release() = 0;
};

}  // namespace Blocks

// The parameter transfer over an INI/DB bridge and one device id.
class ParametersTransfer : public Blocks::IParametersTransfer {
public:
    using DBB_SECTION = dbbridge_project::DBB_SECTION;

    ParametersTransfer(boost::intrusive_ptr<dbbridge_project::CIDBBridgeAuto> bridge, long id);

    int32_t GetParameterInt(const wchar_t* name, int32_t defaultValue, Blocks::LoadScenario scenario) override;
    double GetParameterDouble(const wchar_t* name, double defaultValue, Blocks::LoadScenario scenario) override;
    long GetParameterString(const wchar_t* name, const char* defaultValue, char* buffer, long length,
                            Blocks::LoadScenario scenario) override;
    int GetParameterString(const wchar_t* name, const char* defaultValue, std::string& out,
                           Blocks::LoadScenario scenario) override;
    int GetParameterString(const wchar_t* name, const wchar_t* defaultValue, std::wstring& out,
                           Blocks::LoadScenario scenario) override;
    long GetParameterSpecial(const wchar_t* name, long, long) override;
    std::string GetWorkingDirectory() const override;
    bool GetParameterBuffer(const wchar_t* name, uint32_t* size, void** buffer, Blocks::LoadScenario scenario) override;
    void ReleaseBuffer(void* buffer) override;
    bool GetParameterAsStringIfExists(const wchar_t* name, std::string& out, Blocks::LoadScenario scenario) override;
    void Release() override;

    int32_t GetDBParameterInt(const wchar_t* name, int32_t defaultValue, DBB_SECTION section);
    double GetDBParameterDouble(const wchar_t* name, double defaultValue, DBB_SECTION section);
    long GetDBParameterString(const wchar_t* name, const char* defaultValue, char* buffer, long length,
                              DBB_SECTION section);
    int GetDBParameterString(const wchar_t* name, const char* defaultValue, std::string& out, DBB_SECTION section);
    int GetDBParameterString(const wchar_t* name, const wchar_t* defaultValue, std::wstring& out, DBB_SECTION section);

private:
    // Reads one value; fills out only when found.
    template <typename T>
    bool ReadValue(const wchar_t* name, dbbridge_project::DBB_TYPE type, DBB_SECTION section, T& out);
    bool ReadWideText(const wchar_t* name, DBB_SECTION section, std::wstring& out, int* result = nullptr);
    template <typename Text, typename Default>
    int GetStrHelpFunc(const wchar_t* name, Default defaultValue, Text& out, Blocks::LoadScenario scenario);

    boost::intrusive_ptr<dbbridge_project::CIDBBridgeAuto> m_bridge;
    long m_id;
};

// A new transfer, freed through its Release.
ParametersTransfer* CreateParameterTransferForKIV(boost::intrusive_ptr<dbbridge_project::CIDBBridgeAuto> bridge,
                                                  long id);
