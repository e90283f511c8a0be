#include "CommonUtilities/algorithm_support/kiv_exception.h"

#include <cstring>

namespace exc {

namespace {
int Length(const char* text)
{
    return text ? static_cast<int>(std::strlen(text)) : 0;
}
}  // namespace

KIVException::KIVException(const char* id, const char* info)
    : m_id(m_id_storage, sizeof(m_id_storage)),
      m_info(m_info_storage, sizeof(m_info_storage)),
      m_message(m_message_storage, sizeof(m_message_storage))
{
    Fill(id, info);
}

// Each copy binds its buffers to its own storage.
KIVException::KIVException(const KIVException& other)
    : std::exception(other),
      m_id(m_id_storage, sizeof(m_id_storage)),
      m_info(m_info_storage, sizeof(m_info_storage)),
      m_message(m_message_storage, sizeof(m_message_storage))
{
    m_id.AddText(other.m_id.GetText(), other.m_id.GetLength());
    m_info.AddText(other.m_info.GetText(), other.m_info.GetLength());
    m_message.AddText(other.m_message.GetText(), other.m_message.GetLength());
}

KIVException& KIVException::operator=(const KIVException& other)
{
    if (this != &other) {
        m_id = TB::BaseTextBuffer(m_id_storage, sizeof(m_id_storage));
        m_info = TB::BaseTextBuffer(m_info_storage, sizeof(m_info_storage));
        m_message = TB::BaseTextBuffer(m_message_storage, sizeof(m_message_storage));
        m_id.AddText(other.m_id.GetText(), other.m_id.GetLength());
        m_info.AddText(other.m_info.GetText(), other.m_info.GetLength());
        m_message.AddText(other.m_message.GetText(), other.m_message.GetLength());
    }
    return *this;
}

void KIVException::Fill(const char* id, const char* info)
{
    if (id)
        m_id.AddText(id, Length(id));
    if (info)
        m_info.AddText(info, Length(info));
    m_message.AddText("KIV error: ", 11);
    if (id)
        m_message.AddText(id, Length(id));
    m_message.AddText(".", 1);
    if (info)
        m_message.AddText(info, Length(info));
}

KIVExceptionGenerator::KIVExceptionGenerator(bool condition) : ok(condition)
{
    identifier[0] = '\0';
    additional_info[0] = '\0';
}

KIVExceptionGenerator::KIVExceptionGenerator(bool condition, const char* id) : KIVExceptionGenerator(condition)
{
    if (!ok)
        InitFromId(id);
}

KIVExceptionGenerator::~KIVExceptionGenerator() noexcept(false)
{
    if (!ok)
        throw KIVException(identifier, additional_info);
}

void KIVExceptionGenerator::InitFromId(const char* id)
{
    std::memset(identifier, 0, sizeof(identifier));
    std::memset(additional_info, 0, sizeof(additional_info));
    if (!id)
        id = "undefined";
    std::strncpy(identifier, id, sizeof(identifier) - 1);
}

namespace {

// Appends the local text to the generator's information, keeping at most 999 characters.
void AppendLocal(char* info, const TB::BaseTextBuffer& local)
{
    const int current = static_cast<int>(std::strlen(info));
    int room = 999 - current;
    int taken = local.GetLength() < room ? local.GetLength() : room;
    if (taken <= 0)
        return;
    std::memcpy(info + current, local.GetText(), static_cast<size_t>(taken));
    info[current + taken] = '\0';
}

const TB::VarFormat& DoubleFormat()
{
    static const TB::VarFormat tb_double_format("%.5f");
    return tb_double_format;
}

}  // namespace

template <>
void KIVExceptionGenerator::AppendToAdditionalInfo<const char*>(const char* const& value)
{
    char storage[1000];
    TB::BaseTextBuffer local(storage, sizeof(storage));
    local.AddText(" ", 1);
    if (value)
        local.AddText(value, Length(value));
    AppendLocal(additional_info, local);
}

template <>
void KIVExceptionGenerator::AppendToAdditionalInfo<int>(const int& value)
{
    char storage[1000];
    TB::BaseTextBuffer local(storage, sizeof(storage));
    local.AddText(" ", 1);
    local << value;
    AppendLocal(additional_info, local);
}

template <>
void KIVExceptionGenerator::AppendToAdditionalInfo<double>(const double& value)
{
    char storage[1000];
    TB::BaseTextBuffer local(storage, sizeof(storage));
    local.m_double_format = DoubleFormat();
    local.AddText(" ", 1);
    local << value;
    AppendLocal(additional_info, local);
}

}  // namespace exc
