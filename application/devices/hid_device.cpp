#include "application/devices/hid_device.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace {

const char kCannotOpen[] = "HID Device error: Cannot open HID device";
const char kReadTimeout[] = "HID read timeout";

std::wstring WideOrEmpty(const wchar_t* text)
{
    return text ? std::wstring(text) : std::wstring();
}

// hid_init and hid_exit touch the library's process-wide state; the library stays initialised
// while any HidLibrary of any thread lives.
std::mutex g_hidraw_mutex;
int g_hidraw_users = 0;

struct EnumerationDeleter {
    void operator()(hid_device_info* list) const { hid_free_enumeration(list); }
};

}  // namespace

HidDeviceInfo::HidDeviceInfo(const hid_device_info& info)
    : m_path(info.path ? info.path : ""),
      m_vendor_id(info.vendor_id),
      m_product_id(info.product_id),
      m_serial_number(WideOrEmpty(info.serial_number)),
      m_manufacturer(WideOrEmpty(info.manufacturer_string)),
      m_product(WideOrEmpty(info.product_string))
{
}

HidDeviceInfo::HidDeviceInfo(std::string path, unsigned short vendor_id, unsigned short product_id,
                             std::wstring serial_number, std::wstring manufacturer, std::wstring product)
    : m_path(std::move(path)),
      m_vendor_id(vendor_id),
      m_product_id(product_id),
      m_serial_number(std::move(serial_number)),
      m_manufacturer(std::move(manufacturer)),
      m_product(std::move(product))
{
}

int HidrawApi::Init()
{
    std::lock_guard<std::mutex> lock(g_hidraw_mutex);
    if (g_hidraw_users > 0) {
        ++g_hidraw_users;
        return 0;
    }
    const int result = hid_init();
    if (result == 0)
        ++g_hidraw_users;
    return result;
}

int HidrawApi::Exit()
{
    std::lock_guard<std::mutex> lock(g_hidraw_mutex);
    if (g_hidraw_users == 0 || --g_hidraw_users > 0)
        return 0;
    return hid_exit();
}

hid_device* HidrawApi::Open(unsigned short vendor_id, unsigned short product_id, const wchar_t* serial_number)
{
    return hid_open(vendor_id, product_id, serial_number);
}

hid_device* HidrawApi::OpenPath(const char* path)
{
    return hid_open_path(path);
}

void HidrawApi::Close(hid_device* device)
{
    hid_close(device);
}

int HidrawApi::Write(hid_device* device, const unsigned char* data, std::size_t length)
{
    return hid_write(device, data, length);
}

int HidrawApi::ReadTimeout(hid_device* device, unsigned char* data, std::size_t length, int milliseconds)
{
    return hid_read_timeout(device, data, length, milliseconds);
}

int HidrawApi::SetNonblocking(hid_device* device, int nonblock)
{
    return hid_set_nonblocking(device, nonblock);
}

int HidrawApi::GetProductString(hid_device* device, wchar_t* text, std::size_t max_length)
{
    return hid_get_product_string(device, text, max_length);
}

const wchar_t* HidrawApi::Error(hid_device* device)
{
    return hid_error(device);
}

std::vector<HidDeviceInfo> HidrawApi::Enumerate(unsigned short vendor_id, unsigned short product_id)
{
    std::vector<HidDeviceInfo> devices;
    std::unique_ptr<hid_device_info, EnumerationDeleter> list(hid_enumerate(vendor_id, product_id));
    for (const hid_device_info* entry = list.get(); entry; entry = entry->next) devices.emplace_back(*entry);
    return devices;
}

std::shared_ptr<IHidApi> MakeHidrawApi()
{
    return std::make_shared<HidrawApi>();
}

HidLibrary::HidLibrary(std::shared_ptr<IHidApi> api) : m_api(std::move(api))
{
    if (m_api->Init() != 0)
        throw std::runtime_error("HID Device error: Cannot initialise HID library");
}

HidLibrary::~HidLibrary()
{
    m_api->Exit();
}

HidDevice::HidDevice(unsigned short vendor_id, unsigned short product_id, std::shared_ptr<IHidApi> api)
    : m_library(std::move(api)), m_device(nullptr, HidDeviceCloser{m_library.SharedApi()})
{
    Init(vendor_id, product_id, nullptr);
}

HidDevice::HidDevice(unsigned short vendor_id, unsigned short product_id, const std::wstring& serial_number,
                     std::shared_ptr<IHidApi> api)
    : m_library(std::move(api)), m_device(nullptr, HidDeviceCloser{m_library.SharedApi()})
{
    Init(vendor_id, product_id, serial_number.c_str());
}

HidDevice::HidDevice(const std::string& path, std::shared_ptr<IHidApi> api)
    : m_library(std::move(api)), m_device(nullptr, HidDeviceCloser{m_library.SharedApi()})
{
    Init(path);
}

HidDevice::HidDevice(const HidDeviceInfo& info, std::shared_ptr<IHidApi> api)
    : HidDevice(info.get_path(), std::move(api))
{
}

