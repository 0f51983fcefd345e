// Store file edits. The file is changed through its XML tree, parsed with
// comments and whitespace kept and written back without reformatting, so
// that the only difference a diff shows is the edit itself. An edit holds an
// exclusive lock on a companion file "<store>.lock" (the store itself is
// replaced by every edit, so a lock on it would not outlive the first
// writer), writes the new text to a temporary file in the same directory and
// renames it over the store (StoreFile.cpp). The store tool often runs as
// root on a folder other users may write to, so neither file is ever reached
// through a symbolic link: a planted link must not make the writer create or
// open a file elsewhere.
#include "StoreWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pugixml.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

#include "StoreFile.h"

namespace cfgstore {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDriverModule = "TARVEK";

constexpr const char* kNewStoreText =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!-- IVI configuration store. Edit with 'tarvek store' or by hand. -->\n"
    "<IviConfigurationStore>\n"
    "</IviConfigurationStore>\n";

bool IsLineBlank(char c) {
    return c == ' ' || c == '\t';
}

// Where an element's text ends (one past its last '>'), given where its '<'
// is. Store items do not nest in items of their own kind, so the first
// closing tag of the name closes the element.
std::size_t ElementEnd(const std::string& strText, std::size_t nStart, const std::string& strName) {
    char cQuote = 0;
    for (std::size_t n = nStart + 1; n < strText.size(); ++n) {
        const char c = strText[n];
        if (cQuote != 0) {
            cQuote = c == cQuote ? 0 : cQuote;
        } else if (c == '"' || c == '\'') {
            cQuote = c;
        } else if (c == '>') {
            if (strText[n - 1] == '/') {
                return n + 1;
            }
            const std::size_t nClose = strText.find("</" + strName, n);
            const std::size_t nEnd =
                nClose == std::string::npos ? nClose : strText.find('>', nClose);
            return nEnd == std::string::npos ? strText.size() : nEnd + 1;
        }
    }
    return strText.size();
}

std::size_t ElementStart(pugi::xml_node node) {
    // pugixml places an element at its name, one past the '<'.
    return static_cast<std::size_t>(node.offset_debug()) - 1;
}

// One change to the file's text: the bytes [nBegin, nEnd) become strInsert.
struct TextEdit {
    std::size_t nBegin;
    std::size_t nEnd;
    std::string strInsert;
};

// Builds the edits of one change. Everything is done on the file's own text,
// so its layout, comments and attribute order stay exactly as they were.
class TextEditor {
  public:
    TextEditor(const std::string& strText, pugi::xml_node root) : m_strText(strText), m_root(root) {
        m_strUnit = "  ";
        for (pugi::xml_node child : root.children()) {
            const std::size_t nStart = ElementStart(child);
            const std::size_t nLine = strText.rfind('\n', nStart);
            if (nLine != std::string::npos && nLine + 1 < nStart) {
                const std::string strIndent = strText.substr(nLine + 1, nStart - nLine - 1);
                if (std::all_of(strIndent.begin(), strIndent.end(), IsLineBlank)) {
                    m_strUnit = strIndent;
                }
            }
            break;
        }
    }

    // A new element, written with the file's indentation, goes at the end of
    // the document element.
    void Append(const pugi::xml_node element) {
        std::ostringstream stream;
        element.print(stream, m_strUnit.c_str(), pugi::format_indent, pugi::encoding_utf8, 1);
        m_strAppended += stream.str();
    }

