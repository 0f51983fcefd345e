// Channel selectors: grammar, ranges, duplicates, levels, membership, virtual
// names, the single-channel variant and the one-output family.
#include "AttributeTestSupport.h"
#include "runtime/repcap/OutputChannel.h"

namespace attrtest {
namespace {

// The session's virtual-name map, reached as the configuration store fills it.
struct VirtualNames : drt::DriverSession {
    static drt::NameMap<std::string>& Of(drt::DriverSession& session) {
        return session.*(&VirtualNames::m_mapVirtualToPhysical);
    }
};

std::vector<std::string> Names(const drt::ChannelListPtr& pList) {
    std::vector<std::string> vecNames;
    for (const drt::OutputChannel& channel : *pList) {
        vecNames.push_back(channel.strName);
        EXPECT_EQ(channel.strKey, "OutputChannel!!" + channel.strName);
    }
    return vecNames;
}

struct SelectorCase {
    const char* pSelector;
    ViStatus nStatus;
    std::vector<std::string> vecNames;  // on success
    const char* pText;                  // on failure: the recorded text, or null to skip
};

TEST(Selectors, ResolveToListsInSelectorOrder) {
    const SelectorCase cases[] = {
        {"CH1,CH3", 0, {"CH1", "CH3"}, nullptr},
        {"CH3,CH1", 0, {"CH3", "CH1"}, nullptr},
        {"[CH1-CH3]", 0, {"CH1", "CH2", "CH3"}, nullptr},
        {" CH2 ", 0, {"CH2"}, nullptr},
        {"CH1 - CH2 , CH3", 0, {"CH1", "CH2", "CH3"}, nullptr},
        {"CH01-CH03", 0, {"CH1", "CH2", "CH3"}, nullptr},
        {"CH1-CH1",
         static_cast<ViStatus>(0xBFFA0064),
         {},
         "The range 'CH1-CH1' is not valid for the repeated capability 'OutputChannel'.  The start "
         "index "
         "must be less than the end index."},
        {"CH3-CH1", static_cast<ViStatus>(0xBFFA0064), {}, nullptr},
        {"CH1-3",
         static_cast<ViStatus>(0xBFFA0064),
         {},
         "The range 'CH1-3' is not valid for the repeated capability 'OutputChannel'.  The base "
         "names do "
         "not match."},
        {"CH1,CH1",
         static_cast<ViStatus>(0xBFFA0066),
         {},
         "The repeated capability selector is badly-formed."},
        {"CH1-CH2,CH2",
         static_cast<ViStatus>(0xBFFA0064),
         {},
         "The range 'CH2' is not valid for the repeated capability 'OutputChannel'.  An identifier "
         "in the "
         "range overlaps with another range."},
        {"ch1",
         static_cast<ViStatus>(0xBFFA0067),
         {},
         "Unknown physical repeated capability selector.  The identifier 'ch1' is not defined for "
         "repeated capability 'OutputChannel'."},
        {"CH1:CH2",
         static_cast<ViStatus>(0xBFFA0063),
         {},
         "The number of levels in the selector is not valid for the 'OutputChannel' repeated "
         "capability."},
        {"CH1;CH2", static_cast<ViStatus>(0xBFFA0066), {}, nullptr},
        {"[CH1",
         static_cast<ViStatus>(0xBFFA0067),
         {},
         "Unknown physical repeated capability selector.  The identifier 'CH' is not defined for "
         "repeated capability 'OutputChannel'."},
        {"CH4,CH4", static_cast<ViStatus>(0xBFFA0066), {}, nullptr},
        {"CH4", static_cast<ViStatus>(0xBFFA0067), {}, nullptr},
        {"",
         static_cast<ViStatus>(0xBFFA0044),
         {},
         "A channel name is required.  No selector was specified for repeated capability "
         "'OutputChannel'.  The repeated capability identifier can be null or empty only when "
         "there is "
         "exactly one physical name defined.  Repeated capability 'OutputChannel' has 3 physical "
         "names "
         "defined."},
        {" \t\f\v\r\n", static_cast<ViStatus>(0xBFFA0044), {}, nullptr},
        {"CH1-CH2000000000", static_cast<ViStatus>(0xBFFA0064), {}, nullptr},
        {"CH1-CH99999999999999999999", static_cast<ViStatus>(0xBFFA0064), {}, nullptr},
        {"CH1-", static_cast<ViStatus>(0xBFFA0066), {}, nullptr},
        {"CH1,,CH2", static_cast<ViStatus>(0xBFFA0066), {}, nullptr},
        {"CH\xC3\xA9", static_cast<ViStatus>(0xBFFA0066), {}, nullptr},
        // Levels and items are trimmed of space, tab, CR and LF only; a vertical
        // tab or form feed stays part of the identifier, while a range's own
        // blanks may be any of them but nothing may follow its end number.
        {"\t\r\nCH2\n", 0, {"CH2"}, nullptr},
        {"\vCH1",
         static_cast<ViStatus>(0xBFFA0067),
         {},
         "Unknown physical repeated capability selector.  The identifier '\vCH1' is not defined "
         "for repeated capability 'OutputChannel'."},
        {"CH1\f", static_cast<ViStatus>(0xBFFA0067), {}, nullptr},
        {"\fCH1-CH2", 0, {"CH1", "CH2"}, nullptr},
        {"CH1\v-\fCH2", 0, {"CH1", "CH2"}, nullptr},
        {"CH1-CH2\v",
         static_cast<ViStatus>(0xBFFA0064),
         {},
         "The range 'CH1-CH2\v' is not valid for the repeated capability 'OutputChannel'.  The "
         "base names do not match."},
        // A bracket with a single character leaves an empty identifier.
        {"[C",
         static_cast<ViStatus>(0xBFFA0067),
         {},
         "Unknown physical repeated capability selector.  The identifier '' is not defined for "
         "repeated capability 'OutputChannel'."},
    };
    Session session;
    for (const SelectorCase& c : cases) {
        SCOPED_TRACE(c.pSelector);
        // Twice: the second resolution may come from the session's memo.
        for (int nPass = 0; nPass < 2; ++nPass) {
            TARVEK_ClearError(session.Vi());
            drt::ChannelListPtr pList;
            EXPECT_EQ(drt::ResolveChannels(session.Object(), c.pSelector, true, pList), c.nStatus);
            if (c.nStatus == VI_SUCCESS) {
                ASSERT_TRUE(pList);
                EXPECT_EQ(Names(pList), c.vecNames);
            } else if (c.pText != nullptr) {
                EXPECT_EQ(LastError(session.Vi()).strText, c.pText);
            }
        }
    }
    drt::ChannelListPtr pList;
    EXPECT_EQ(drt::ResolveChannels(session.Object(), nullptr, true, pList),
              static_cast<ViStatus>(0xBFFA0044));
    // Without the membership check any identifier is produced.
    EXPECT_EQ(drt::ResolveChannels(session.Object(), "X7-X9", false, pList), VI_SUCCESS);
    EXPECT_EQ(Names(pList), (std::vector<std::string>{"X7", "X8", "X9"}));
}

TEST(Selectors, SingleChannelVariantRefusesLists) {
    Session session;
    const drt::OutputChannel* pChannel = nullptr;
    drt::ChannelListPtr pHolder;
    EXPECT_EQ(drt::ResolveSingleChannel(session.Object(), "CH2", pChannel, pHolder), VI_SUCCESS);
    ASSERT_NE(pChannel, nullptr);
    EXPECT_EQ(pChannel->strKey, "OutputChannel!!CH2");
    EXPECT_EQ(drt::ResolveSingleChannel(session.Object(), "CH1,CH2", pChannel, pHolder),
              static_cast<ViStatus>(0xBFFA0066));
    EXPECT_EQ(
        LastError(session.Vi()).strText,
        "The repeated capability selector is badly-formed.  Only a single repeated capability "
        "identifier can be specified for the current operation.");
    // Reading a channel attribute with two channels fails before any value is touched.
    ViReal64 dValue = 42;
    EXPECT_EQ(Get(session.Vi(), "CH1,CH2", kTestRealChannel, &dValue),
              static_cast<ViStatus>(0xBFFA0066));
    EXPECT_EQ(dValue, 42);
    EXPECT_EQ(Set(session.Vi(), "CH1,CH2", kTestRealChannel, 1.0), VI_SUCCESS);
}

TEST(Selectors, VirtualNamesArePhysicalTexts) {
    Session session;
    auto& mapNames = VirtualNames::Of(session.Object());
    mapNames["Out1"] = "CH2";
    mapNames["Pair"] = "CH1-CH2";
    mapNames["Broken"] = "CH1;";
    const SelectorCase cases[] = {
        {"Out1", 0, {"CH2"}, nullptr},
        {"out1", 0, {"CH2"}, nullptr},  // the map ignores letter case
        {"Pair", 0, {"CH1", "CH2"}, nullptr},
        {"Out1,CH3", 0, {"CH2", "CH3"}, nullptr},
        {"Pair,Out1", static_cast<ViStatus>(0xBFFA0064), {}, nullptr},
        {"Broken", static_cast<ViStatus>(0xBFFA0066), {}, nullptr},
    };
    for (const SelectorCase& c : cases) {
        SCOPED_TRACE(c.pSelector);
        drt::ChannelListPtr pList;
        EXPECT_EQ(drt::ResolveChannels(session.Object(), c.pSelector, true, pList), c.nStatus);
        if (c.nStatus == VI_SUCCESS) {
            EXPECT_EQ(Names(pList), c.vecNames);
        }
    }
}

// The exported resolution gives callers (the Python package) the physical
// names of a selector as every call resolves it, virtual names included,
// with the usual short-buffer rule.
TEST(Selectors, ResolveChannelNamesGivesThePhysicalNames) {
    Session session;
    auto& mapNames = VirtualNames::Of(session.Object());
    mapNames["Motor"] = "CH2";
    mapNames["Rails"] = "OutputChannel!!CH1-CH3";
    struct Case {
        const char* pSelector;
        ViInt32 nBufferSize;
        ViStatus nStatus;
        const char* pNames;  // what the buffer holds after the call, or null when unwritten
    };
    const Case cases[] = {
        {"Motor", 16, VI_SUCCESS, "CH2"},
        {"mOtOr", 16, VI_SUCCESS, "CH2"},  // virtual names in any case, as every call takes them
        {"Motor,CH3", 16, VI_SUCCESS, "CH2,CH3"},
        {"Rails", 16, VI_SUCCESS, "CH1,CH2,CH3"},
        {"CH1-CH2", 16, VI_SUCCESS, "CH1,CH2"},
        {"Rails", 0, 12, nullptr},  // the size the text needs, NUL included
        {"Rails", 5, 12, "CH1,"},   // cut, terminated, and the size it needs
        {"Nowhere", 16, static_cast<ViStatus>(0xBFFA0067), nullptr},
        {"ch1", 16, static_cast<ViStatus>(0xBFFA0067), nullptr},  // physical names as written
        {"", 16, static_cast<ViStatus>(0xBFFA0044), nullptr},
        {"Motor", -1, IVI_ERROR_INVALID_VALUE, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pSelector) + " in " + std::to_string(c.nBufferSize));
        ViChar names[16] = "untouched";
        EXPECT_EQ(TARVEK_ResolveChannelNames(session.Vi(), c.pSelector, c.nBufferSize, names),
                  c.nStatus);
        EXPECT_STREQ(names, c.pNames != nullptr ? c.pNames : "untouched");
    }
    EXPECT_EQ(TARVEK_ResolveChannelNames(session.Vi(), "Motor", 0, nullptr), 4);
    EXPECT_EQ(TARVEK_ResolveChannelNames(session.Vi(), "Motor", 4, nullptr),
              IVI_ERROR_NULL_POINTER);
}

TEST(Selectors, OneOutputModelRefusesOtherChannels) {
    Session session("Simulate=1,DriverSetup=Model:6510");
    ViReal64 dValue = 0;
    EXPECT_EQ(Set(session.Vi(), "CH1", kTestRealChannel, 2.0), VI_SUCCESS);
    EXPECT_EQ(Get(session.Vi(), "ch1", kTestRealChannel, &dValue),
              static_cast<ViStatus>(0xBFFA0067));
    for (const char* pSelector : {"CH2", "CH3", "CH1,CH2", "CH1-CH3"}) {
        SCOPED_TRACE(pSelector);
        EXPECT_EQ(Set(session.Vi(), pSelector, kTestRealChannel, 2.0),
                  static_cast<ViStatus>(0xBFFA0067));
        EXPECT_EQ(Get(session.Vi(), "CH2", kTestRealChannel, &dValue),
                  static_cast<ViStatus>(0xBFFA0067));
    }
    EXPECT_EQ(
        LastError(session.Vi()).strText,
        "Unknown physical repeated capability selector.  The identifier 'CH2' is not defined for "
        "repeated capability 'OutputChannel'.");
}

TEST(Selectors, RecogniserAgreesWithTheExpression) {
    const char* selectors[] = {
        "CH1",         " CH1 ",    "[CH1]",       "[CH1] ",      "[ CH1 ]",   "[CH1", "CH1]",
        "CH1,CH2",     "CH1 ,CH2", "CH1, CH2",    "CH1-CH3",     "CH1 - CH3", "1-3",  "A-B",
        "CH1-CH2-CH3", "CH1:CH2",  "CH1 : [CH2]", "CH1::CH2",    ":",         "",     " ",
        "!!",          "a!b_c",    "CH1,",        ",CH1",        "CH1 CH2",   "-",    "CH1-",
        "-CH1",        "[[CH1]]",  "[]",          "CH1\t,\nCH2", "ab1-2",     "x-1",  "CH1 ]",
        "CH1] :CH2",   "CH1\v",    "\fCH1",
    };
    for (const char* pSelector : selectors) {
        SCOPED_TRACE(pSelector);
        EXPECT_EQ(drt::SelectorMatchesGrammar(pSelector),
                  drt::SelectorMatchesGrammarRegex(pSelector));
    }
}

}  // namespace
}  // namespace attrtest
