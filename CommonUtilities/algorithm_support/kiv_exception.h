#pragma once

#include <exception>
#include <string>

#include "CommonUtilities/algorithm_support/text_buffer.h"

namespace exc {

// The algorithms' exception: "KIV error: " + identifier + "." + information, held in fixed
// buffers inside the object (nothing allocated on the failure path).
class KIVException : public std::exception {
public:
    KIVException(const char* id, const char* info);
    KIVException(const KIVException& other);
    KIVException& operator=(const KIVException& other);
    ~KIVException() override = default;

    const char* what() const noexcept override { return m_message.GetText(); }
    const char* GetId() const { return m_id.GetText(); }
    const char* GetAdditionalInfo() const { return m_info.GetText(); }

private:
    void Fill(const char* id, const char* info);

    char m_id_storage[100];
    char m_info_storage[1000];
    char m_message_storage[1100];
    TB::BaseTextBuffer m_id;
    TB::BaseTextBuffer m_info;
    TB::BaseTextBuffer m_message;
};

// Check-and-throw object built at each check site; when the check failed it collects the
// streamed operands and throws KIVException from its destructor.
struct KIVExceptionGenerator {
    explicit KIVExceptionGenerator(bool condition);
    // A failed check at the site `id`.
    KIVExceptionGenerator(bool condition, const char* id);
    ~KIVExceptionGenerator() noexcept(false);
    KIVExceptionGenerator(const KIVExceptionGenerator&) = delete;
    KIVExceptionGenerator& operator=(const KIVExceptionGenerator&) = delete;

    void InitFromId(const char* id);

    template <typename T>
    void AppendToAdditionalInfo(const T& value);

    template <typename T>
    KIVExceptionGenerator& operator<<(const T& value);
    KIVExceptionGenerator& operator<<(const std::string& value);
    KIVExceptionGenerator& operator<<(const char* value);

    bool ok;
    char identifier[100];
    char additional_info[1000];
};

template <>
void KIVExceptionGenerator::AppendToAdditionalInfo<const char*>(const char* const& value);
template <>
void KIVExceptionGenerator::AppendToAdditionalInfo<int>(const int& value);
template <>
void KIVExceptionGenerator::AppendToAdditionalInfo<double>(const double& value);

template <typename T>
KIVExceptionGenerator& KIVExceptionGenerator::operator<<(const T& value)
{
    if (!ok)
        AppendToAdditionalInfo(value);
    return *this;
}

inline KIVExceptionGenerator& KIVExceptionGenerator::operator<<(const std::string& value)
{
    if (!ok)
        AppendToAdditionalInfo<const char*>(value.c_str());
    return *this;
}

inline KIVExceptionGenerator& KIVExceptionGenerator::operator<<(const char* value)
{
    if (!ok)
        AppendToAdditionalInfo<const char*>(value);
    return *this;
}

}  // namespace exc

// Checks a condition; on failure throws KIVException with the site identifier and the streamed values:
//   KIV_CHECK(width > 0, "ImgCopy_120415_101500") << width;
#define KIV_CHECK(condition, id) \
    if (static_cast<bool>(condition)) { \
    } else \
        ::exc::KIVExceptionGenerator(false, id)
