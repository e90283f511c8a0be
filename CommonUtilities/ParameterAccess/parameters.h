#pragma once

#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "CommonUtilities/ParameterAccess/json_reader.h"
#include "CommonUtilities/ParameterAccess/parameter_value_types.h"
#include "CommonUtilities/algorithm_support/type_id_as_string.h"

namespace ParamsLib {

struct ParameterOption {
    enum Enum : int {
        kMinimum = 0,
        kMaximum = 1,
        kGroup = 2,
        kEnumNames = 3,
        kNotInDefaultProfile = 4,
        kDefaultLimitedWarning = 5,
        kValueRequired = 6,
    };
};

using ParameterOptions = std::map<ParameterOption::Enum, std::string>;

// How a parameter got its value.
struct ParameterState {
    enum Enum : int {
        kNotDeclared = 0,
        kDeclared = 1,
        kDefaultLoaded = 2,
        kDeserialized = 3,
    };
};

struct RequiredParameterInfo {
    std::string name;
    std::string brief;
    std::string default_value;
    std::string semantic_type;
};

// Writes a number or a bool as a parameter value text ("true"/"false", 6 significant digits).
template <typename T>
std::string ValueToText(const T& value)
{
    std::ostringstream os;
    os.imbue(std::locale::classic());
    os << std::boolalpha << value;
    return os.str();
}

// A named, described, defaulted algorithm parameter. It keeps its value as text (the exchange form)
// and, in the derived classes, as a typed value parsed from that text.
class BaseParameter {
public:
    virtual ~BaseParameter() = default;

    // Adds the parameter's options to the map; keys already in the map stay as they are.
    virtual void FillParameterOptions(ParameterOptions& options) const;
    virtual void FillSemanticType(std::string& semantic_type) const = 0;
    virtual void ClearBeforeInitWithNewParameters();
    // Parses the value text (into a temporary when asked) and returns the text to keep.
    virtual std::string ParseString(bool to_temporary);

    // Declares the parameter: checks that its default parses and keeps the default as it reads back.
    void Init(const RequiredParameterInfo& info);
    // Takes a value text from the parameter files; on failure falls back to the default and rethrows.
    void Deserialize(const std::string& text);
    void DeserializeFromDefault();

    const RequiredParameterInfo& GetRequiredInfo() const { return m_info; }
    const std::string& GetName() const { return m_info.name; }
    const std::string& GetBrief() const { return m_info.brief; }
    const std::string& GetDefaultText() const { return m_info.default_value; }
    const std::string& GetSemanticType() const { return m_info.semantic_type; }
    ParameterState::Enum GetState() const { return m_state; }
    // The text of the current value; refused until a value was loaded.
    const std::string& GetCurrentValueText(const char* purpose) const;
    // The value as the parameter files wrote it (before parsing, limits and rounding), or the
    // current value's text when the files did not give it.
    const std::string& GetTextAsRead() const
    {
        return m_state == ParameterState::kDeserialized ? m_read_text : m_value_text;
    }
    // Whether the last parse moved the value into the parameter's declared limits.
    virtual bool WasClampedToLimits() const { return false; }

    void SetOption(ParameterOption::Enum option, const std::string& text) { m_options[option] = text; }
    // The parameter files must give this parameter a value (reported after loading otherwise).
    void MarkValueRequired() { SetOption(ParameterOption::kValueRequired, std::string()); }
    // Leaves the parameter out of the profile of declared defaults.
    void ExcludeFromDefaultProfile() { SetOption(ParameterOption::kNotInDefaultProfile, std::string()); }

protected:
    BaseParameter() = default;
    void CheckInitialized(const char* purpose) const;