    // An element goes, with its line when it stands on a line of its own.
    void Remove(pugi::xml_node element) {
        std::size_t nBegin = ElementStart(element);
        std::size_t nEnd = ElementEnd(m_strText, nBegin, element.name());
        std::size_t nLineBegin = nBegin;
        while (nLineBegin > 0 && IsLineBlank(m_strText[nLineBegin - 1])) {
            --nLineBegin;
        }
        std::size_t nLineEnd = nEnd;
        while (nLineEnd < m_strText.size() && IsLineBlank(m_strText[nLineEnd])) {
            ++nLineEnd;
        }
        if ((nLineBegin == 0 || m_strText[nLineBegin - 1] == '\n') &&
            (nLineEnd == m_strText.size() || m_strText[nLineEnd] == '\n' ||
             m_strText[nLineEnd] == '\r')) {
            nBegin = nLineBegin;
            nEnd = m_strText.compare(nLineEnd, 2, "\r\n") == 0 ? nLineEnd + 2
                   : nLineEnd < m_strText.size()               ? nLineEnd + 1
                                                               : nLineEnd;
        }
        m_vecEdits.push_back({nBegin, nEnd, ""});
    }

    std::string Result() {
        std::vector<TextEdit> vecEdits = m_vecEdits;
        if (!m_strAppended.empty()) {
            vecEdits.push_back(AppendEdit());
            // Added lines end the way the file's lines end.
            if (m_strText.find("\r\n") != std::string::npos) {
                std::string& strInsert = vecEdits.back().strInsert;
                for (auto n = strInsert.find('\n'); n != std::string::npos;
                     n = strInsert.find('\n', n + 2)) {
                    strInsert.insert(n, 1, '\r');
                }
            }
        }
        // Later edits first, so that earlier offsets stay valid.
        std::sort(vecEdits.begin(), vecEdits.end(),
                  [](const TextEdit& a, const TextEdit& b) { return a.nBegin > b.nBegin; });
        std::string strResult = m_strText;
        for (const TextEdit& edit : vecEdits) {
            strResult.replace(edit.nBegin, edit.nEnd - edit.nBegin, edit.strInsert);
        }
        return strResult;
    }

  private:
    TextEdit AppendEdit() const {
        const std::size_t nRootStart = ElementStart(m_root);
        const std::size_t nRootEnd = ElementEnd(m_strText, nRootStart, m_root.name());
        if (m_strText.compare(nRootEnd - 2, 2, "/>") == 0) {
            return {nRootEnd - 2, nRootEnd,
                    ">\n" + m_strAppended + "</" + std::string(m_root.name()) + ">"};
        }
        const std::size_t nClose = m_strText.rfind("</", nRootEnd);
        std::size_t nLineBegin = nClose;
        while (nLineBegin > 0 && IsLineBlank(m_strText[nLineBegin - 1])) {
            --nLineBegin;
        }
        if (nLineBegin > 0 && m_strText[nLineBegin - 1] == '\n') {
            return {nLineBegin, nLineBegin, m_strAppended};
        }
        return {nClose, nClose, "\n" + m_strAppended};
    }

