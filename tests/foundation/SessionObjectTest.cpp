#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>

#include "TestSession.h"
#include "driver/TARVEKDriverSession.h"
#include "runtime/session/CallFrame.h"
#include "runtime/session/CaseInsensitiveLess.h"
#include "runtime/session/OptionGrammar.h"
#include "runtime/text/TextUtils.h"

namespace {

drt::DriverSession& SessionOf(ViSession vi) {
    drt::DriverSession* pSession = nullptr;
    EXPECT_EQ(drt::FetchSession(vi, pSession), VI_SUCCESS);
    return *pSession;
}

TEST(TextUtils, SplitAndTrim) {
    using Pieces = std::vector<std::string>;
    EXPECT_EQ(drt::SplitString("", ',', true), Pieces{});
    EXPECT_EQ(drt::SplitString("a,b,", ',', false), (Pieces{"a", "b"}));
    EXPECT_EQ(drt::SplitString(",a", ',', false), (Pieces{"", "a"}));
    EXPECT_EQ(drt::SplitString(" a ,\tb\r\n", ',', true), (Pieces{"a", "b"}));
    EXPECT_EQ(drt::TrimString(" \t\r\n"), "");
    EXPECT_EQ(drt::TrimString("xxaxx", "x"), "a");
}

TEST(CaseInsensitiveLess, OrdersByUpperCaseAndPrefix) {
    const drt::CaseInsensitiveLess less;
    EXPECT_FALSE(less("cache", "CACHE"));
    EXPECT_FALSE(less("CACHE", "cache"));
    EXPECT_TRUE(less("CH", "ch1"));
    EXPECT_TRUE(less("a", "B"));
    drt::NameMap<int> map;
    map["Cache"] = 1;
    map["CACHE"] = 2;
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map.begin()->first, "Cache") << "the first key text is kept";
    EXPECT_EQ(map.begin()->second, 2);
}

TEST(DriverSessionObject, MapVirtualNameStripsThroughFirstDoubleBang) {
    SimulatedSession session;
    drt::DriverSession& object = SessionOf(session.Handle());
    EXPECT_EQ(object.MapVirtualName("A!!B!!C"), "B!!C");
    EXPECT_EQ(object.MapVirtualName("!!"), "");
    EXPECT_EQ(object.MapVirtualName("X"), "X");
    EXPECT_EQ(object.MapVirtualName("Output!!CH2"), "CH2");
    EXPECT_EQ(object.MapPhysicalName("A!!B"), "A!!B");
}

TEST(DriverSessionObject, ModelRules) {
    struct Case {
        const char* pModel;
        bool bSupported;
        bool b6310;
        bool b6510;
    } cases[] = {
        {"6310", true, true, false},  {"6311", true, true, false},
        {"651A", true, false, true},  {"6512 \t", true, false, true},
        {"6321", false, true, false}, {"TK6310", false, false, false},
        {"6", false, false, false},   {"", false, false, false},
        {"63", false, true, false},   {"6311x", false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pModel);
        SimulatedSession session((std::string("Simulate=1,DriverSetup=Model:") + c.pModel).c_str());
        drt::DriverSession& object = SessionOf(session.Handle());
        ASSERT_EQ(object.GetInstrumentModel(), c.pModel[0] ? c.pModel : "6310");
        if (!c.pModel[0])
            continue;
        EXPECT_EQ(object.IsModelSupported(), c.bSupported);
        EXPECT_EQ(object.IsModelInFamily("Series6310"), c.b6310);
        EXPECT_EQ(object.IsModelInFamily("Series6510"), c.b6510);
        EXPECT_TRUE(object.IsModel(c.pModel));
        EXPECT_FALSE(object.IsModel(std::string(c.pModel) + " "));
    }
}