    std::string m_value_text;
    std::string m_read_text;  // the text given to the last Deserialize
    ParameterOptions m_options;
    RequiredParameterInfo m_info;
    ParameterState::Enum m_state = ParameterState::kNotDeclared;
};

// A plain holder of one value.
template <typename T>
struct TrivialContainer {
    using ValueType = T;
    T& Get() { return value; }
    const T& Get() const { return value; }
    T value{};
};

template <typename T, typename C = TrivialContainer<T>>
class BaseParameterImpl : public BaseParameter {
public:
    using ValueType = T;
    using ContainerType = C;
};

// A parameter with a typed value.
template <typename T, typename C = TrivialContainer<T>>
class DataParameter : public BaseParameterImpl<T, C> {
public:
    void InitWithDefault(const std::string& name, const std::string& brief, const std::string& default_text)
    {
        this->Init(RequiredParameterInfo{name, brief, default_text, std::string()});
        if (this->m_info.default_value.empty() && !AllowEmptyDefault())
            throw std::logic_error("Parameter default value is empty. name = " + name);
    }

    std::string ParseString(bool to_temporary) override
    {
        if (to_temporary) {
            T temporary{};
            return ParseStringTo(temporary);
        }
        return ParseStringTo(m_value.Get());
    }

    // Fills out from the value text; returns the text to keep.
    virtual std::string ParseStringTo(T& out) = 0;
    virtual bool AllowEmptyDefault() const { return false; }

    // The default text for a default given as a value.
    std::string ValueAsText(const T& value) const { return ValueToText(value); }

    const T& operator()() const
    {
        this->CheckInitialized("reading via operator()");
        return m_value.Get();
    }

protected:
    C m_value;
};

// A parameter whose value text is read by the value-text readers.
template <typename T, typename C = TrivialContainer<T>>
class StreamReadableParameter : public DataParameter<T, C> {
public:
    std::string ParseStringTo(T& out) override
    {
        try {
            JSON::ReadFullObjectOrThrowException(this->m_value_text, out);
        } catch (const std::exception& e) {
            throw std::runtime_error("Deserialization failed.    Name = " + this->GetName() +
                                     "    Semantic type = " + this->GetSemanticType() + "    error = " + e.what());
        }
        return this->m_value_text;
    }
};

template <typename T>
struct SemanticTypeName;
template <>
struct SemanticTypeName<int> {
    static const char* Get() { return "int"; }
};
template <>
struct SemanticTypeName<float> {
    static const char* Get() { return "double"; }
};
template <>
struct SemanticTypeName<double> {
    static const char* Get() { return "double"; }
};
template <>
struct SemanticTypeName<bool> {
    static const char* Get() { return "bool"; }
};
template <>
struct SemanticTypeName<std::string> {
    static const char* Get() { return "string"; }
};

// Numbers, bool and text: after parsing, limits apply and the value is written back as text.
template <typename T, typename C = TrivialContainer<T>>
class SerializableParameter : public StreamReadableParameter<T, C> {
public:
    std::string ParseStringTo(T& out) override
    {
        StreamReadableParameter<T, C>::ParseStringTo(out);
        EnforceLimits(out);
        return ValueToText(out);
    }

    void FillSemanticType(std::string& semantic_type) const override { semantic_type = SemanticTypeName<T>::Get(); }

    virtual void EnforceLimits(T&) {}
};

// A number with an optional {minimum, maximum} pair.
template <typename T, typename C = TrivialContainer<T>>
class NumericParameter : public SerializableParameter<T, C> {
public:
    using Limits = std::pair<T, T>;

    // Attaches the limits (replacing earlier ones); they act on every later parse.
    void SetLimits(const Limits& limits) { m_limits = std::make_unique<Limits>(limits); }
    void SetLimits(T minimum, T maximum) { SetLimits(Limits(minimum, maximum)); }
    const Limits* GetLimits() const { return m_limits.get(); }

    void EnforceLimits(T& value) override
    {
        m_clamped = false;
        if (!m_limits)
            return;
        if (value > m_limits->second) {
            value = m_limits->second;
            m_clamped = true;
        } else if (value < m_limits->first) {
            value = m_limits->first;
            m_clamped = true;
        }
    }

    bool WasClampedToLimits() const override { return m_clamped; }

    void FillParameterOptions(ParameterOptions& options) const override
    {
        BaseParameter::FillParameterOptions(options);
        if (m_limits) {
            options.emplace(ParameterOption::kMaximum, ValueToText(m_limits->second));
            options.emplace(ParameterOption::kMinimum, ValueToText(m_limits->first));
        }
    }