    const std::string& m_strText;
    pugi::xml_node m_root;
    std::string m_strUnit;
    std::string m_strAppended;
    std::vector<TextEdit> m_vecEdits;
};

// The names an edit adds and removes, per kind; the edited store must hold
// exactly the old names with these changes, so an edit can never lose or
// damage anything else.
enum class ItemKind { LogicalName, DriverSession, HardwareAsset, SoftwareModule };

struct NameChanges {
    std::vector<std::pair<ItemKind, std::string>> vecAdded;
    std::vector<std::pair<ItemKind, std::string>> vecRemoved;
    // What else the edited store must read back as: "" when it does, else
    // which part of the edit it would lose.
    std::function<std::string(const StoreData& after)> fnReadsBack;
};

const std::map<std::string, std::size_t, std::less<>>& NamesOf(const StoreData& data,
                                                               ItemKind eKind) {
    switch (eKind) {
        case ItemKind::LogicalName:
            return data.mapLogicalNames;
        case ItemKind::DriverSession:
            return data.mapDriverSessions;
        case ItemKind::HardwareAsset:
            return data.mapHardwareAssets;
        case ItemKind::SoftwareModule:
            break;
    }
    return data.mapSoftwareModules;
}

bool ChangesAreExact(const StoreData& before, const StoreData& after, const NameChanges& changes) {
    for (const ItemKind eKind : {ItemKind::LogicalName, ItemKind::DriverSession,
                                 ItemKind::HardwareAsset, ItemKind::SoftwareModule}) {
        std::set<std::string> setExpected;
        for (const auto& [strName, nIndex] : NamesOf(before, eKind)) {
            setExpected.insert(strName);
        }
        for (const auto& [eChanged, strName] : changes.vecAdded) {
            if (eChanged == eKind) {
                setExpected.insert(strName);
            }
        }
        for (const auto& [eChanged, strName] : changes.vecRemoved) {
            if (eChanged == eKind) {
                setExpected.erase(strName);
            }
        }
        std::set<std::string> setActual;
        for (const auto& [strName, nIndex] : NamesOf(after, eKind)) {
            setActual.insert(strName);
        }
        if (setActual != setExpected) {
            return false;
        }
    }
    return true;
}

using EditFunction =
    std::function<bool(const StoreData& data, pugi::xml_node root, TextEditor& editor,
                       NameChanges& changes, std::string& strError)>;

bool EditStoreFile(const std::string& strGivenPath, const EditFunction& edit,
                   std::string& strError) {
    // Edits go to the file a symbolic link points at, so the link survives.
    std::error_code ec;
    const fs::path path = fs::weakly_canonical(fs::absolute(strGivenPath, ec), ec);
    if (ec || path.empty()) {
        strError = "The configuration store " + Quoted(strGivenPath) +
                   " cannot be located: " + ec.message() + ".";
        return false;
    }
    const std::string strPath = path.string();
    const std::string strWhere = "The configuration store " + Quoted(strGivenPath);
    fs::create_directories(path.parent_path(), ec);
    if (ec) {
        strError = strWhere + " cannot be created: " + Quoted(path.parent_path().string()) + ": " +
                   ec.message() + ".";
        return false;
    }
    EditLock lock;
    if (!lock.Acquire(strPath, strError)) {
        return false;
    }
    struct stat before = {};
    bool bExisted = ::stat(strPath.c_str(), &before) == 0;
    if (!bExisted && errno != ENOENT) {
        strError = strWhere + " cannot be read: " + std::generic_category().message(errno) + ".";
        return false;
    }
    std::string strText = kNewStoreText;
    if (bExisted) {
        // Write permission alone is not enough: root may write anything, but
        // a store without any write bit was made read-only on purpose.
        if ((before.st_mode & 0222) == 0 || ::access(strPath.c_str(), W_OK) != 0) {
            strError = strWhere + " is read-only; nothing was changed.";
            return false;
        }
        if (!ReadWholeFile(strPath, strText, strError)) {
            return false;
        }
    }
    std::string strReadError;
    const auto pData = ReadStoreText(strText, strGivenPath, strReadError);
    if (!pData) {
        strError = strReadError + " Nothing was changed; correct the file first.";
        return false;
    }
    // Offsets into the text need a tree parsed without line-end conversion.
    pugi::xml_document doc;
    if (!doc.load_buffer(strText.data(), strText.size(), pugi::parse_default & ~pugi::parse_eol,
                         pugi::encoding_utf8)) {
        strError = strWhere + " cannot be parsed for editing; nothing was changed.";
        return false;
    }
    TextEditor editor(strText, doc.document_element());
    NameChanges changes;
    if (!edit(*pData, doc.document_element(), editor, changes, strError)) {
        return false;
    }
    // The complete new text goes through the reader before it replaces the
    // store: a file the reader refuses would break every logical name in it,
    // and one that reads back differently would lose part of the edit.
    const std::string strNewText = editor.Result();
    if (strNewText.size() > kMaxStoreFileSize) {
        strError = strWhere + " would grow to " + std::to_string(strNewText.size()) +
                   " bytes, more than the " + std::to_string(kMaxStoreFileSize) +
                   " bytes the store reader accepts; nothing was changed.";
        return false;
    }
    const auto pNewData = ReadStoreText(strNewText, strGivenPath, strReadError);
    if (!pNewData) {
        strError = strWhere + " was not changed: the store reader would refuse the edited file. " +
                   strReadError;
        return false;
    }
    std::string strLost =
        ChangesAreExact(*pData, *pNewData, changes) ? std::string() : "an item would be lost";
    if (strLost.empty() && changes.fnReadsBack) {
        strLost = changes.fnReadsBack(*pNewData);
    }
    if (!strLost.empty()) {
        strError = strWhere + " cannot be edited safely (" + strLost + "); nothing was changed.";
        return false;
    }
    return ReplaceFile(strPath, strNewText, bExisted, before, strError);
}

const SoftwareModule* FindModule(const StoreData& data, const std::string& strName) {
    const auto it = data.mapSoftwareModules.find(strName);
    return it == data.mapSoftwareModules.end() ? nullptr : &data.vecSoftwareModules[it->second];
}

pugi::xml_node FindChild(pugi::xml_node root, const char* szKind, const std::string& strName) {
    return root.find_child_by_attribute(szKind, "name", strName.c_str());
}

// Why a text cannot stand in the store file (UTF-8, XML 1.0), or "" when it
// can. The XML library would write a control character as a character
// reference, which XML 1.0 forbids and other tools reading the store refuse,
// and would cut a text at a NUL.
std::string XmlTextProblem(const std::string& strText) {
    static constexpr std::uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    for (std::size_t n = 0; n < strText.size();) {
        const auto cLead = static_cast<unsigned char>(strText[n]);
        const std::size_t nLength = cLead < 0x80             ? 1
                                    : (cLead & 0xE0) == 0xC0 ? 2
                                    : (cLead & 0xF0) == 0xE0 ? 3
                                    : (cLead & 0xF8) == 0xF0 ? 4
                                                             : 0;
        const std::string strInvalid = "is not valid UTF-8 (byte " + std::to_string(n + 1) + ")";
        if (nLength == 0 || n + nLength > strText.size()) {
            return strInvalid;
        }
        std::uint32_t nCode = nLength == 1 ? cLead : cLead & (0x7Fu >> nLength);
        for (std::size_t k = 1; k < nLength; ++k) {
            const auto c = static_cast<unsigned char>(strText[n + k]);
            if ((c & 0xC0) != 0x80) {
                return strInvalid;
            }
            nCode = (nCode << 6) | (c & 0x3Fu);
        }
        if (nCode < kShortest[nLength] || nCode > 0x10FFFF ||
            (nCode >= 0xD800 && nCode <= 0xDFFF)) {
            return strInvalid;
        }
        const bool bXmlChar = nCode == 0x9 || nCode == 0xA || nCode == 0xD ||
                              (nCode >= 0x20 && nCode <= 0xD7FF) ||
                              (nCode >= 0xE000 && nCode <= 0xFFFD) || nCode >= 0x10000;
        if (!bXmlChar) {
            char szCode[16];
            std::snprintf(szCode, sizeof szCode, "U+%04X", static_cast<unsigned>(nCode));
            return std::string("holds the character ") + szCode + ", which an XML file cannot hold";
        }
        n += nLength;
    }
    return {};
}

// The session option attributes and the members the reader fills from them.
constexpr std::pair<const char*, bool DriverSession::*> kOptionMembers[] = {
    {"cache", &DriverSession::bCache},
    {"interchangeCheck", &DriverSession::bInterchangeCheck},
    {"queryInstrStatus", &DriverSession::bQueryInstrStatus},
    {"rangeCheck", &DriverSession::bRangeCheck},
    {"recordCoercions", &DriverSession::bRecordCoercions},
    {"simulate", &DriverSession::bSimulate},
};

// Which part of an added entry the store read back differently, or "".
std::string EntryReadBack(const StoreData& data, const LogicalNameEntry& entry) {
    const auto itLogical = data.mapLogicalNames.find(entry.strName);
    if (itLogical == data.mapLogicalNames.end()) {
        return "the logical name would be lost";
    }
    const DriverSession& session =
        data.vecDriverSessions[data.vecLogicalNames[itLogical->second].nDriverSession];
    if (session.strName != entry.strName || !session.nHardwareAsset || !session.nSoftwareModule ||
        data.vecSoftwareModules[*session.nSoftwareModule].strName != kDriverModule) {
        return "its driver session would not be the one added";
    }
    if (data.vecHardwareAssets[*session.nHardwareAsset].strResourceDescriptor !=
        entry.strResource) {
        return "its resource would read back differently";
    }
    for (const auto& [strAttribute, bValue] : entry.vecOptions) {
        for (const auto& [szAttribute, pMember] : kOptionMembers) {
            if (strAttribute == szAttribute && session.*pMember != bValue) {
                return "its option " + Quoted(strAttribute) + " would read back differently";
            }
        }
    }
    if (session.strDriverSetup != entry.strDriverSetup) {
        return "its DriverSetup would read back differently";
    }
    bool bSameVirtualNames = session.vecVirtualNames.size() == entry.vecVirtualNames.size();
    for (std::size_t n = 0; bSameVirtualNames && n < entry.vecVirtualNames.size(); ++n) {
        const VirtualName& name = session.vecVirtualNames[n];
        bSameVirtualNames = name.strName == entry.vecVirtualNames[n].first &&
                            name.strMapTo == entry.vecVirtualNames[n].second &&
                            name.vecRanges.empty();
    }
    return bSameVirtualNames ? std::string() : "its virtual names would read back differently";
}

}  // namespace

