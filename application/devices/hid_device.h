#pragma once

#include <hidapi.h>

#include <boost/noncopyable.hpp>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

// A value copy of one entry of the HID device enumeration. Texts the library leaves absent are empty.
class HidDeviceInfo {
public:
    explicit HidDeviceInfo(const hid_device_info& info);
    HidDeviceInfo(std::string path, unsigned short vendor_id, unsigned short product_id, std::wstring serial_number,
                  std::wstring manufacturer, std::wstring product);

    const std::string& get_path() const { return m_path; }
    unsigned short get_vendor_id() const { return m_vendor_id; }
    unsigned short get_product_id() const { return m_product_id; }
    const std::wstring& get_serial_number() const { return m_serial_number; }
    const std::wstring& get_manufacturer() const { return m_manufacturer; }
    const std::wstring& get_product() const { return m_product; }

private:
    std::string m_path;
    unsigned short m_vendor_id;
    unsigned short m_product_id;
    std::wstring m_serial_number;
    std::wstring m_manufacturer;
    std::wstring m_product;
};

// The hidapi library as HidDevice uses it: the same calls, return codes and errno conventions.
// The real one is HidrawApi; tests script a device behind it.
class IHidApi {
public:
    virtual ~IHidApi() = default;

    virtual int Init() = 0;
    virtual int Exit() = 0;
    // Null on failure, with errno set.
    virtual hid_device* Open(unsigned short vendor_id, unsigned short product_id, const wchar_t* serial_number) = 0;
    virtual hid_device* OpenPath(const char* path) = 0;
    virtual void Close(hid_device* device) = 0;
    // -1 on failure, with errno set.
    virtual int Write(hid_device* device, const unsigned char* data, std::size_t length) = 0;
    virtual int ReadTimeout(hid_device* device, unsigned char* data, std::size_t length, int milliseconds) = 0;
    virtual int SetNonblocking(hid_device* device, int nonblock) = 0;
    virtual int GetProductString(hid_device* device, wchar_t* text, std::size_t max_length) = 0;
    // The last error of the device (of the library for null); may be null.
    virtual const wchar_t* Error(hid_device* device) = 0;
    // Every device of that vendor and product, 0 meaning any.
    virtual std::vector<HidDeviceInfo> Enumerate(unsigned short vendor_id, unsigned short product_id) = 0;
};

// hidapi over the Linux hidraw back end.
class HidrawApi : public IHidApi {
public:
    int Init() override;
    int Exit() override;
    hid_device* Open(unsigned short vendor_id, unsigned short product_id, const wchar_t* serial_number) override;
    hid_device* OpenPath(const char* path) override;
    void Close(hid_device* device) override;
    int Write(hid_device* device, const unsigned char* data, std::size_t length) override;
    int ReadTimeout(hid_device* device, unsigned char* data, std::size_t length, int milliseconds) override;
    int SetNonblocking(hid_device* device, int nonblock) override;
    int GetProductString(hid_device* device, wchar_t* text, std::size_t max_length) override;
    const wchar_t* Error(hid_device* device) override;
    std::vector<HidDeviceInfo> Enumerate(unsigned short vendor_id, unsigned short product_id) override;
};

std::shared_ptr<IHidApi> MakeHidrawApi();

// Holds the library initialised for as long as it lives.
class HidLibrary : private boost::noncopyable {
public:
    explicit HidLibrary(std::shared_ptr<IHidApi> api);
    ~HidLibrary();

    IHidApi& Api() const { return *m_api; }
    const std::shared_ptr<IHidApi>& SharedApi() const { return m_api; }

private:
    std::shared_ptr<IHidApi> m_api;
};

// Closes an open device through the library it came from.
struct HidDeviceCloser {
    std::shared_ptr<IHidApi> api;
    void operator()(hid_device* device) const { api->Close(device); }
};
using HidDeviceHandle = std::unique_ptr<hid_device, HidDeviceCloser>;

// One open USB HID device. Library failures are thrown as std::runtime_error; a device whose operation
// threw stays open and usable.
class HidDevice : private boost::noncopyable {
public:
    struct VidPid {
        unsigned short vendor_id;
        unsigned short product_id;
    };

    HidDevice(unsigned short vendor_id, unsigned short product_id, std::shared_ptr<IHidApi> api = MakeHidrawApi());
    HidDevice(unsigned short vendor_id, unsigned short product_id, const std::wstring& serial_number,
              std::shared_ptr<IHidApi> api = MakeHidrawApi());
    explicit HidDevice(const std::string& path, std::shared_ptr<IHidApi> api = MakeHidrawApi());
    explicit HidDevice(const HidDeviceInfo& info, std::shared_ptr<IHidApi> api = MakeHidrawApi());
    // Opens the first pair of the list that can be opened.
    HidDevice(std::initializer_list<VidPid> ids, std::shared_ptr<IHidApi> api = MakeHidrawApi());
    virtual ~HidDevice() = default;

    void Init(unsigned short vendor_id, unsigned short product_id, const wchar_t* serial_number);
    void Init(const std::string& path);

    int Write(const unsigned char* data, unsigned int length);
    // Waits without limit.
    int Read(unsigned char* data, unsigned int length);
    // Returns 0 when nothing arrived in time.
    int Read(unsigned char* data, unsigned int length, int timeout_ms);
    // Waits for an input report with that id and copies its payload of exactly length bytes.
    void GetReport(unsigned char* buffer, unsigned int length, unsigned char report_id, int timeout_ms);
    void SetBlockingReadMode(bool blocking);
    std::wstring GetProductString();

    static std::vector<HidDeviceInfo> ListHidDevices(std::shared_ptr<IHidApi> api = MakeHidrawApi());

private:
    hid_device* OpenRetrying(unsigned short vendor_id, unsigned short product_id, const wchar_t* serial_number);
    hid_device* OpenPathRetrying(const std::string& path);
    template <typename Call>
    int CallRetrying(Call call);
    [[noreturn]] void ThrowLibraryError();

    HidLibrary m_library;
    HidDeviceHandle m_device;
};

// The accelerometer of the camera, under either of its two USB identities.
class CensusCubeHidDevice : public HidDevice {
public:
    // The camera maker's own USB vendor id.
    static constexpr unsigned short kMakerVendorId = 0x1209;
    static constexpr unsigned short kMakerProductId = 0x0000;
    static constexpr unsigned short kBoardVendorId = 0x0483;
    static constexpr unsigned short kBoardProductId = 0x5711;

    explicit CensusCubeHidDevice(std::shared_ptr<IHidApi> api = MakeHidrawApi());
};