    void ClearBeforeInitWithNewParameters() override
    {
        SerializableParameter<T, C>::ClearBeforeInitWithNewParameters();
        m_limits.reset();
    }

private:
    std::unique_ptr<Limits> m_limits;
    bool m_clamped = false;
};

template <typename C = TrivialContainer<int>>
class IntValueParam : public NumericParameter<int, C> {
};

// Keeps at most 6 decimals, the precision the parameter files carry.
float TruncateFloatToSixDecimals(float value);

template <typename C = TrivialContainer<float>>
class FltValueParam : public NumericParameter<float, C> {
public:
    static float TruncateToCompatibleWithDBBridge(float value) { return TruncateFloatToSixDecimals(value); }

    void EnforceLimits(float& value) override
    {
        NumericParameter<float, C>::EnforceLimits(value);
        value = TruncateToCompatibleWithDBBridge(value);
    }
};

template <typename C = TrivialContainer<bool>>
class BlnValueParam : public SerializableParameter<bool, C> {
};

// Any text, taken as it is; the only kind that accepts an empty default.
template <typename C = TrivialContainer<std::string>>
class StrValueParam : public SerializableParameter<std::string, C> {
public:
    std::string ParseStringTo(std::string& out) override
    {
        out = this->m_value_text;
        return out;
    }
    bool AllowEmptyDefault() const override { return true; }
};

// The names of an enumeration, comma-separated in value order.
template <typename T>
struct EnumParameterNames;
template <>
struct EnumParameterNames<GaussBlurType> {
    static const char* List()
    {
        return "kGaussFloat,kGaussFixed,kGaussBox1,kGaussBox2,kGauss2DBox1,kGauss2DBox2,kGauss2DBox3,kGaussExpApprox";
    }
};

std::vector<std::string> SplitEnumNames(const std::string& list);

// An enumeration read and written by its names (whole text, case-sensitive).
template <typename T, typename C = TrivialContainer<T>>
class EnumValueParam : public DataParameter<T, C> {
public:
    std::string ParseStringTo(T& out) override
    {
        const std::vector<std::string> names = SplitEnumNames(EnumParameterNames<T>::List());
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i] == this->m_value_text) {
                out = static_cast<T>(i);
                return this->m_value_text;
            }
        }
        throw std::runtime_error(std::string("Deserialization failed.") + "    Name = " + this->GetName() +
                                 "    Semantic type = " + this->GetSemanticType() + "    possible values = " +
                                 EnumParameterNames<T>::List() + "    unknown enum value '" + this->m_value_text + "'");
    }

    std::string Serialize(T value) const
    {
        const std::vector<std::string> names = SplitEnumNames(EnumParameterNames<T>::List());
        const long long number = static_cast<long long>(value);
        if (number < 0 || number >= static_cast<long long>(names.size()))
            throw std::runtime_error(std::string("Serialization failed.") + "    Name = " + this->GetName() +
                                     "    Semantic type = " + this->GetSemanticType() +
                                     "    possible values = " + EnumParameterNames<T>::List() +
                                     "    numeric enum value: " + std::to_string(number));
        return names[static_cast<std::size_t>(number)];
    }

    std::string ValueAsText(const T& value) const { return Serialize(value); }

    void FillSemanticType(std::string& semantic_type) const override { semantic_type = TypeIdAsString::ForType<T>(); }

    void FillParameterOptions(ParameterOptions& options) const override
    {
        BaseParameter::FillParameterOptions(options);
        options.emplace(ParameterOption::kEnumNames, EnumParameterNames<T>::List());
    }
};

// A structured value (points, lists, key=value texts).
template <typename T, typename C = TrivialContainer<T>>
class CompoundValueParam : public StreamReadableParameter<T, C> {
public:
    // The semantic type; null means the readable name of T.
    virtual const char* ParameterSemanticTypeName() const { return nullptr; }

    void FillSemanticType(std::string& semantic_type) const override
    {
        const char* name = ParameterSemanticTypeName();
        semantic_type = name ? std::string(name) : TypeIdAsString::ForType<T>();
    }
};

// Whether the segment between two points relative to the picture has a point in the picture
// ([0, 1] on both axes).
bool SegmentMeetsPicture(double x0, double y0, double x1, double y1);