const std::vector<std::string>& SessionOptionAttributes() {
    static const std::vector<std::string> kAttributes = {
        "cache",      "interchangeCheck", "queryInstrStatus",
        "rangeCheck", "recordCoercions",  "simulate"};
    return kAttributes;
}

StoreFileState ReadStoreFile(const std::string& strPath) {
    StoreFileState state;
    struct stat info = {};
    if (::stat(strPath.c_str(), &info) != 0 && errno == ENOENT) {
        state.pData = BuiltInStore();
        return state;
    }
    state.bExists = true;
    std::string strText;
    if (ReadWholeFile(strPath, strText, state.strError)) {
        state.pData = ReadStoreText(strText, strPath, state.strError);
    }
    return state;
}

std::string CheckStoreFile(const std::string& strPath) {
    const StoreFileState state = ReadStoreFile(strPath);
    if (!state.pData || !state.bExists) {
        return state.strError;
    }
    std::string strText;
    std::string strError;
    if (!ReadWholeFile(strPath, strText, strError)) {
        return strError;
    }
    // The reader has accepted the file; what remains are items it reads
    // fine but the driver cannot open a session with. Their lines come from
    // the tree.
    pugi::xml_document doc;
    doc.load_buffer(strText.data(), strText.size(), pugi::parse_default, pugi::encoding_utf8);
    auto lineOf = [&](pugi::xml_node node) {
        const auto nOffset =
            static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, node.offset_debug()));
        std::size_t nLine = 1;
        for (std::size_t n = 0; n < nOffset && n < strText.size(); ++n) {
            nLine += strText[n] == '\n' ? 1 : 0;
        }
        return std::to_string(nLine);
    };
    const std::string strWhere = "The configuration store " + Quoted(strPath);
    const pugi::xml_node root = doc.document_element();
    if (FindModule(*state.pData, kDriverModule) == nullptr) {
        return strWhere + " does not register the software module " + Quoted(kDriverModule) +
               " (line " + lineOf(root) + "), so the driver cannot open any session with it.";
    }
    for (pugi::xml_node session : root.children("DriverSession")) {
        if (session.attribute("softwareModule").empty()) {
            return strWhere + " is not usable at line " + lineOf(session) +
                   ": the driver session " + Quoted(session.attribute("name").value()) +
                   " names no software module.";
        }
    }
    return {};
}

