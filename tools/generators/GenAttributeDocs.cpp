// Generates the attribute reference (docs/attributes.md) from the attribute
// registry and the catalogue rows, so that the reference always says what the
// library does, and the same description as JSON for the generators of other
// language bindings (the Python package).
//
//   gen_attribute_docs <file>                 writes the reference to <file>
//   gen_attribute_docs --check <file>         exits 1 when <file> differs from it
//   gen_attribute_docs --json <file>          writes the JSON description to <file>
//   gen_attribute_docs --check-json <file>    exits 1 when <file> differs from it
//   gen_attribute_docs --scpi <file>          writes the SCPI coverage table to <file>
//   gen_attribute_docs --check-scpi <file>    exits 1 when <file> differs from it
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Instrument.h"
#include "ScpiParser.h"
#include "driver/Identity.h"
#include "driver/attributes/CatalogueFacts.h"
#include "driver/attributes/CatalogueRows.h"
#include "driver/functions/FunctionCommands.h"
#include "runtime/attributes/AttributeRegistry.h"
#include "tools/cli/Json.h"

namespace {

using tarvek::AttributeRow;
using tarvek::CatalogueEntry;
using tarvek::ValueType;

// Attributes registered outside the catalogue rows: the IVI inherent and
// identity attributes, the channel count, the channel selection and the
// direct-I/O attributes.
const std::map<ViAttr, const char*>& OtherAttributeNotes() {
    static const std::map<ViAttr, const char*> kNotes = {
        {TARVEK_ATTR_RANGE_CHECK, "Session option \"RangeCheck\""},
        {TARVEK_ATTR_QUERY_INSTRUMENT_STATUS,
         "Session option \"QueryInstrStatus\": \"*ESR?\" after each exchange"},
        {TARVEK_ATTR_CACHE, "Session option \"Cache\""},
        {TARVEK_ATTR_SIMULATE, "Session option \"Simulate\""},
        {TARVEK_ATTR_RECORD_COERCIONS, "Session option \"RecordCoercions\""},
        {TARVEK_ATTR_DRIVER_SETUP, "The DriverSetup text of the option string"},
        {TARVEK_ATTR_INTERCHANGE_CHECK, "Session option \"InterchangeCheck\""},
        {TARVEK_ATTR_CHANNEL_COUNT, "3 on Series6310, 1 on Series6510; sends nothing"},
        {TARVEK_ATTR_SPECIFIC_DRIVER_PREFIX, "The driver prefix"},
        {TARVEK_ATTR_IO_RESOURCE_DESCRIPTOR, "The VISA resource of the session"},
        {TARVEK_ATTR_LOGICAL_NAME, "The logical name the session was opened with"},
        {TARVEK_ATTR_SUPPORTED_INSTRUMENT_MODELS, "The models the driver knows"},
        {TARVEK_ATTR_GROUP_CAPABILITIES, "The IviDCPwr groups the driver implements"},
        {TARVEK_ATTR_INSTRUMENT_FIRMWARE_REVISION,
         "From \"*IDN?\"; \"Sim\" and the driver revision in simulation"},
        {TARVEK_ATTR_INSTRUMENT_MANUFACTURER, "From \"*IDN?\"; the driver vendor in simulation"},
        {TARVEK_ATTR_INSTRUMENT_MODEL, "From \"*IDN?\", or DriverSetup \"Model\""},
        {TARVEK_ATTR_SPECIFIC_DRIVER_VENDOR, "The driver vendor"},
        {TARVEK_ATTR_SPECIFIC_DRIVER_DESCRIPTION, "The driver description"},
        {TARVEK_ATTR_SPECIFIC_DRIVER_CLASS_SPEC_MAJOR_VERSION, "3"},
        {TARVEK_ATTR_SPECIFIC_DRIVER_CLASS_SPEC_MINOR_VERSION, "0"},
        {TARVEK_ATTR_SPECIFIC_DRIVER_REVISION, "The driver revision"},
        {TARVEK_ATTR_SELECTED_CHANNEL,
         "\"INST:SEL?\" / \"INST:SEL %s\" with \"0\", \"1\", \"2\"; not on Series6510"},
        {TARVEK_ATTR_SYSTEM_IO_TIMEOUT,
         "The VISA timeout (ms) of the I/O session; -1 (VI_TMO_INFINITE) waits without end; "
         "not in simulation"},
        {TARVEK_ATTR_SYSTEM_IO_SESSION, "The VISA session handle; not in simulation"},
    };
    return kNotes;
}

std::string Code(const char* pText) {
    if (pText == nullptr) {
        return "none";
    }
    std::string strText = pText;
    if (!strText.empty() && strText.back() == '\n') {
        strText.pop_back();
    }
    return "`" + strText + "`";
}

bool IsNamingRow(const drt::EnumCommandInfo& info) {
    return info.models.size() == 1 && info.models.front() == drt::kNoModel;
}

bool ListHas(const char* pList, const std::string& strName) {
    std::stringstream list(pList);
    std::string strItem;
    while (std::getline(list, strItem, ',')) {
        if (strItem == strName) {
            return true;
        }
    }
    return false;
}

// The defined values of a map, in map order, each once; values that no
// instrument takes follow as refused, with the reason.
std::string ValueNames(const drt::EnumCommandMap& map, const tarvek::AcceptedValues* pAccepted) {
    std::set<std::string> setApplied;
    for (const auto& info : map) {
        if (!IsNamingRow(info)) {
            setApplied.insert(info.name);
        }
    }
    std::string strTaken;
    std::string strRefused;
    std::set<std::string> setSeen;
    for (const auto& info : map) {
        if (!setSeen.insert(info.name).second) {
            continue;
        }
        const bool bTaken = pAccepted != nullptr ? ListHas(pAccepted->pAccepted, info.name)
                                                 : setApplied.count(info.name) != 0;
        std::string& strList = bTaken ? strTaken : strRefused;
        strList += (strList.empty() ? "`" : ", `") + info.name + "`";
    }
    if (!strRefused.empty()) {
        strTaken +=
            "; refused: " + strRefused + " (" +
            (pAccepted != nullptr ? pAccepted->pReason : "no instrument has a word for them") + ")";
    }
    return strTaken;
}

std::string Values(const AttributeRow& row) {
    if (row.values != nullptr) {
        return ValueNames(row.values(), tarvek::FindAcceptedValues(row.id));
    }
    switch (row.type) {
        case ValueType::Real64:
            return "real";
        case ValueType::String:
            return row.text != nullptr ? std::string("text: ") + row.text->pDescription : "text";
        default:
            return "integer";
    }
}

std::string SimulatedValue(const AttributeRow& row) {
    switch (row.type) {
        case ValueType::Real64: {
            std::ostringstream text;
            text << row.sim.dValue;
            const std::string strValue = text.str();
            return strValue.find_first_of(".e") == std::string::npos ? strValue + ".0" : strValue;
        }
        case ValueType::String:
            return std::string("\"").append(row.sim.pText).append("\"");
        case ValueType::Boolean:
        case ValueType::Int32:
            if (row.values != nullptr) {
                return std::string("`")
                    .append(drt::ValueName(row.values(), row.sim.nValue))
                    .append("`");
            }
            return std::to_string(row.sim.nValue);
        default:
            return "";
    }
}

std::string Models(const AttributeRow& row) {
    std::string strModels =
        row.unsupported != nullptr ? std::string("not on ") + row.unsupported : std::string("both");
    if (row.family.pFamily != nullptr) {
        strModels += "; " + std::string(row.family.pFamily) + ": " + Code(row.family.pQuery);
        if (row.family.pCommand != nullptr) {
            strModels += ", " + Code(row.family.pCommand);
        }
    }
    return strModels;
}

std::string Access(const drt::AttributeDescriptor& descriptor) {
    return descriptor.setter.Empty() ? "R" : "RW";
}

// A number as the shortest text that reads back to it ("60", "0.001", "1e+06").
std::string Number(double dValue) {
    std::ostringstream text;
    text << std::setprecision(15) << dValue;
    return text.str();
}

bool SameRange(const tarvek::ValueRange& a, const tarvek::ValueRange& b) {
    return a.dMin == b.dMin && a.dMax == b.dMax;
}

const tarvek::AttributeFacts& FactsOf(ViAttr id) {
    static const tarvek::AttributeFacts kUnknown{id, "", "", tarvek::kNoRange};
    const tarvek::AttributeFacts* pFacts = tarvek::FindFacts(id);
    return pFacts != nullptr ? *pFacts : kUnknown;
}

std::string RangeText(const tarvek::FamilyRanges& ranges) {
    if (!ranges.bHas) {
        return "";
    }
    auto one = [](const tarvek::ValueRange& range) {
        return Number(range.dMin) + " to " + Number(range.dMax);
    };
    if (SameRange(ranges.r6310, ranges.r6510)) {
        return one(ranges.r6310);
    }
    return std::string(tarvek::kFamily6310) + ": " + one(ranges.r6310) + "; " +
           tarvek::kFamily6510 + ": " + one(ranges.r6510);
}

std::string UnitText(const tarvek::AttributeFacts& facts) {
    return facts.pUnit == nullptr || std::strcmp(facts.pUnit, "none") == 0 ? "" : facts.pUnit;
}

const char* kTableHeader =
    "| Attribute | Id | Type | Access | Channel | Purpose | Unit | Range | Query | Command | "
    "Values | Models | Simulated |\n"
    "|---|---|---|---|---|---|---|---|---|---|---|---|---|\n";

void WriteEntry(std::ostream& out, const CatalogueEntry& entry,
                const drt::AttributeDescriptor& descriptor) {
    const AttributeRow& row = entry.row;
    const bool bChannel = row.channel == drt::ChannelKind::Output;
    out << "| `" << descriptor.name << "` | " << descriptor.id << " | " << descriptor.typeName
        << " | " << Access(descriptor) << " | " << (bChannel ? "per channel" : "") << " | ";
    const tarvek::AttributeFacts& facts = FactsOf(row.id);
    out << facts.pDescription << " | " << UnitText(facts) << " | " << RangeText(facts.ranges)
        << " | ";
    const std::string strSimulated =
        entry.pSimulated != nullptr
            ? std::string(entry.pSimulated)
            : (row.simKind == tarvek::SimKind::Fixed ? "fixed " : "last, else ") +
                  SimulatedValue(row);
    if (entry.pNote != nullptr) {
        out << entry.pNote << " | | " << (row.values != nullptr ? Values(row) : "") << " | "
            << Models(row) << " | " << strSimulated << " |\n";
        return;
    }
    out << Code(row.query) << " | " << Code(row.command) << " | " << Values(row) << " | "
        << Models(row) << " | " << strSimulated << " |\n";
}

// Every registered attribute, found by walking the three IVI id bands.
std::map<ViAttr, const drt::AttributeDescriptor*> RegisteredAttributes() {
    const drt::AttributeRegistry& registry = drt::AttributeTable();
    std::map<ViAttr, const drt::AttributeDescriptor*> mapRegistered;
    for (ViAttr nBase : {1050000u, 1150000u, 1250000u}) {
        for (ViAttr nId = nBase; nId < nBase + 1000; ++nId) {
            if (const drt::AttributeDescriptor* pDescriptor = registry.Find(nId)) {
                mapRegistered[nId] = pDescriptor;
            }
        }
    }
    return mapRegistered;
}

std::string Reference() {
    const drt::AttributeRegistry& registry = drt::AttributeTable();
    std::ostringstream out;
    out << "# TARVEK attribute reference\n\n"
           "Generated from the driver's attribute catalogue by `gen_attribute_docs` "
           "(build target `attribute_docs`); do not edit by hand.\n\n"
           "Attributes are read and written with `TARVEK_GetAttributeVi<Type>` and "
           "`TARVEK_SetAttributeVi<Type>`; instrument-specific attributes also have "
           "`TARVEK_Get<Name>`/`TARVEK_Set<Name>` functions. Access R is read-only, RW "
           "read-write. A per-channel attribute takes a channel selector (\"CH1\" to "
           "\"CH3\", lists and ranges) and selects the channel with \"INST:SEL\" before "
           "its command; the others act on the instrument as a whole or on the channel "
           "the instrument has selected. Commands and queries end with a line feed. Reals "
           "are written with \"%0.15lg\", integers with \"%ld\" and words with \"%s\". "
           "Simulated: what a simulated read returns (*last, else* the last value "
           "written, before any write the value shown; *fixed* always the value shown).\n";

    std::map<ViAttr, const drt::AttributeDescriptor*> mapRegistered = RegisteredAttributes();
    std::size_t nCount = 0;
    for (const auto& group : tarvek::CatalogueGroups()) {
        out << "\n## " << group.pTitle << "\n\n" << kTableHeader;
        for (const auto& entry : group.entries) {
            const auto it = mapRegistered.find(entry.row.id);
            if (it == mapRegistered.end()) {
                continue;
            }
            WriteEntry(out, entry, *it->second);
            mapRegistered.erase(it);
            ++nCount;
        }
    }

    out << "\n## Session, identity and direct I/O\n\n"
           "| Attribute | Id | Type | Access | Purpose | Unit | Range | Meaning |\n"
           "|---|---|---|---|---|---|---|---|\n";
    for (const auto& [nId, pDescriptor] : mapRegistered) {
        const auto itNote = OtherAttributeNotes().find(nId);
        const tarvek::AttributeFacts& facts = FactsOf(nId);
        out << "| `" << pDescriptor->name << "` | " << nId << " | " << pDescriptor->typeName
            << " | " << Access(*pDescriptor) << " | " << facts.pDescription << " | "
            << UnitText(facts) << " | " << RangeText(facts.ranges) << " | "
            << (itNote != OtherAttributeNotes().end() ? itNote->second : "") << " |\n";
        ++nCount;
    }
    out << "\n" << nCount << " attributes.\n";
    if (nCount != registry.Size()) {
        std::cerr << "gen_attribute_docs: " << registry.Size() - nCount
                  << " registered attribute(s) have no description\n";
    }
    return out.str();
}

// JSON text of a command or query without its line feed; null when absent.
std::string JsonCommand(const char* pText) {
    if (pText == nullptr) {
        return "null";
    }
    std::string strText = pText;
    if (!strText.empty() && strText.back() == '\n') {
        strText.pop_back();
    }
    return cli::JsonString(strText);
}

std::string JsonText(const char* pText) {
    return pText != nullptr ? cli::JsonString(pText) : "null";
}

std::string JsonStrings(const std::vector<std::string>& vecTexts) {
    std::string strJson = "[";
    for (const auto& strText : vecTexts) {
        if (strJson.size() > 1)
            strJson += ',';
        strJson += cli::JsonString(strText);
    }
    strJson += ']';
    return strJson;
}

// True when a row's models reach the family: no models (every model), the
// family's name, or a model number of the family ("6312" in Series6310).
bool RowReachesFamily(const drt::EnumCommandInfo& info, const std::string& strFamily) {
    if (info.models.empty()) {
        return true;
    }
    for (const std::string& strModel : info.models) {
        if (strModel == strFamily ||
            strModel.compare(0, 2, strFamily, std::string("Series").size(), 2) == 0) {
            return true;
        }
    }
    return false;
}

// The rows of a boolean or enumeration map that apply to some model, with
// their instrument words (the first is what a write sends), each marked
// supported with the families whose rows leave it out; then the values the
// map names that no instrument takes, marked unsupported with the reason.
// pAccepted (hand-written callbacks) names the values those callbacks take.
std::string JsonValues(const drt::EnumCommandMap& map,
                       const tarvek::AcceptedValues* pAccepted = nullptr) {
    const std::vector<std::string> vecFamilies = {tarvek::kFamily6310, tarvek::kFamily6510};
    std::vector<std::string> vecEntries;
    auto refusedBy = [&](const std::string& strName) {
        std::vector<std::string> vecRefusing;
        for (const std::string& strFamily : vecFamilies) {
            bool bReached = false;
            for (const auto& info : map) {
                bReached = bReached || (!IsNamingRow(info) && info.name == strName &&
                                        RowReachesFamily(info, strFamily));
            }
            if (!bReached) {
                vecRefusing.push_back(strFamily);
            }
        }
        return vecRefusing;
    };
    std::set<std::string> setApplied;
    for (const auto& info : map) {
        if (IsNamingRow(info)) {
            continue;
        }
        setApplied.insert(info.name);
        const bool bAccepted = pAccepted == nullptr || ListHas(pAccepted->pAccepted, info.name);
        cli::JsonObject value;
        value.Add("name", cli::JsonString(info.name))
            .Add("value", std::to_string(info.value))
            .Add("commands", JsonStrings(info.commands))
            .Add("models", JsonStrings(info.models))
            .Add("supported", cli::JsonBool(bAccepted))
            .Add("refused_by", JsonStrings(bAccepted ? refusedBy(info.name) : vecFamilies));
        if (!bAccepted) {
            value.Add("reason", cli::JsonString(pAccepted->pReason));
        }
        vecEntries.push_back(value.Text());
    }
    for (const auto& info : map) {
        if (!IsNamingRow(info) || setApplied.count(info.name) != 0) {
            continue;
        }
        const bool bAccepted = pAccepted != nullptr && ListHas(pAccepted->pAccepted, info.name);
        cli::JsonObject value;
        value.Add("name", cli::JsonString(info.name))
            .Add("value", std::to_string(info.value))
            .Add("commands", "[]")
            .Add("models", "[]")
            .Add("supported", cli::JsonBool(bAccepted))
            .Add("refused_by", bAccepted ? "[]" : JsonStrings(vecFamilies));
        if (!bAccepted) {
            value.Add("reason",
                      cli::JsonString(pAccepted != nullptr ? pAccepted->pReason
                                                           : "no instrument has a word for it"));
        }
        vecEntries.push_back(value.Text());
    }
    std::string strJson = "[";
    for (const std::string& strEntry : vecEntries) {
        strJson += (strJson.size() > 1 ? ",\n      " : "\n      ") + strEntry;
    }
    return strJson + "]";
}

std::string JsonRange(const tarvek::FamilyRanges& ranges) {
    if (!ranges.bHas) {
        return "null";
    }
    auto one = [](const tarvek::ValueRange& range) {
        cli::JsonObject object;
        object.Add("min", Number(range.dMin)).Add("max", Number(range.dMax));
        return object.Text();
    };
    if (SameRange(ranges.r6310, ranges.r6510)) {
        return one(ranges.r6310);
    }
    cli::JsonObject object;
    object.Add(tarvek::kFamily6310, one(ranges.r6310)).Add(tarvek::kFamily6510, one(ranges.r6510));
    return object.Text();
}

void AddFacts(cli::JsonObject& object, ViAttr id) {
    const tarvek::AttributeFacts* pFacts = tarvek::FindFacts(id);
    const bool bUnit = pFacts != nullptr && std::strcmp(pFacts->pUnit, "none") != 0;
    object.Add("description", pFacts != nullptr ? cli::JsonString(pFacts->pDescription) : "null")
        .Add("unit", bUnit ? cli::JsonString(pFacts->pUnit) : "null")
        .Add("range", pFacts != nullptr ? JsonRange(pFacts->ranges) : "null");
}

// One object per registered attribute: the catalogue rows in catalogue
// order with their group, then the session, identity and direct-I/O
// attributes in identifier order.
std::string JsonDescription() {
    std::map<ViAttr, const drt::AttributeDescriptor*> mapRegistered = RegisteredAttributes();
    std::vector<std::string> vecAttributes;
    auto common = [](cli::JsonObject& object, const drt::AttributeDescriptor& descriptor) {
        std::string strName = descriptor.name;
        const std::string strPrefix = "TARVEK_ATTR_";
        if (strName.rfind(strPrefix, 0) == 0) {
            strName.erase(0, strPrefix.size());
        }
        object.Add("name", cli::JsonString(strName))
            .Add("id", std::to_string(descriptor.id))
            .Add("type", cli::JsonString(descriptor.typeName))
            .Add("access", cli::JsonString(Access(descriptor)));
    };
    for (const auto& group : tarvek::CatalogueGroups()) {
        for (const auto& entry : group.entries) {
            const auto it = mapRegistered.find(entry.row.id);
            if (it == mapRegistered.end()) {
                continue;
            }
            const AttributeRow& row = entry.row;
            cli::JsonObject object;
            common(object, *it->second);
            const bool bHandWritten = entry.pNote != nullptr;
            object.Add("channel", cli::JsonBool(row.channel == drt::ChannelKind::Output))
                .Add("group", cli::JsonString(group.pTitle))
                .Add("query", bHandWritten ? "null" : JsonCommand(row.query))
                .Add("command", bHandWritten ? "null" : JsonCommand(row.command))
                .Add("note", JsonText(entry.pNote))
                .Add("values", row.values != nullptr
                                   ? JsonValues(row.values(), tarvek::FindAcceptedValues(row.id))
                                   : "null")
                .Add("unsupported", JsonText(row.unsupported));
            if (row.family.pFamily != nullptr) {
                cli::JsonObject family;
                family.Add("family", cli::JsonString(row.family.pFamily))
                    .Add("query", JsonCommand(row.family.pQuery))
                    .Add("command", JsonCommand(row.family.pCommand));
                object.Add("family", family.Text());
            } else {
                object.Add("family", "null");
            }
            const std::string strSimulated =
                entry.pSimulated != nullptr
                    ? std::string(entry.pSimulated)
                    : (row.simKind == tarvek::SimKind::Fixed ? "fixed " : "last, else ") +
                          SimulatedValue(row);
            object.Add("simulated", cli::JsonString(strSimulated));
            AddFacts(object, row.id);
            vecAttributes.push_back(object.Text());
            mapRegistered.erase(it);
        }
    }
    for (const auto& [nId, pDescriptor] : mapRegistered) {
        cli::JsonObject object;
        common(object, *pDescriptor);
        const auto itNote = OtherAttributeNotes().find(nId);
        object.Add("channel", "false")
            .Add("group", cli::JsonString("Session, identity and direct I/O"))
            .Add("query", "null")
            .Add("command", "null")
            .Add("note",
                 itNote != OtherAttributeNotes().end() ? cli::JsonString(itNote->second) : "null")
            .Add("values", nId == TARVEK_ATTR_SELECTED_CHANNEL ? JsonValues(tarvek::ChannelMap())
                           : pDescriptor->typeName == std::string("ViBoolean")
                               ? JsonValues(drt::BooleanMap())
                               : "null")
            // The channel selection is the one inherent-table row with a model gate.
            .Add("unsupported", nId == TARVEK_ATTR_SELECTED_CHANNEL
                                    ? cli::JsonString(tarvek::kFamily6510)
                                    : "null")
            .Add("family", "null")
            .Add("simulated", "null");
        AddFacts(object, nId);
        vecAttributes.push_back(object.Text());
    }
    std::string strJson =
        "{\"generator\": \"gen_attribute_docs --json; do not edit by hand\",\n \"attributes\": [";
    for (std::size_t n = 0; n < vecAttributes.size(); ++n) {
        strJson += (n == 0 ? "\n  " : ",\n  ") + vecAttributes[n];
    }
    // The groups of defined values as the header presents them, for the
    // layers that name them (enumerations of the Python package).
    strJson += "\n ],\n \"value_groups\": [";
    bool bFirst = true;
    for (const tarvek::DefinedValueGroup& group : tarvek::DefinedValueGroups()) {
        std::vector<std::string> vecValues;
        for (const auto& info : group.values()) {
            if (IsNamingRow(info)) {
                cli::JsonObject value;
                value.Add("name", cli::JsonString(info.name))
                    .Add("value", std::to_string(info.value));
                vecValues.push_back(value.Text());
            }
        }
        cli::JsonObject object;
        object.Add("taken_by", cli::JsonString(group.pTakenBy))
            .Add("values", cli::JsonArray(vecValues));
        strJson += (bFirst ? "\n  " : ",\n  ") + object.Text();
        bFirst = false;
    }
    return strJson + "\n ]}\n";
}

// --- SCPI coverage ----------------------------------------------------------

// One command or query the driver sends, and who sends it.
struct SentCommand {
    std::string strText;      // as sent, without "\n"
    std::string strBy;        // attribute or function
    std::string strFamilies;  // "both" or a family
};

std::string WithoutLineFeed(const char* pText) {
    std::string strText = pText;
    if (!strText.empty() && strText.back() == '\n') {
        strText.pop_back();
    }
    return strText;
}

std::string OtherFamily(const char* pFamily) {
    return std::strcmp(pFamily, tarvek::kFamily6310) == 0 ? tarvek::kFamily6510
                                                          : tarvek::kFamily6310;
}

// Everything the catalogue rows and the function table send.
std::vector<SentCommand> SentCommands() {
    std::vector<SentCommand> vecSent;
    const drt::AttributeRegistry& registry = drt::AttributeTable();
    for (const auto& entry : tarvek::CatalogueEntries()) {
        if (entry.pNote != nullptr) {
            continue;  // hand-written rows reach the instrument through other rows
        }
        const AttributeRow& row = entry.row;
        const drt::AttributeDescriptor* pDescriptor = registry.Find(row.id);
        const std::string strBy = pDescriptor != nullptr ? pDescriptor->name : "";
        std::string strFamilies =
            row.unsupported != nullptr ? OtherFamily(row.unsupported) : "both";
        if (row.family.pFamily != nullptr) {
            strFamilies = OtherFamily(row.family.pFamily);
        }
        for (const char* pText : {row.query, row.command}) {
            if (pText != nullptr) {
                vecSent.push_back({WithoutLineFeed(pText), strBy, strFamilies});
            }
        }
        if (row.family.pFamily != nullptr) {
            for (const char* pText : {row.family.pQuery, row.family.pCommand}) {
                if (pText != nullptr) {
                    vecSent.push_back({WithoutLineFeed(pText), strBy, row.family.pFamily});
                }
            }
        }
    }
    for (const tarvek::FunctionCommand& command : tarvek::FunctionCommands()) {
        vecSent.push_back({command.pText, command.pFunction,
                           command.pFamily != nullptr ? command.pFamily : "both"});
    }
    return vecSent;
}

// The header nodes of a sent text ("SOUR:DIG:PIN%ld:FUNC %s" gives SOUR,
// DIG, PIN1, FUNC) and whether it is a query.
std::vector<std::string> HeaderNodes(const std::string& strText, bool& bQuery) {
    std::string strHeader = strText.substr(0, strText.find(' '));
    if (!strHeader.empty() && strHeader.front() == ':') {
        strHeader.erase(0, 1);
    }
    bQuery = !strHeader.empty() && strHeader.back() == '?';
    if (bQuery) {
        strHeader.pop_back();
    }
    // A number stands where the text formats one; built by appending, as GCC
    // 12 at -O3 warns of overlapping copies in replace().
    std::string strNumbered;
    for (std::size_t n = 0; n < strHeader.size(); ++n) {
        if (strHeader.compare(n, 3, "%ld") == 0) {
            strNumbered += '1';
            n += 2;
        } else {
            strNumbered += strHeader[n];
        }
    }
    std::vector<std::string> vecNodes;
    std::stringstream header(strNumbered);
    std::string strNode;
    while (std::getline(header, strNode, ':')) {
        vecNodes.push_back(strNode);
    }
    return vecNodes;
}

// The index of the instrument pattern a sent text reaches, or -1.
int MatchPattern(const std::vector<emu::Instrument::PatternInfo>& vecPatterns,
                 const std::string& strText, bool& bQuery) {
    const std::vector<std::string> vecNodes = HeaderNodes(strText, bQuery);
    for (std::size_t n = 0; n < vecPatterns.size(); ++n) {
        const std::string& strPattern = vecPatterns[n].strPattern;
        if (strPattern.front() == '*') {
            if (vecNodes.size() == 1 && emu::scpi::ToUpper(vecNodes.front()) == strPattern) {
                return static_cast<int>(n);
            }
            continue;
        }
        std::vector<int> vecSuffixes;
        if (emu::scpi::MatchHeader(emu::scpi::CompilePattern(strPattern), vecNodes, vecSuffixes)) {
            return static_cast<int>(n);
        }
    }
    return -1;
}

std::string FamiliesOf(int nFamilies) {
    switch (nFamilies) {
        case 1:
            return tarvek::kFamily6310;
        case 2:
            return tarvek::kFamily6510;
        default:
            return "both";
    }
}

std::string Coverage() {
    const auto vecPatterns = emu::Instrument::CommandPatterns();
    std::vector<bool> vecCommandUsed(vecPatterns.size(), false);
    std::vector<bool> vecQueryUsed(vecPatterns.size(), false);
    std::ostringstream out;
    out << "# TARVEK SCPI coverage\n\n"
           "Generated from the driver's attribute catalogue, its table of function commands "
           "(driver/functions/FunctionCommands.cpp) and the instrument emulator's command "
           "table by `gen_attribute_docs --scpi` (build target `scpi_coverage`); do not edit "
           "by hand.\n\n"
           "## What the driver sends\n\n"
           "Every command and query the driver sends, who sends it, to which family, and the "
           "instrument command it reaches. Format directives stand for the value sent.\n\n"
           "| Sent | Form | By | Families | Instrument command |\n|---|---|---|---|---|\n";
    std::size_t nSent = 0;
    std::size_t nUnknown = 0;
    for (const SentCommand& sent : SentCommands()) {
        bool bQuery = false;
        const int nPattern = MatchPattern(vecPatterns, sent.strText, bQuery);
        std::string strReached = "**none: the instrument does not know it**";
        if (nPattern >= 0) {
            strReached = "`" + vecPatterns[static_cast<std::size_t>(nPattern)].strPattern + "`";
            (bQuery ? vecQueryUsed : vecCommandUsed)[static_cast<std::size_t>(nPattern)] = true;
        } else {
            ++nUnknown;
        }
        out << "| `" << sent.strText << "` | " << (bQuery ? "query" : "command") << " | "
            << sent.strBy << " | " << sent.strFamilies << " | " << strReached << " |\n";
        ++nSent;
    }
    out << "\n## What the instrument understands and the driver leaves out\n\n"
           "Instrument commands, or their command or query form, that no attribute or "
           "function sends; reach them with the direct-I/O functions.\n\n"
           "| Instrument command | Forms left out | Families |\n|---|---|---|\n";
    std::size_t nLeftOut = 0;
    for (std::size_t n = 0; n < vecPatterns.size(); ++n) {
        const auto& pattern = vecPatterns[n];
        std::string strForms;
        if (pattern.bCommand && !vecCommandUsed[n]) {
            strForms = "command";
        }
        if (pattern.bQuery && !vecQueryUsed[n]) {
            strForms += strForms.empty() ? "query" : ", query";
        }
        if (strForms.empty()) {
            continue;
        }
        out << "| `" << pattern.strPattern << "` | " << strForms << " | "
            << FamiliesOf(pattern.nFamilies) << " |\n";
        ++nLeftOut;
    }
    out << "\n"
        << nSent << " commands and queries sent, " << nUnknown
        << " of them unknown to the instrument; " << nLeftOut << " of " << vecPatterns.size()
        << " instrument commands with a form left out.\n";
    return out.str();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string strMode = argc == 3 ? argv[1] : "";
    const bool bCheck =
        strMode == "--check" || strMode == "--check-json" || strMode == "--check-scpi";
    const bool bJson = strMode == "--json" || strMode == "--check-json";
    const bool bScpi = strMode == "--scpi" || strMode == "--check-scpi";
    if (argc != 2 && strMode != "--check" && !bJson && !bScpi) {
        std::cerr << "usage: gen_attribute_docs [--check | --json | --check-json | --scpi | "
                     "--check-scpi] <file>\n";
        return 2;
    }
    const std::string strPath = argv[argc - 1];
    const std::string strReference = bScpi ? Coverage() : bJson ? JsonDescription() : Reference();
    if (bCheck) {
        std::ifstream file(strPath, std::ios::binary);
        std::stringstream current;
        current << file.rdbuf();
        if (current.str() != strReference) {
            std::cerr << strPath << " is out of date; build the "
                      << (bScpi   ? "scpi_coverage"
                          : bJson ? "python_catalogue"
                                  : "attribute_docs")
                      << " target\n";
            return 1;
        }
        return 0;
    }
    std::ofstream file(strPath, std::ios::binary | std::ios::trunc);
    file << strReference;
    return file.good() ? 0 : 1;
}