// Why a counting line given relative to the picture can count nothing (an object crosses it only
// inside the picture, along a segment of non-zero length): "it has 1 point", "its points coincide",
// "it lies wholly outside the picture"; empty when it can count.
template <typename Point>
std::string CountingLineDefect(const std::vector<Point>& points)
{
    if (points.size() < 2)
        return "it has " + std::to_string(points.size()) + (points.size() == 1 ? " point" : " points");
    bool moves = false;
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        const Point& a = points[i];
        const Point& b = points[i + 1];
        if (a.x == b.x && a.y == b.y)
            continue;
        moves = true;
        if (SegmentMeetsPicture(a.x, a.y, b.x, b.y))
            return std::string();
    }
    return moves ? "it lies wholly outside the picture" : "its points coincide";
}

// Counting lines with their ids and directions.
class VectOfRelPolyLineParam : public CompoundValueParam<std::vector<InputLineFormat>> {
public:
    const char* ParameterSemanticTypeName() const override { return "VectorOfRelativePolyLine"; }
};

// The parameter list of a block, declared on first use.
class ParametersSupportHelperBase {
public:
    virtual ~ParametersSupportHelperBase() = default;
    ParametersSupportHelperBase(const ParametersSupportHelperBase&) = delete;
    ParametersSupportHelperBase& operator=(const ParametersSupportHelperBase&) = delete;

    // Declares the block's parameters; each block overrides it.
    virtual void InitializeDefaultParameters() {}

    // Declares the parameters on the first call, then calls fn for each in declaration order.
    void ForEachParameterImpl(const std::function<void(BaseParameter&)>& fn);

    // Declares one parameter. `reserved` is ignored; `comment` must be empty (use `brief`).
    template <typename P>
    void InitValueParameterStringDefault(P& parameter, const char* reserved, const char* group, const char* name,
                                         const char* brief, const char* comment, const std::string& default_text)
    {
        (void)reserved;
        if (comment && *comment)
            throw std::logic_error(
                "field 'comment' is not supported in InitValueParameter and never should be used. Use brief.");
        parameter.InitWithDefault(name ? name : "", brief ? brief : "", default_text);
        if (group && *group)
            parameter.SetOption(ParameterOption::kGroup, group);
        RegisterParameter(&parameter);
    }

    // The same with the default given as a value (a number, a bool or an enumeration value).
    template <typename P, typename V>
    void InitValueParameterDefault(P& parameter, const char* reserved, const char* group, const char* name,
                                   const char* brief, const char* comment, const V& default_value)
    {
        InitValueParameterStringDefault(parameter, reserved, group, name, brief, comment,
                                        parameter.ValueAsText(default_value));
    }

protected:
    ParametersSupportHelperBase() = default;

    // Lists a parameter declared directly through its InitWithDefault (once).
    void RegisterParameter(BaseParameter* parameter);

private:
    std::vector<BaseParameter*> m_parameters;  // members of the block itself
    bool m_declared = false;
};

class IHasParameters {
public:
    virtual void ForEachParameter(std::function<void(BaseParameter&)> fn) = 0;
    virtual ~IHasParameters() = default;
};

class ImplIHasParameters : public IHasParameters, public ParametersSupportHelperBase {
public:
    void ForEachParameter(std::function<void(BaseParameter&)> fn) override { ForEachParameterImpl(fn); }
};

}  // namespace ParamsLib

// The perspective transform as a key=value list.
class PerspectiveFilterValueParam : public ParamsLib::CompoundValueParam<PerspectiveFilterParams> {
public:
    const char* ParameterSemanticTypeName() const override { return "perspective"; }
};

// Polylines of points relative to the picture.
class VectorOfRelativePolyLineParam
    : public ParamsLib::CompoundValueParam<std::vector<std::vector<ParameterSPOINTType>>> {
public:
    const char* ParameterSemanticTypeName() const override { return "VectorOfRelativePolyLine"; }
};

namespace stereo {

// A matrix given as rows of numbers.
class MatrixParam : public ParamsLib::CompoundValueParam<std::vector<std::vector<double>>> {
public:
    const char* ParameterSemanticTypeName() const override { return "MatrixParam"; }
};

}  // namespace stereo