bool AddLogicalName(const std::string& strPath, const LogicalNameEntry& entry,
                    std::string& strError) {
    std::vector<std::pair<std::string, const std::string*>> vecTexts = {
        {"The logical name", &entry.strName},
        {"The resource", &entry.strResource},
        {"The DriverSetup", &entry.strDriverSetup},
    };
    for (const auto& [strVirtual, strPhysical] : entry.vecVirtualNames) {
        vecTexts.emplace_back("A virtual name", &strVirtual);
        vecTexts.emplace_back("The physical name of a virtual name", &strPhysical);
    }
    for (const auto& [strAttribute, bValue] : entry.vecOptions) {
        vecTexts.emplace_back("A session option", &strAttribute);
    }
    for (const auto& [strWhat, pText] : vecTexts) {
        const std::string strProblem = XmlTextProblem(*pText);
        if (!strProblem.empty()) {
            strError = strWhat + " " + strProblem + "; the configuration store " + Quoted(strPath) +
                       " was not changed.";
            return false;
        }
    }
    return EditStoreFile(
        strPath,
        [&](const StoreData& data, pugi::xml_node, TextEditor& editor, NameChanges& changes,
            std::string& strWhy) {
            const std::string strWhere = "The configuration store " + Quoted(strPath);
            for (const ItemKind eKind :
                 {ItemKind::LogicalName, ItemKind::DriverSession, ItemKind::HardwareAsset}) {
                if (NamesOf(data, eKind).count(entry.strName) != 0) {
                    const char* szKind = eKind == ItemKind::LogicalName     ? "logical name"
                                         : eKind == ItemKind::DriverSession ? "driver session"
                                                                            : "hardware asset";
                    strWhy = strWhere + " already holds a " + szKind + " named " +
                             Quoted(entry.strName) + "; nothing was changed.";
                    return false;
                }
            }
            const SoftwareModule* pModule = FindModule(data, kDriverModule);
            const SoftwareModule& module =
                pModule ? *pModule : *FindModule(*BuiltInStore(), kDriverModule);
            std::vector<std::string> vecSeen;
            for (const auto& [strVirtual, strPhysical] : entry.vecVirtualNames) {
                bool bKnown = false;
                std::string strPhysicalNames;
                for (const PhysicalName& physical : module.vecPhysicalNames) {
                    bKnown = bKnown || physical.strName == strPhysical;
                    strPhysicalNames += (strPhysicalNames.empty() ? "" : ", ") + physical.strName;
                }
                if (!bKnown) {
                    strWhy = "The virtual name " + Quoted(strVirtual) + " maps to " +
                             Quoted(strPhysical) + ", which is not a physical name of " +
                             kDriverModule + " (" + strPhysicalNames + "); nothing was changed.";
                    return false;
                }
                if (std::find(vecSeen.begin(), vecSeen.end(), strVirtual) != vecSeen.end()) {
                    strWhy = "The virtual name " + Quoted(strVirtual) +
                             " is given twice; nothing was changed.";
                    return false;
                }
                vecSeen.push_back(strVirtual);
            }
            pugi::xml_document scratch;
            if (pModule == nullptr) {
                // The driver needs its registration in every store file.
                pugi::xml_node node = scratch.append_child("SoftwareModule");
                node.append_attribute("name") = module.strName.c_str();
                node.append_attribute("description") = module.strDescription.c_str();
                for (const PhysicalName& physical : module.vecPhysicalNames) {
                    pugi::xml_node child = node.append_child("PhysicalName");
                    child.append_attribute("name") = physical.strName.c_str();
                    child.append_attribute("repCapName") = physical.strRepCapName.c_str();
                }
                editor.Append(node);
                changes.vecAdded.emplace_back(ItemKind::SoftwareModule, module.strName);
            }
            pugi::xml_node asset = scratch.append_child("HardwareAsset");
            asset.append_attribute("name") = entry.strName.c_str();
            asset.append_attribute("resourceDescriptor") = entry.strResource.c_str();
            editor.Append(asset);
            pugi::xml_node session = scratch.append_child("DriverSession");
            session.append_attribute("name") = entry.strName.c_str();
            session.append_attribute("softwareModule") = kDriverModule;
            session.append_attribute("hardwareAsset") = entry.strName.c_str();
            for (const auto& [strAttribute, bValue] : entry.vecOptions) {
                session.append_attribute(strAttribute.c_str()) = bValue ? "true" : "false";
            }
            if (!entry.strDriverSetup.empty()) {
                session.append_attribute("driverSetup") = entry.strDriverSetup.c_str();
            }
            for (const auto& [strVirtual, strPhysical] : entry.vecVirtualNames) {
                pugi::xml_node child = session.append_child("VirtualName");
                child.append_attribute("name") = strVirtual.c_str();
                child.append_attribute("mapTo") = strPhysical.c_str();
            }
            editor.Append(session);
            pugi::xml_node logical = scratch.append_child("LogicalName");
            logical.append_attribute("name") = entry.strName.c_str();
            logical.append_attribute("driverSession") = entry.strName.c_str();
            editor.Append(logical);
            for (const ItemKind eKind :
                 {ItemKind::LogicalName, ItemKind::DriverSession, ItemKind::HardwareAsset}) {
                changes.vecAdded.emplace_back(eKind, entry.strName);
            }
            changes.fnReadsBack = [&](const StoreData& after) {
                return EntryReadBack(after, entry);
            };
            return true;
        },
        strError);
}

