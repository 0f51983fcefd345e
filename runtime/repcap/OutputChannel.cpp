#include "runtime/repcap/OutputChannel.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <regex>

#include "runtime/session/DriverSession.h"
#include "runtime/text/TextUtils.h"

namespace drt {

namespace {

// Identifiers longer than this many per selector, or ranges spanning more
// numbers, are refused: no output list comes near it, and expanding a hostile
// range such as CH1-CH2000000000 must not allocate for every number.
constexpr std::size_t kMaxIdentifiers = 1024;

// The grammar's blank set (\s of the C locale) and identifier characters.
constexpr bool IsBlank(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}
constexpr bool IsDigit(char ch) {
    return ch >= '0' && ch <= '9';
}
constexpr bool IsIdentifierChar(char ch) {
    return IsDigit(ch) || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || ch == '_' ||
           ch == '!';
}

// A deterministic reading of the selector expression (see
// SelectorMatchesGrammarRegex): after an item only blanks, ',', ']', ':' or the
// end can follow, so each identifier is a maximal run of identifier characters
// and a '-' after an item must make it a range.
class SelectorRecogniser {
  public:
    explicit SelectorRecogniser(std::string_view strText) : m_str(strText) {}

    bool Accepts() {
        if (!Level()) {
            return false;
        }
        while (m_nPos < m_str.size()) {
            SkipBlanks();
            if (!Take(':') || !Level()) {
                return false;
            }
        }
        return true;
    }

  private:
    // blanks, optional '[', list, blanks, optional ']'
    bool Level() {
        SkipBlanks();
        Take('[');
        if (!List()) {
            return false;
        }
        SkipBlanks();
        Take(']');
        return true;
    }

    bool List() {
        if (!Item()) {
            return false;
        }
        for (;;) {
            const std::size_t nSaved = m_nPos;
            SkipBlanks();
            if (!Take(',')) {
                m_nPos = nSaved;
                return true;
            }
            if (!Item()) {
                return false;
            }
        }
    }

    // name: blanks, identifier; range: blanks, identifier ending in a digit,
    // blanks, '-', blanks, identifier ending in a digit.
    bool Item() {
        SkipBlanks();
        if (!Identifier()) {
            return false;
        }
        const bool bFirstEndsInDigit = IsDigit(m_str[m_nPos - 1]);
        const std::size_t nSaved = m_nPos;
        SkipBlanks();
        if (!Take('-')) {
            m_nPos = nSaved;
            return true;
        }
        SkipBlanks();
        return bFirstEndsInDigit && Identifier() && IsDigit(m_str[m_nPos - 1]);
    }

    bool Identifier() {
        const std::size_t nStart = m_nPos;
        while (m_nPos < m_str.size() && IsIdentifierChar(m_str[m_nPos])) {
            ++m_nPos;
        }
        return m_nPos > nStart;
    }

    void SkipBlanks() {
        while (m_nPos < m_str.size() && IsBlank(m_str[m_nPos])) {
            ++m_nPos;
        }
    }

    bool Take(char ch) {
        if (m_nPos < m_str.size() && m_str[m_nPos] == ch) {
            ++m_nPos;
            return true;
        }
        return false;
    }

