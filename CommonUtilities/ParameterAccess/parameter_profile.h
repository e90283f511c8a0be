#pragma once

#include <cstddef>
#include <list>
#include <map>
#include <ostream>
#include <string>

#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/ParameterAccess/parameters.h"
#include "CommonUtilities/algorithm_support/block_entities.h"
#include "CommonUtilities/algorithm_support/context.h"
#include "CommonUtilities/logged_text/logged_value.h"

// Which parameters a profile lists.
struct ParameterSetKind {
    enum Enum : int {
        kDeclaredDefaults = 0,      // all but those left out of this profile, with their defaults
        kAll = 1,                   // every parameter with its current value
        kDifferentFromDefault = 2,  // loaded values that differ from their defaults
    };
};

// The profile and the parameter listing show a value whole up to this many bytes, and cut only what
// lies beyond: the counter keeps at most 32 counting lines, and 32 lines of 64 points written with
// six decimals are about 43 kB.
constexpr std::size_t kProfileValueLimit = 64 * 1024;

// Writes the parameters of the tree as XML, one group element per block (or per option-2 group),
// groups in byte order of their names. An empty selection writes nothing. The profile is logged:
// current values are quoted as a log line quotes a value (logged_text::LoggedXmlAttribute), up to
// kProfileValueLimit bytes.
void GenerateProfile(std::ostream& out, BlockEntities::IAlgoEntityBase* root, ParameterSetKind::Enum kind);

// Writes the warning of every parameter whose declared default had to be limited or truncated.
void GenerateOtherTextualParameterInfo(std::ostream& out, BlockEntities::IAlgoEntityBase* root);

// Escapes the five XML special characters of an attribute value.
std::string EscapeXmlAttribute(const std::string& text);

// Collects one param element per parameter into its group's list.
class DefaultXmlForParamMgr {
public:
    using Groups = std::map<std::string, std::list<std::string>>;

    DefaultXmlForParamMgr(ParameterSetKind::Enum kind, Groups* groups) : m_kind(kind), m_groups(groups) {}
    void operator()(ParamsLib::BaseParameter& parameter, const BlockEntities::Context& context) const;

private:
    ParameterSetKind::Enum m_kind;
    Groups* m_groups;  // owned by the caller of the traversal
};

class ParameterWarningsReader {
public:
    explicit ParameterWarningsReader(std::ostream& out) : m_out(out) {}
    void operator()(ParamsLib::BaseParameter& parameter, const BlockEntities::Context& context) const;

private:
    std::ostream& m_out;
};

// One line per parameter: "<hierarchy name>_<name>=<value>; <type>, <description>". The listing is
// logged: the value, which may come from the parameter files, is quoted as a log line quotes one
// (logged_text::LoggedValue, up to kProfileValueLimit bytes), so that each parameter keeps its one line.
template <typename TContext>
class CompactParameterDescription {
public:
    explicit CompactParameterDescription(std::ostream& out) : m_out(out) {}

    void operator()(ParamsLib::BaseParameter& parameter, const TContext& context) const
    {
        const std::string& value = parameter.GetCurrentValueText("getting current value");
        m_out << context.cached << "_" << parameter.GetName() << "="
              << logged_text::LoggedValue(value, kProfileValueLimit) << "; " << parameter.GetSemanticType() << ", "
              << parameter.GetBrief() << std::endl;
    }

private:
    std::ostream& m_out;
};