bool RemoveLogicalName(const std::string& strPath, const std::string& strName,
                       std::string& strError) {
    return EditStoreFile(
        strPath,
        [&](const StoreData& data, pugi::xml_node root, TextEditor& editor, NameChanges& changes,
            std::string& strWhy) {
            const auto it = data.mapLogicalNames.find(strName);
            if (it == data.mapLogicalNames.end()) {
                strWhy = "The configuration store " + Quoted(strPath) + " holds no logical name " +
                         Quoted(strName) + "; nothing was changed.";
                return false;
            }
            const std::size_t nSession = data.vecLogicalNames[it->second].nDriverSession;
            const DriverSession& session = data.vecDriverSessions[nSession];
            editor.Remove(FindChild(root, "LogicalName", strName));
            changes.vecRemoved.emplace_back(ItemKind::LogicalName, strName);
            // The session and asset go too unless another logical name or
            // session still refers to them.
            const auto nSessionUsers = std::count_if(
                data.vecLogicalNames.begin(), data.vecLogicalNames.end(),
                [&](const LogicalName& logical) { return logical.nDriverSession == nSession; });
            if (nSessionUsers > 1) {
                return true;
            }
            editor.Remove(FindChild(root, "DriverSession", session.strName));
            changes.vecRemoved.emplace_back(ItemKind::DriverSession, session.strName);
            if (!session.nHardwareAsset) {
                return true;
            }
            const auto nAssetUsers =
                std::count_if(data.vecDriverSessions.begin(), data.vecDriverSessions.end(),
                              [&](const DriverSession& other) {
                                  return other.nHardwareAsset == session.nHardwareAsset;
                              });
            if (nAssetUsers == 1) {
                const std::string& strAsset =
                    data.vecHardwareAssets[*session.nHardwareAsset].strName;
                editor.Remove(FindChild(root, "HardwareAsset", strAsset));
                changes.vecRemoved.emplace_back(ItemKind::HardwareAsset, strAsset);
            }
            return true;
        },
        strError);
}

}  // namespace cfgstore