// The runtime's own model rules know only the table the driver described, so
// another driver's session recognises its models and none of this driver's.
TEST(DriverSessionObject, ModelRulesFollowTheDescribedTable) {
    static const drt::ModelFamilyTable table =
        drt::BuildModelTable({{"FamilyA", " A1 , A2 "}, {"FamilyB", "B1"}});
    struct OtherSession : drt::DriverSession {
        OtherSession()
            : drt::DriverSession({"OTHER", "OtherModule", "A1", "Rail", &table, nullptr}, 0, 0, 0,
                                 0, false, 0) {}
        void SetModel(const std::string& strModel) { m_strModel = strModel; }
    };
    struct Case {
        const char* pModel;
        bool bSupported;
        bool bFamilyA;
        bool bFamilyB;
    } cases[] = {
        {"A1", true, true, false},     {"A2", true, true, false},   {"B1", true, false, true},
        {"6310", false, false, false}, {"A3", false, false, false}, {"", false, false, false},
    };
    OtherSession object;
    EXPECT_EQ(object.Description().strPrefix, "OTHER");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pModel);
        object.SetModel(c.pModel);
        EXPECT_EQ(object.IsModelSupported(), c.bSupported);
        EXPECT_EQ(object.IsModelInFamily("FamilyA"), c.bFamilyA);
        EXPECT_EQ(object.IsModelInFamily("FamilyB"), c.bFamilyB);
        EXPECT_FALSE(object.IsModelInFamily("Series6310"));
    }
}

TEST(DriverSessionObject, RestoreInitialOptionsUndoesLaterChanges) {
    SimulatedSession session("Simulate=1,QueryInstrStatus=1,RangeCheck=0");
    drt::DriverSession& object = SessionOf(session.Handle());
    object.SetQueryInstrStatus(false);
    object.SetRangeCheck(true);
    object.SetCache(false);
    EXPECT_EQ(TARVEK_ResetWithDefaults(session.Handle()), VI_SUCCESS);
    EXPECT_TRUE(object.GetQueryInstrStatus());
    EXPECT_FALSE(object.GetRangeCheck());
    EXPECT_TRUE(object.GetCache());
    EXPECT_TRUE(object.GetSimulate());
}

// The hand-written scanners must find exactly what the regular expressions
// that define the option grammar find.
TEST(OptionGrammar, ScannersAgreeWithTheRegularExpressions) {
    const std::regex driverSetup(R"(\s*DriverSetup\s*=(.*))", std::regex::icase);
    const std::regex inherent(R"(\s*(\w+)\s*=\s*(\w+)\s*,?)", std::regex::icase);
    const std::regex pairs(R"(([\w+_]+)\s*(?:=|:)\s*([^,]+))");
    static const char kAlphabet[] = "aZ9_+ =:,\t\r\n;-!DriverSetupdRIVERsETUP";
    std::mt19937 rng(7);
    for (int nRound = 0; nRound < 4000; ++nRound) {
        std::string strText;
        const int nLength = static_cast<int>(rng() % 40);
        for (int i = 0; i < nLength; ++i) {
            strText.push_back(kAlphabet[rng() % (sizeof(kAlphabet) - 1)]);
        }
        SCOPED_TRACE("input: [" + strText + "]");

        std::smatch match;
        const auto found = drt::FindDriverSetup(strText);
        ASSERT_EQ(found.has_value(), std::regex_search(strText, match, driverSetup));
        if (found) {
            EXPECT_EQ(found->nStart, static_cast<std::size_t>(match.position(0)));
            EXPECT_EQ(found->strText, match[1].str());
        }

        std::vector<std::pair<std::string, std::string>> vecExpected;
        for (std::sregex_iterator it(strText.begin(), strText.end(), inherent), end; it != end;
             ++it) {
            vecExpected.emplace_back((*it)[1], (*it)[2]);
        }
        EXPECT_EQ(drt::FindInherentOptions(strText), vecExpected);

        vecExpected.clear();
        for (std::sregex_iterator it(strText.begin(), strText.end(), pairs), end; it != end; ++it) {
            vecExpected.emplace_back((*it)[1], (*it)[2]);
        }
        EXPECT_EQ(drt::FindDriverSetupPairs(strText), vecExpected);
    }
}

}  // namespace
