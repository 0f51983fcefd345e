// Reads a store file (XML, UTF-8) into StoreData. The reader is strict: an
// unknown element or attribute, a value that does not fit its type or a
// reference to something the file does not hold is an error naming the line
// and column, so that a typing mistake in a store never goes unnoticed.
#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>
#include <utility>

#include "ConfigStore.h"

namespace cfgstore {
namespace {

constexpr const char* kRootElement = "IviConfigurationStore";
// Structures nest; the bound keeps the recursive reader's stack small
// whatever the file holds.
constexpr int kMaxStructureDepth = 32;

struct FormatError {
    std::ptrdiff_t nOffset;
    std::string strText;
};

[[noreturn]] void Fail(pugi::xml_node node, std::string strText) {
    throw FormatError{node.offset_debug(), std::move(strText)};
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

std::string_view Trimmed(std::string_view sv) {
    const char* kBlanks = " \t\r\n";
    const auto nFirst = sv.find_first_not_of(kBlanks);
    if (nFirst == std::string_view::npos) {
        return {};
    }
    return sv.substr(nFirst, sv.find_last_not_of(kBlanks) - nFirst + 1);
}

std::optional<bool> ParseBoolean(std::string_view sv) {
    sv = Trimmed(sv);
    if (EqualsNoCase(sv, "true") || sv == "1") {
        return true;
    }
    if (EqualsNoCase(sv, "false") || sv == "0") {
        return false;
    }
    return std::nullopt;
}

std::optional<ViInt32> ParseInt32(std::string_view sv) {
    sv = Trimmed(sv);
    if (!sv.empty() && sv.front() == '+') {
        sv.remove_prefix(1);
        if (!sv.empty() && sv.front() == '-') {
            return std::nullopt;
        }
    }
    ViInt32 nValue = 0;
    const auto result = std::from_chars(sv.data(), sv.data() + sv.size(), nValue);
    if (sv.empty() || result.ec != std::errc() || result.ptr != sv.data() + sv.size()) {
        return std::nullopt;
    }
    return nValue;
}

std::optional<double> ParseReal(std::string_view sv) {
    sv = Trimmed(sv);
    if (!sv.empty() && sv.front() == '+') {
        sv.remove_prefix(1);
        if (!sv.empty() && sv.front() == '-') {
            return std::nullopt;
        }
    }
    double dValue = 0.0;
    const auto result = std::from_chars(sv.data(), sv.data() + sv.size(), dValue);
    if (sv.empty() || result.ec != std::errc() || result.ptr != sv.data() + sv.size() ||
        !std::isfinite(dValue)) {
        return std::nullopt;
    }
    return dValue;
}

// Reads the attributes of one element, refusing any it does not know.
class Element {
  public:
    Element(pugi::xml_node node, std::initializer_list<const char*> listAllowed) : m_node(node) {
        for (pugi::xml_attribute attr : node.attributes()) {
            const bool bKnown =
                std::any_of(listAllowed.begin(), listAllowed.end(),
                            [&](const char* sz) { return std::strcmp(sz, attr.name()) == 0; });
            if (!bKnown) {
                Fail(node, "the element <" + std::string(node.name()) + "> has no attribute " +
                               Quoted(attr.name()));
            }
            for (pugi::xml_attribute other = attr.next_attribute(); other;
                 other = other.next_attribute()) {
                if (std::strcmp(other.name(), attr.name()) == 0) {
                    Fail(node, "the attribute " + Quoted(attr.name()) + " appears twice");
                }
            }
        }
    }

    bool Has(const char* szName) const { return static_cast<bool>(m_node.attribute(szName)); }

    std::string Text(const char* szName, const char* szDefault = "") const {
        return m_node.attribute(szName).as_string(szDefault);
    }

    std::string Name(const char* szName = "name") const {
        if (!Has(szName) || Text(szName).empty()) {
            Fail(m_node, "the element <" + std::string(m_node.name()) + "> needs a non-empty " +
                             Quoted(szName) + " attribute");
        }
        return Text(szName);
    }

    bool Boolean(const char* szName, bool bDefault) const {
        if (!Has(szName)) {
            return bDefault;
        }
        const auto value = ParseBoolean(Text(szName));
        if (!value) {
            Fail(m_node, "the attribute " + Quoted(szName) + " must be true or false, not " +
                             Quoted(Text(szName)));
        }
        return *value;
    }

    ViInt32 Int32(const char* szName) const {
        const auto value = ParseInt32(Text(szName));
        if (!Has(szName) || !value) {
            Fail(m_node, "the attribute " + Quoted(szName) + " must be a 32-bit integer, not " +
                             Quoted(Text(szName)));
        }
        return *value;
    }

    pugi::xml_node Node() const { return m_node; }

  private:
    pugi::xml_node m_node;
};

// Walks the child elements of a node, refusing text and unknown elements.
template <class Handler>
void ForEachChild(pugi::xml_node parent, std::initializer_list<const char*> listAllowed,
                  Handler handler) {
    for (pugi::xml_node child : parent.children()) {
        if (child.type() != pugi::node_element) {
            if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
                if (!Trimmed(child.value()).empty()) {
                    Fail(child, "unexpected text inside <" + std::string(parent.name()) + ">");
                }
            }
            continue;
        }
        const bool bKnown =
            std::any_of(listAllowed.begin(), listAllowed.end(),
                        [&](const char* sz) { return std::strcmp(sz, child.name()) == 0; });
        if (!bKnown) {
            Fail(child, "the element <" + std::string(parent.name()) + "> cannot hold <" +
                            child.name() + ">");
        }
        handler(child);
    }
}

struct TypeName {
    const char* szName;
    DataType eType;
};
constexpr TypeName kTypeNames[] = {
    {"Boolean", DataType::Boolean}, {"Integer", DataType::Integer},     {"Real", DataType::Real},
    {"String", DataType::String},   {"Structure", DataType::Structure},
};

DataComponent ReadDataComponent(pugi::xml_node node, int nDepth) {
    if (nDepth > kMaxStructureDepth) {
        Fail(node,
             "structures are nested more than " + std::to_string(kMaxStructureDepth) + " deep");
    }
    const Element element(node, {"name", "type", "value", "description"});
    DataComponent component;
    component.strName = element.Name();
    component.strDescription = element.Text("description");
    if (!element.Has("type")) {
        Fail(node, "the data component " + Quoted(component.strName) + " needs a \"type\"");
    }
    component.strType = element.Text("type");
    component.strValue = element.Text("value");
    for (const TypeName& row : kTypeNames) {
        if (EqualsNoCase(Trimmed(component.strType), row.szName)) {
            component.eType = row.eType;
        }
    }
    const std::string strWhat =
        "the " + component.strType + " data component " + Quoted(component.strName);
    if (component.eType != DataType::Structure && node.child("DataComponent")) {
        Fail(node, strWhat + " is not a structure and cannot hold members");
    }
    const bool bNeedsValue = component.eType == DataType::Boolean ||
                             component.eType == DataType::Integer ||
                             component.eType == DataType::Real;
    if (bNeedsValue && !element.Has("value")) {
        Fail(node, strWhat + " needs a \"value\"");
    }
    switch (component.eType) {
        case DataType::Boolean: {
            const auto value = ParseBoolean(component.strValue);
            if (!value) {
                Fail(node, strWhat + " must have the value true or false, not " +
                               Quoted(component.strValue));
            }
            component.bValue = *value;
            break;
        }
        case DataType::Integer: {
            const auto value = ParseInt32(component.strValue);
            if (!value) {
                Fail(node, strWhat + " must have a 32-bit integer value, not " +
                               Quoted(component.strValue));
            }
            component.nValue = *value;
            break;
        }
        case DataType::Real: {
            const auto value = ParseReal(component.strValue);
            if (!value) {
                Fail(node, strWhat + " must have a finite number as its value, not " +
                               Quoted(component.strValue));
            }
            component.dValue = *value;
            break;
        }
        case DataType::Structure:
            if (element.Has("value")) {
                Fail(node, strWhat + " holds members, not a value");
            }
            ForEachChild(node, {"DataComponent"}, [&](pugi::xml_node child) {
                component.vecMembers.push_back(ReadDataComponent(child, nDepth + 1));
            });
            break;
        case DataType::String:
        case DataType::Other:
            break;
    }
    return component;
}

// Records a top-level name, refusing a second item of the same kind and name.
void AddName(std::map<std::string, std::size_t, std::less<>>& mapNames, const std::string& strName,
             std::size_t nIndex, pugi::xml_node node, const char* szKind) {
    if (!mapNames.emplace(strName, nIndex).second) {
        Fail(node, std::string("a second ") + szKind + " is named " + Quoted(strName));
    }
}

struct PendingSession {
    pugi::xml_node node;
    std::string strHardwareAsset;
    std::string strSoftwareModule;
};

struct PendingLogicalName {
    pugi::xml_node node;
    std::string strDriverSession;
};

std::shared_ptr<StoreData> ReadDocument(pugi::xml_node root) {
    auto pData = std::make_shared<StoreData>();
    std::vector<PendingSession> vecSessions;
    std::vector<PendingLogicalName> vecLogicalNames;
    Element(root, {});
    ForEachChild(
        root, {"LogicalName", "DriverSession", "HardwareAsset", "SoftwareModule"},
        [&](pugi::xml_node node) {
            const std::string_view svKind = node.name();
            if (svKind == "SoftwareModule") {
                const Element element(node, {"name", "description"});
                SoftwareModule module;
                module.strName = element.Name();
                module.strDescription = element.Text("description");
                ForEachChild(node, {"PhysicalName", "DataComponent"}, [&](pugi::xml_node child) {
                    if (std::strcmp(child.name(), "PhysicalName") == 0) {
                        const Element physical(child, {"name", "repCapName"});
                        module.vecPhysicalNames.push_back(
                            {physical.Name(), physical.Text("repCapName")});
                    } else {
                        module.vecDataComponents.push_back(ReadDataComponent(child, 1));
                    }
                });
                AddName(pData->mapSoftwareModules, module.strName, pData->vecSoftwareModules.size(),
                        node, "software module");
                pData->vecSoftwareModules.push_back(std::move(module));
            } else if (svKind == "HardwareAsset") {
                const Element element(node, {"name", "description", "resourceDescriptor"});
                HardwareAsset asset;
                asset.strName = element.Name();
                asset.strDescription = element.Text("description");
                asset.strResourceDescriptor = element.Text("resourceDescriptor");
                ForEachChild(node, {"DataComponent"}, [&](pugi::xml_node child) {
                    asset.vecDataComponents.push_back(ReadDataComponent(child, 1));
                });
                AddName(pData->mapHardwareAssets, asset.strName, pData->vecHardwareAssets.size(),
                        node, "hardware asset");
                pData->vecHardwareAssets.push_back(std::move(asset));
            } else if (svKind == "DriverSession") {
                const Element element(
                    node, {"name", "description", "softwareModule", "hardwareAsset", "cache",
                           "interchangeCheck", "queryInstrStatus", "rangeCheck", "recordCoercions",
                           "simulate", "driverSetup"});
                DriverSession session;
                session.strName = element.Name();
                session.strDescription = element.Text("description");
                session.bCache = element.Boolean("cache", true);
                session.bInterchangeCheck = element.Boolean("interchangeCheck", false);
                session.bQueryInstrStatus = element.Boolean("queryInstrStatus", false);
                session.bRangeCheck = element.Boolean("rangeCheck", true);
                session.bRecordCoercions = element.Boolean("recordCoercions", false);
                session.bSimulate = element.Boolean("simulate", false);
                session.strDriverSetup = element.Text("driverSetup");
                ForEachChild(node, {"VirtualName", "DataComponent"}, [&](pugi::xml_node child) {
                    if (std::strcmp(child.name(), "DataComponent") == 0) {
                        session.vecDataComponents.push_back(ReadDataComponent(child, 1));
                        return;
                    }
                    const Element virtualName(child, {"name", "mapTo"});
                    VirtualName name{virtualName.Name(), virtualName.Name("mapTo"), {}};
                    ForEachChild(child, {"VirtualRange"}, [&](pugi::xml_node rangeNode) {
                        const Element range(rangeNode, {"min", "max", "startingPhysicalIndex"});
                        VirtualRange row;
                        row.nMin = range.Int32("min");
                        row.nMax = range.Int32("max");
                        row.nStartingPhysicalIndex = range.Has("startingPhysicalIndex")
                                                         ? range.Int32("startingPhysicalIndex")
                                                         : row.nMin;
                        name.vecRanges.push_back(row);
                    });
                    session.vecVirtualNames.push_back(std::move(name));
                });
                vecSessions.push_back(
                    {node, element.Text("hardwareAsset"), element.Text("softwareModule")});
                AddName(pData->mapDriverSessions, session.strName, pData->vecDriverSessions.size(),
                        node, "driver session");
                pData->vecDriverSessions.push_back(std::move(session));
            } else {
                const Element element(node, {"name", "driverSession"});
                LogicalName logical{element.Name(), 0};
                vecLogicalNames.push_back({node, element.Name("driverSession")});
                AddName(pData->mapLogicalNames, logical.strName, pData->vecLogicalNames.size(),
                        node, "logical name");
                pData->vecLogicalNames.push_back(std::move(logical));
            }
        });

    // References are resolved once every item is known, so the file may list
    // items in any order.
    for (std::size_t n = 0; n < vecSessions.size(); ++n) {
        const PendingSession& pending = vecSessions[n];
        DriverSession& session = pData->vecDriverSessions[n];
        if (!pending.strHardwareAsset.empty()) {
            auto it = pData->mapHardwareAssets.find(pending.strHardwareAsset);
            if (it == pData->mapHardwareAssets.end()) {
                Fail(pending.node, "the driver session " + Quoted(session.strName) +
                                       " refers to the hardware asset " +
                                       Quoted(pending.strHardwareAsset) +
                                       ", which the store does not hold");
            }
            session.nHardwareAsset = it->second;
        }
        if (!pending.strSoftwareModule.empty()) {
            auto it = pData->mapSoftwareModules.find(pending.strSoftwareModule);
            if (it == pData->mapSoftwareModules.end()) {
                Fail(pending.node, "the driver session " + Quoted(session.strName) +
                                       " refers to the software module " +
                                       Quoted(pending.strSoftwareModule) +
                                       ", which the store does not hold");
            }
            session.nSoftwareModule = it->second;
        }
    }
    for (std::size_t n = 0; n < vecLogicalNames.size(); ++n) {
        const PendingLogicalName& pending = vecLogicalNames[n];
        auto it = pData->mapDriverSessions.find(pending.strDriverSession);
        if (it == pData->mapDriverSessions.end()) {
            Fail(pending.node, "the logical name " + Quoted(pData->vecLogicalNames[n].strName) +
                                   " refers to the driver session " +
                                   Quoted(pending.strDriverSession) +
                                   ", which the store does not hold");
        }
        pData->vecLogicalNames[n].nDriverSession = it->second;
    }
    return pData;
}

// Line and column (both from 1) of a byte offset into the text.
std::pair<std::size_t, std::size_t> LineAndColumn(std::string_view svText, std::ptrdiff_t nOffset) {
    const std::size_t nEnd =
        nOffset < 0 ? svText.size() : std::min(svText.size(), static_cast<std::size_t>(nOffset));
    std::size_t nLine = 1;
    std::size_t nLineStart = 0;
    for (std::size_t n = 0; n < nEnd; ++n) {
        if (svText[n] == '\n') {
            ++nLine;
            nLineStart = n + 1;
        }
    }
    return {nLine, nEnd - nLineStart + 1};
}

std::string Describe(std::string_view svText, const std::string& strLocation,
                     std::ptrdiff_t nOffset, const std::string& strWhat) {
    const auto [nLine, nColumn] = LineAndColumn(svText, nOffset);
    return "The configuration store " + Quoted(strLocation) + " is not valid at line " +
           std::to_string(nLine) + ", column " + std::to_string(nColumn) + ": " + strWhat + ".";
}

}  // namespace

std::shared_ptr<const StoreData> BuiltInStore() {
    static const std::shared_ptr<const StoreData> pBuiltIn = [] {
        auto pData = std::make_shared<StoreData>();
        SoftwareModule module;
        module.strName = "TARVEK";
        module.strDescription = "IVI-C Driver for 631X and 651X Series DC Power Supplies";
        for (const char* szChannel : {"CH1", "CH2", "CH3"}) {
            module.vecPhysicalNames.push_back({szChannel, "OutputChannel"});
        }
        pData->mapSoftwareModules.emplace(module.strName, 0);
        pData->vecSoftwareModules.push_back(std::move(module));
        return pData;
    }();
    return pBuiltIn;
}

std::shared_ptr<const StoreData> ReadStoreText(std::string_view svText,
                                               const std::string& strLocation,
                                               std::string& strError) {
    // The limit is checked here, not only where a file is read, so that every
    // text the reader accepts (the writer's included) fits in a store file.
    if (svText.size() > kMaxStoreFileSize) {
        strError = "The configuration store " + Quoted(strLocation) + " is " +
                   std::to_string(svText.size()) + " bytes, more than the " +
                   std::to_string(kMaxStoreFileSize) + " bytes a store file may hold.";
        return nullptr;
    }
    pugi::xml_document doc;
    // UTF-8 only: the offsets pugixml reports then point into the file as it
    // stands, which keeps line and column numbers right.
    const pugi::xml_parse_result result =
        doc.load_buffer(svText.data(), svText.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!result) {
        strError = Describe(svText, strLocation, result.offset, result.description());
        return nullptr;
    }
    const pugi::xml_node root = doc.document_element();
    if (std::strcmp(root.name(), kRootElement) != 0) {
        strError = Describe(svText, strLocation, root.offset_debug(),
                            std::string("the document element must be <") + kRootElement +
                                ">, not <" + root.name() + ">");
        return nullptr;
    }
    try {
        return ReadDocument(root);
    } catch (const FormatError& error) {
        // pugixml places an element at its name; point at the '<' a reader sees.
        std::ptrdiff_t nOffset = error.nOffset;
        if (nOffset > 0 && static_cast<std::size_t>(nOffset) <= svText.size() &&
            svText[static_cast<std::size_t>(nOffset) - 1] == '<') {
            --nOffset;
        }
        strError = Describe(svText, strLocation, nOffset, error.strText);
        return nullptr;
    }
}

std::string Quoted(std::string_view svText) {
    std::string strOut = "\"";
    strOut.append(svText);
    strOut += '"';
    return strOut;
}

}  // namespace cfgstore