HidDevice::HidDevice(std::initializer_list<VidPid> ids, std::shared_ptr<IHidApi> api)
    : m_library(std::move(api)), m_device(nullptr, HidDeviceCloser{m_library.SharedApi()})
{
    for (const VidPid& id : ids) {
        if (hid_device* device = OpenRetrying(id.vendor_id, id.product_id, nullptr)) {
            m_device.reset(device);
            return;
        }
    }
    throw std::runtime_error(kCannotOpen);
}

void HidDevice::Init(unsigned short vendor_id, unsigned short product_id, const wchar_t* serial_number)
{
    hid_device* device = OpenRetrying(vendor_id, product_id, serial_number);
    if (!device)
        throw std::runtime_error(kCannotOpen);
    m_device.reset(device);
}

void HidDevice::Init(const std::string& path)
{
    hid_device* device = OpenPathRetrying(path);
    if (!device)
        throw std::runtime_error(kCannotOpen);
    m_device.reset(device);
}

hid_device* HidDevice::OpenRetrying(unsigned short vendor_id, unsigned short product_id, const wchar_t* serial_number)
{
    for (;;) {
        errno = 0;
        if (hid_device* device = m_library.Api().Open(vendor_id, product_id, serial_number))
            return device;
        if (errno != EINTR)
            return nullptr;
    }
}

hid_device* HidDevice::OpenPathRetrying(const std::string& path)
{
    for (;;) {
        errno = 0;
        if (hid_device* device = m_library.Api().OpenPath(path.c_str()))
            return device;
        if (errno != EINTR)
            return nullptr;
    }
}

template <typename Call>
int HidDevice::CallRetrying(Call call)
{
    for (;;) {
        errno = 0;
        const int result = call();
        if (result >= 0)
            return result;
        if (errno != EINTR)
            ThrowLibraryError();
    }
}

void HidDevice::ThrowLibraryError()
{
    std::string message = "HID Device error";
    if (const wchar_t* text = m_library.Api().Error(m_device.get())) {
        char converted[256] = {};
        const std::size_t length = std::wcstombs(converted, text, sizeof(converted));
        if (length != static_cast<std::size_t>(-1)) {
            converted[sizeof(converted) - 1] = '\0';
            if (converted[0] != '\0')
                message += std::string(": ") + converted;
        }
    }
    throw std::runtime_error(message);
}

int HidDevice::Write(const unsigned char* data, unsigned int length)
{
    return CallRetrying([&] { return m_library.Api().Write(m_device.get(), data, length); });
}

int HidDevice::Read(unsigned char* data, unsigned int length)
{
    return Read(data, length, -1);
}

int HidDevice::Read(unsigned char* data, unsigned int length, int timeout_ms)
{
    return CallRetrying([&] { return m_library.Api().ReadTimeout(m_device.get(), data, length, timeout_ms); });
}

void HidDevice::GetReport(unsigned char* buffer, unsigned int length, unsigned char report_id, int timeout_ms)
{
    // One byte more for the report id the library delivers first.
    std::vector<unsigned char> work(static_cast<std::size_t>(length) + 1, 0);
    const auto start = std::chrono::steady_clock::now();
    const std::chrono::nanoseconds allowance(static_cast<long long>(timeout_ms) * 1000000LL);
    for (;;) {
        const int read = Read(work.data(), length + 1, timeout_ms);
        if (read == 0)
            throw std::runtime_error(kReadTimeout);
        // A late report is refused even when it is the wanted one.
        if (std::chrono::steady_clock::now() - start > allowance)
            throw std::runtime_error(kReadTimeout);
        if (work[0] != report_id)
            continue;
        if (static_cast<unsigned int>(read - 1) != length)
            throw std::runtime_error("Incorrect number of bytes read for HID report");
        std::memcpy(buffer, work.data() + 1, length);
        return;
    }
}

void HidDevice::SetBlockingReadMode(bool blocking)
{
    CallRetrying([&] { return m_library.Api().SetNonblocking(m_device.get(), blocking ? 0 : 1); });
}

std::wstring HidDevice::GetProductString()
{
    wchar_t text[127] = {};
    const int result = m_library.Api().GetProductString(m_device.get(), text, 127);
    if (result < 0)
        throw std::runtime_error("Failed to get product string. Maybe device hasn't defined it");
    if (result > 126)
        throw std::runtime_error("Product string is too long");
    text[126] = L'\0';
    return std::wstring(text);
}

std::vector<HidDeviceInfo> HidDevice::ListHidDevices(std::shared_ptr<IHidApi> api)
{
    HidLibrary library(std::move(api));
    return library.Api().Enumerate(0, 0);
}

CensusCubeHidDevice::CensusCubeHidDevice(std::shared_ptr<IHidApi> api)
    : HidDevice({{kMakerVendorId, kMakerProductId}, {kBoardVendorId, kBoardProductId}}, std::move(api))
{
}
