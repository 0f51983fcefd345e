// The output-channel repeated capability: the physical channel list, the
// selector grammar and the resolution of a selector to channels.
//
// Selector syntax: one or more levels separated by ':', each optionally in
// square brackets, each a comma-separated list of identifiers or ranges
// ("CH1-CH3": both ends with the same base name); identifiers are made of word
// characters and '!'; blanks are allowed around separators. Virtual names from
// the configuration store are replaced by their physical text.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "visatype.h"

namespace drt {

class DriverSession;

// One resolved channel: its physical name ("CH2") and its key
// ("OutputChannel!!CH2"), the key being what caches and membership use.
struct OutputChannel {
    std::string strName;
    std::string strKey;
};

using ChannelList = std::vector<OutputChannel>;
// Resolutions are shared, immutable lists, so a session can keep them.
using ChannelListPtr = std::shared_ptr<const ChannelList>;

// The channels named by a comma-separated list of physical names, in order.
ChannelList BuildChannelList(std::string_view strRepCap, std::string_view strPhysicalNames);

// The key of an identifier: "<repeated capability>!!" + identifier.
std::string ChannelKey(std::string_view strRepCap, std::string_view strIdentifier);

// Per-session state of the capability: the resolutions already made. Lives inside the session
// object, so it is created, used and destroyed under that session's lock and never shared.
class SessionChannels {
  public:
    // A previous successful resolution of (selector, membership flag), or null.
    ChannelListPtr FindResolved(std::string_view strSelector, bool bCheckMembership) const;
    void StoreResolved(std::string_view strSelector, bool bCheckMembership, ChannelListPtr pList);

  private:
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view strText) const {
            return std::hash<std::string_view>()(strText);
        }
    };
    using ResolvedMap = std::unordered_map<std::string, ChannelListPtr, TextHash, std::equal_to<>>;

    ResolvedMap m_mapChecked;    // resolutions with the membership check
    ResolvedMap m_mapUnchecked;  // and without it
};

// The grammar check: the fast recogniser used on every resolution, and the
// regular expression that defines the language (kept for differential tests).
bool SelectorMatchesGrammar(std::string_view strSelector);
bool SelectorMatchesGrammarRegex(std::string_view strSelector);

// Resolves a selector (null counts as empty) to channels in selector order.
// With bCheckMembership each identifier must name a channel of the session.
// Errors are recorded on the session: 0xBFFA0044, 0xBFFA0063, 0xBFFA0064,
// 0xBFFA0066, 0xBFFA0067.
ViStatus ResolveChannels(DriverSession& session, ViConstString pSelector, bool bCheckMembership,
                         ChannelListPtr& pResult);

// As ResolveChannels with the membership check, and exactly one channel
// required (0xBFFA0066 with the single-identifier text otherwise).
ViStatus ResolveSingleChannel(DriverSession& session, ViConstString pSelector,
                              const OutputChannel*& pChannel, ChannelListPtr& pHolder);

// The one channel of a resolved list, or 0xBFFA0066 with the single-identifier
// text when the list holds more; nStatus is returned on success.
ViStatus RequireSingleChannel(DriverSession& session, const ChannelListPtr& pHolder,
                              ViStatus nStatus, const OutputChannel*& pChannel);

// The 1-based index'th physical name into the caller's buffer, cut to
// nBufferSize - 1 characters; 0xBFFA0010 for an index out of range.
ViStatus GetChannelName(DriverSession& session, ViInt32 nIndex, ViInt32 nBufferSize, ViChar* pName);

// The physical names a selector names, comma-separated in selector order, into
// the caller's buffer: virtual names replaced as every call replaces them,
// ranges expanded, each checked against the session's channels, without
// talking to the instrument. With nBufferSize 0 (pNames may then be null), or
// too small for the whole text, returns the size the text needs with its NUL;
// the text is cut to nBufferSize - 1 characters. A bad selector fails as in
// ResolveChannels.
ViStatus ResolveChannelNames(DriverSession& session, ViConstString pSelector, ViInt32 nBufferSize,
                             ViChar* pNames);

}  // namespace drt