    std::string_view m_str;
    std::size_t m_nPos = 0;
};

// The trim of levels and items: space, tab, CR and LF, as every trim of the
// runtime. Vertical tabs and form feeds, blanks to the grammar, stay part of
// an identifier.
constexpr bool IsTrimmed(char ch) {
    return kWhitespace.find(ch) != std::string_view::npos;
}

template <bool (*IsEdge)(char)>
std::string_view Trim(std::string_view strText) {
    std::size_t nFirst = 0;
    std::size_t nLast = strText.size();
    while (nFirst < nLast && IsEdge(strText[nFirst])) {
        ++nFirst;
    }
    while (nLast > nFirst && IsEdge(strText[nLast - 1])) {
        --nLast;
    }
    return strText.substr(nFirst, nLast - nFirst);
}

std::string_view SkipLeadingBlanks(std::string_view strText) {
    std::size_t nFirst = 0;
    while (nFirst < strText.size() && IsBlank(strText[nFirst])) {
        ++nFirst;
    }
    return strText.substr(nFirst);
}

std::vector<std::string_view> Split(std::string_view strText, char chSeparator) {
    std::vector<std::string_view> vecPieces;
    std::size_t nStart = 0;
    for (;;) {
        const std::size_t nEnd = strText.find(chSeparator, nStart);
        if (nEnd == std::string_view::npos) {
            vecPieces.push_back(Trim<IsTrimmed>(strText.substr(nStart)));
            return vecPieces;
        }
        vecPieces.push_back(Trim<IsTrimmed>(strText.substr(nStart, nEnd - nStart)));
        nStart = nEnd + 1;
    }
}

bool EqualsIgnoringCase(std::string_view strA, std::string_view strB) {
    if (strA.size() != strB.size()) {
        return false;
    }
    for (std::size_t n = 0; n < strA.size(); ++n) {
        char chA = strA[n];
        char chB = strB[n];
        if (chA >= 'a' && chA <= 'z') {
            chA = static_cast<char>(chA - 'a' + 'A');
        }
        if (chB >= 'a' && chB <= 'z') {
            chB = static_cast<char>(chB - 'a' + 'A');
        }
        if (chA != chB) {
            return false;
        }
    }
    return true;
}

// Decimal value of a digit run; false when it does not fit in 32 bits.
bool ParseIndex(std::string_view strDigits, long long& nValue) {
    nValue = 0;
    for (char ch : strDigits) {
        nValue = nValue * 10 + (ch - '0');
        if (nValue > std::numeric_limits<ViInt32>::max()) {
            return false;
        }
    }
    return true;
}

struct RangeParts {
    std::string_view strBase;
    long long nStart = 0;
    long long nEnd = 0;
    bool bFits = true;
};

// Matches an item against ^\s*([\w_!]*?)([0-9]+)\s*-\s*\1([0-9]+)$
// (case-insensitive): the shortest base for which both ends carry it. Nothing
// may follow the end number.
bool MatchRange(std::string_view strItem, RangeParts& parts) {
    const std::size_t nDash = strItem.find('-');
    if (nDash == std::string_view::npos) {
        return false;
    }
    const std::string_view strLeft = Trim<IsBlank>(strItem.substr(0, nDash));
    const std::string_view strRight = SkipLeadingBlanks(strItem.substr(nDash + 1));
    if (strLeft.empty() || !IsDigit(strLeft.back()) ||
        !std::all_of(strLeft.begin(), strLeft.end(), IsIdentifierChar)) {
        return false;
    }
    std::size_t nDigits = 0;
    while (nDigits < strLeft.size() && IsDigit(strLeft[strLeft.size() - 1 - nDigits])) {
        ++nDigits;
    }
    for (std::size_t nBaseLength = strLeft.size() - nDigits; nBaseLength < strLeft.size();
         ++nBaseLength) {
        const std::string_view strBase = strLeft.substr(0, nBaseLength);
        if (strRight.size() <= nBaseLength ||
            !EqualsIgnoringCase(strRight.substr(0, nBaseLength), strBase)) {
            continue;
        }
        const std::string_view strEndDigits = strRight.substr(nBaseLength);
        if (!std::all_of(strEndDigits.begin(), strEndDigits.end(), IsDigit)) {
            continue;
        }
        parts.strBase = strBase;
        parts.bFits = ParseIndex(strLeft.substr(nBaseLength), parts.nStart) &&
                      ParseIndex(strEndDigits, parts.nEnd);
        return true;
    }
    return false;
}

struct Produced {
    std::string strIdentifier;
    bool bFromRange;
};

ViStatus ReportRange(DriverSession& session, std::string_view strItem, const char* pElaboration) {
    return session.ReportErrorText(IVI_ERROR_INVALID_RANGE_IN_SELECTOR, pElaboration,
                                   {strItem, session.Description().strRepCapName});
}

// Expands the items of one level, checking ranges and duplicates.
ViStatus ExpandLevel(DriverSession& session, std::string_view strLevel,
                     std::vector<Produced>& vecLevel, std::size_t& nTotal) {
    if (!strLevel.empty() && strLevel.front() == '[') {
        strLevel =
            strLevel.size() >= 2 ? strLevel.substr(1, strLevel.size() - 2) : std::string_view();
    }
    for (std::string_view strItem : Split(strLevel, ',')) {
        const bool bRange = strItem.find('-') != std::string_view::npos;
        std::vector<std::string> vecNew;
        if (bRange) {
            RangeParts parts;
            if (!MatchRange(strItem, parts)) {
                return ReportRange(session, strItem, "The base names do not match.");
            }
            if (parts.bFits && parts.nStart >= parts.nEnd) {
                return ReportRange(session, strItem,
                                   "The start index must be less than the end index.");
            }
            if (!parts.bFits ||
                static_cast<std::size_t>(parts.nEnd - parts.nStart) >= kMaxIdentifiers - nTotal) {
                return ReportRange(session, strItem, "The range holds too many identifiers.");
            }
            for (long long n = parts.nStart; n <= parts.nEnd; ++n) {
                vecNew.push_back(std::string(parts.strBase) + std::to_string(n));
            }
        } else {
            if (nTotal >= kMaxIdentifiers) {
                return session.ReportError(IVI_ERROR_BADLY_FORMED_SELECTOR);
            }
            vecNew.emplace_back(strItem);
        }
        for (std::string& strIdentifier : vecNew) {
            for (const Produced& produced : vecLevel) {
                if (produced.strIdentifier != strIdentifier) {
                    continue;
                }
                if (bRange || produced.bFromRange) {
                    return ReportRange(session, strItem,
                                       "An identifier in the range overlaps with another range.");
                }
                return session.ReportError(IVI_ERROR_BADLY_FORMED_SELECTOR);
            }
            vecLevel.push_back({std::move(strIdentifier), bRange});
            ++nTotal;
        }
    }
    return VI_SUCCESS;
}

// Replaces every maximal identifier run that is a virtual name by its
// physical text, through the session's mapping so that a store's
// "OutputChannel!!CH3" becomes "CH3". Returns true when the text changed.
bool ApplyVirtualNames(const DriverSession& session, std::string& strText) {
    const NameMap<std::string>& mapVirtual = session.GetVirtualNames();
    if (mapVirtual.empty()) {
        return false;
    }
    std::string strResult;
    bool bChanged = false;
    std::size_t nPos = 0;
    while (nPos < strText.size()) {
        if (!IsIdentifierChar(strText[nPos])) {
            strResult.push_back(strText[nPos++]);
            continue;
        }
        std::size_t nEnd = nPos;
        while (nEnd < strText.size() && IsIdentifierChar(strText[nEnd])) {
            ++nEnd;
        }
        const std::string strRun = strText.substr(nPos, nEnd - nPos);
        if (mapVirtual.count(strRun) != 0) {
            const std::string strPhysical = session.MapVirtualName(strRun);
            strResult += strPhysical;
            bChanged = bChanged || strPhysical != strRun;
        } else {
            strResult += strRun;
        }
        nPos = nEnd;
    }
    if (bChanged) {
        strText = std::move(strResult);
    }
    return bChanged;
}

bool IsEmptySelector(std::string_view strSelector) {
    return std::all_of(strSelector.begin(), strSelector.end(), IsBlank);
}

// The full resolution without the memo.
ViStatus Resolve(DriverSession& session, std::string_view strSelector, bool bCheckMembership,
                 const ChannelList& channels, ChannelList& result) {
    if (IsEmptySelector(strSelector)) {
        if (channels.size() == 1) {
            result = channels;
            return VI_SUCCESS;
        }
        return session.ReportErrorText(
            IVI_ERROR_CHANNEL_NAME_REQUIRED,
            "No selector was specified for repeated capability '%s'.  The repeated capability "
            "identifier can be null or empty only when there is exactly one physical name "
            "defined.  Repeated capability '%s' has %s physical names defined.",
            {session.Description().strRepCapName, session.Description().strRepCapName,
             std::to_string(channels.size())});
    }
    if (!SelectorMatchesGrammar(strSelector)) {
        return session.ReportError(IVI_ERROR_BADLY_FORMED_SELECTOR);
    }
    std::string strText(strSelector);
    if (ApplyVirtualNames(session, strText) && !SelectorMatchesGrammar(strText)) {
        return session.ReportError(IVI_ERROR_BADLY_FORMED_SELECTOR);
    }
    const std::vector<std::string_view> vecLevels = Split(strText, ':');
    std::vector<std::vector<Produced>> vecExpanded(vecLevels.size());
    std::size_t nTotal = 0;
    for (std::size_t n = 0; n < vecLevels.size(); ++n) {
        const ViStatus nStatus = ExpandLevel(session, vecLevels[n], vecExpanded[n], nTotal);
        if (nStatus < 0) {
            return nStatus;
        }
    }
    if (vecLevels.size() > 1) {
        // Identifiers of several levels join with ':'; this capability has one.
        return session.ReportError(IVI_ERROR_INVALID_NUMBER_OF_LEVELS_IN_SELECTOR,
                                   {session.Description().strRepCapName});
    }
    result.clear();
    result.reserve(vecExpanded.front().size());
    for (Produced& produced : vecExpanded.front()) {
        if (bCheckMembership) {
            auto it = std::find_if(channels.begin(), channels.end(), [&](const OutputChannel& ch) {
                return ch.strName == produced.strIdentifier;
            });
            if (it == channels.end()) {
                return session.ReportErrorText(
                    IVI_ERROR_UNKNOWN_PHYSICAL_IDENTIFIER,
                    "The identifier '%s' is not defined for repeated capability '%s'.",
                    {produced.strIdentifier, session.Description().strRepCapName});
            }
            result.push_back(*it);
        } else {
            OutputChannel channel;
            channel.strKey =
                ChannelKey(session.Description().strRepCapName, produced.strIdentifier);
            channel.strName = std::move(produced.strIdentifier);
            result.push_back(std::move(channel));
        }
    }
    return VI_SUCCESS;
}

// The memo keeps at most this many resolutions per session; a session that
// sees more distinct selectors starts afresh.
constexpr std::size_t kMaxRemembered = 64;

}  // namespace

std::string ChannelKey(std::string_view strRepCap, std::string_view strIdentifier) {
    std::string strKey;
    strKey.reserve(strRepCap.size() + 2 + strIdentifier.size());
    strKey += strRepCap;
    strKey += "!!";
    strKey += strIdentifier;
    return strKey;
}

ChannelList BuildChannelList(std::string_view strRepCap, std::string_view strPhysicalNames) {
    ChannelList list;
    for (std::string_view strName : Split(strPhysicalNames, ',')) {
        list.push_back({std::string(strName), ChannelKey(strRepCap, strName)});
    }
    return list;
}

bool SelectorMatchesGrammar(std::string_view strSelector) {
    return SelectorRecogniser(strSelector).Accepts();
}

bool SelectorMatchesGrammarRegex(std::string_view strSelector) {
    static const std::regex expression = [] {
        const std::string strName = R"(\s*[\w_!]+)";
        const std::string strRange = R"((?:\s*[\w_!]*?[0-9]+\s*-\s*[\w_!]*?[0-9]+))";
        const std::string strList = "(?:" + strRange + "|" + strName + ")" + R"((?:\s*,(?:)" +
                                    strRange + "|" + strName + "))*";
        const std::string strSelectorExpression = R"(^(?:\s*\[?)" + strList + R"(\s*\]?))" +
                                                  R"((?:\s*:\s*\[?)" + strList + R"(\s*\]?)*$)";
        return std::regex(strSelectorExpression, std::regex::ECMAScript | std::regex::icase);
    }();
    return std::regex_match(strSelector.begin(), strSelector.end(), expression);
}

ChannelListPtr SessionChannels::FindResolved(std::string_view strSelector,
                                             bool bCheckMembership) const {
    const auto& map = bCheckMembership ? m_mapChecked : m_mapUnchecked;
    auto it = map.find(strSelector);
    return it == map.end() ? nullptr : it->second;
}

void SessionChannels::StoreResolved(std::string_view strSelector, bool bCheckMembership,
                                    ChannelListPtr pList) {
    auto& map = bCheckMembership ? m_mapChecked : m_mapUnchecked;
    if (map.size() >= kMaxRemembered) {
        map.clear();
    }
    map.emplace(std::string(strSelector), std::move(pList));
}

ViStatus ResolveChannels(DriverSession& session, ViConstString pSelector, bool bCheckMembership,
                         ChannelListPtr& pResult) {
    const std::string_view strSelector = pSelector != nullptr ? pSelector : "";
    SessionChannels& state = session.Caches().channels;
    pResult = state.FindResolved(strSelector, bCheckMembership);
    if (pResult) {
        return VI_SUCCESS;
    }
    auto pList = std::make_shared<ChannelList>();
    const ViStatus nStatus =
        Resolve(session, strSelector, bCheckMembership, session.PhysicalChannels(), *pList);
    if (nStatus < 0) {
        return nStatus;
    }
    pResult = pList;
    state.StoreResolved(strSelector, bCheckMembership, std::move(pList));
    return nStatus;
}

ViStatus ResolveSingleChannel(DriverSession& session, ViConstString pSelector,
                              const OutputChannel*& pChannel, ChannelListPtr& pHolder) {
    pChannel = nullptr;
    const ViStatus nStatus = ResolveChannels(session, pSelector, true, pHolder);
    return nStatus < 0 ? nStatus : RequireSingleChannel(session, pHolder, nStatus, pChannel);
}

ViStatus RequireSingleChannel(DriverSession& session, const ChannelListPtr& pHolder,
                              ViStatus nStatus, const OutputChannel*& pChannel) {
    pChannel = nullptr;
    if (pHolder->size() != 1) {
        return session.ReportErrorText(IVI_ERROR_BADLY_FORMED_SELECTOR,
                                       "Only a single repeated capability identifier can be "
                                       "specified for the current operation.");
    }
    pChannel = &pHolder->front();
    return nStatus;
}

ViStatus GetChannelName(DriverSession& session, ViInt32 nIndex, ViInt32 nBufferSize,
                        ViChar* pName) {
    if (pName == nullptr) {
        return session.ReportError(
            IVI_ERROR_NULL_POINTER,
            {std::string(session.Description().strPrefix) + "_GetChannelName", "Name"});
    }
    const ChannelList& channels = session.PhysicalChannels();
    if (nIndex < 1 || static_cast<std::size_t>(nIndex) > channels.size()) {
        return session.ReportError(
            IVI_ERROR_INVALID_VALUE,
            {std::to_string(static_cast<long long>(nIndex) - 1), "GetOutputChannelName", "Index"});
    }
    if (nBufferSize > 0) {
        const std::string& strName = channels[static_cast<std::size_t>(nIndex) - 1].strName;
        const std::size_t nCopy =
            std::min(strName.size(), static_cast<std::size_t>(nBufferSize) - 1);
        std::memcpy(pName, strName.data(), nCopy);
        pName[nCopy] = '\0';
    }
    return VI_SUCCESS;
}

ViStatus ResolveChannelNames(DriverSession& session, ViConstString pSelector, ViInt32 nBufferSize,
                             ViChar* pNames) {
    const std::string strFunction =
        std::string(session.Description().strPrefix) + "_ResolveChannelNames";
    if (nBufferSize < 0) {
        return session.ReportError(IVI_ERROR_INVALID_VALUE,
                                   {std::to_string(nBufferSize), strFunction, "BufferSize"});
    }
    if (pNames == nullptr && nBufferSize != 0) {
        return session.ReportError(IVI_ERROR_NULL_POINTER, {strFunction, "PhysicalNames"});
    }
    ChannelListPtr pList;
    const ViStatus nStatus = ResolveChannels(session, pSelector, true, pList);
    if (nStatus < 0) {
        return nStatus;
    }
    std::string strNames;
    for (const OutputChannel& channel : *pList) {
        if (!strNames.empty()) {
            strNames += ',';
        }
        strNames += channel.strName;
    }
    const auto nNeeded = static_cast<ViStatus>(strNames.size() + 1);
    if (nBufferSize == 0) {
        return nNeeded;
    }
    const std::size_t nCopy = std::min(strNames.size(), static_cast<std::size_t>(nBufferSize) - 1);
    std::memcpy(pNames, strNames.data(), nCopy);
    pNames[nCopy] = '\0';
    return nCopy < strNames.size() ? nNeeded : nStatus;
}

}  // namespace drt
