// The catalogue's purposes, units and ranges are complete and consistent with
// the rows and the public header, so that the reference and the bindings
// generated from them say something true about every attribute.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "driver/attributes/CatalogueFacts.h"
#include "driver/attributes/CatalogueRows.h"
#include "driver/functions/FunctionCommands.h"
#include "runtime/attributes/AttributeRegistry.h"

namespace {

using tarvek::AttributeFacts;

// Letters only, lower case: "Clear OCP." and "CLEAR_OCP" both give "clearocp".
std::string Letters(const std::string& strText) {
    std::string strLetters;
    for (char c : strText) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
            strLetters.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        }
    }
    return strLetters;
}

std::string ShortName(const drt::AttributeDescriptor& descriptor) {
    std::string strName = descriptor.name;
    return strName.substr(std::string("TARVEK_ATTR_").size());
}

const std::set<std::string> kUnits = {"V", "A", "W", "s", "ms", "V/s", "A/s", "Ah", "Wh", "none"};

TEST(CatalogueFacts, EveryRowHasAPurposeThatIsMoreThanItsNameAndAUnit) {
    const auto& registry = drt::AttributeTable();
    for (const auto& entry : tarvek::CatalogueEntries()) {
        const drt::AttributeDescriptor* pDescriptor = registry.Find(entry.row.id);
        ASSERT_NE(pDescriptor, nullptr) << entry.row.id;
        SCOPED_TRACE(pDescriptor->name);
        const AttributeFacts* pFacts = tarvek::FindFacts(entry.row.id);
        ASSERT_NE(pFacts, nullptr) << "the row has no purpose, unit or range";
        ASSERT_NE(pFacts->pDescription, nullptr);
        const std::string strDescription = pFacts->pDescription;
        EXPECT_GE(strDescription.size(), 20u) << "a purpose is a sentence";
        EXPECT_TRUE(std::isupper(static_cast<unsigned char>(strDescription.front())));
        EXPECT_EQ(strDescription.back(), '.');
        EXPECT_NE(Letters(strDescription), Letters(ShortName(*pDescriptor)))
            << "the purpose restates the name";
        ASSERT_NE(pFacts->pUnit, nullptr);
        EXPECT_EQ(kUnits.count(pFacts->pUnit), 1u) << pFacts->pUnit;
    }
}

TEST(CatalogueFacts, EveryFactNamesOneRegisteredAttribute) {
    const auto& registry = drt::AttributeTable();
    std::set<ViAttr> setSeen;
    for (const AttributeFacts& facts : tarvek::CatalogueFacts()) {
        SCOPED_TRACE(facts.id);
        EXPECT_NE(registry.Find(facts.id), nullptr);
        EXPECT_TRUE(setSeen.insert(facts.id).second) << "listed twice";
    }
    EXPECT_EQ(setSeen.size(), registry.Size()) << "every registered attribute has its facts";
}

TEST(CatalogueFacts, RangesFitTheirTypeAndOrder) {
    const auto& registry = drt::AttributeTable();
    for (const AttributeFacts& facts : tarvek::CatalogueFacts()) {
        const drt::AttributeDescriptor* pDescriptor = registry.Find(facts.id);
        ASSERT_NE(pDescriptor, nullptr);
        SCOPED_TRACE(pDescriptor->name);
        if (!facts.ranges.bHas) {
            continue;
        }
        const std::string strType = pDescriptor->typeName;
        EXPECT_TRUE(strType == "ViReal64" || strType == "ViInt32") << "only numbers have ranges";
        for (const tarvek::ValueRange& range : {facts.ranges.r6310, facts.ranges.r6510}) {
            EXPECT_LE(range.dMin, range.dMax);
        }
    }
}

// A settable real is checked at its limits by the unit tests; every one the
// instruments support has them.
TEST(CatalogueFacts, EverySupportedSettableRealHasARange) {
    const auto& registry = drt::AttributeTable();
    for (const auto& entry : tarvek::CatalogueEntries()) {
        const drt::AttributeDescriptor* pDescriptor = registry.Find(entry.row.id);
        ASSERT_NE(pDescriptor, nullptr);
        SCOPED_TRACE(pDescriptor->name);
        const bool bSupported =
            entry.pNote == nullptr || std::string(entry.pNote) != "Not supported";
        if (entry.row.type == tarvek::ValueType::Real64 && !pDescriptor->setter.Empty() &&
            bSupported) {
            const AttributeFacts* pFacts = tarvek::FindFacts(entry.row.id);
            ASSERT_NE(pFacts, nullptr);
            EXPECT_TRUE(pFacts->ranges.bHas);
        }
    }
}

// The public header's comment says "per channel" exactly for the rows that
// take a channel selector.
TEST(CatalogueFacts, HeaderCommentsSayPerChannelExactlyForChannelRows) {
    std::ifstream file(TARVEK_HEADER_PATH);
    std::stringstream stream;
    stream << file.rdbuf();
    const std::string strText = stream.str();
    static const std::regex kDefine(R"(#define\s+TARVEK_ATTR_\w+\s+(\d+)\s*/\*([^*]*)\*/)");
    std::map<ViAttr, bool> mapPerChannel;
    for (auto it = std::sregex_iterator(strText.begin(), strText.end(), kDefine);
         it != std::sregex_iterator(); ++it) {
        mapPerChannel[static_cast<ViAttr>(std::stoul((*it)[1].str()))] =
            (*it)[2].str().find("per channel") != std::string::npos;
    }
    for (const auto& entry : tarvek::CatalogueEntries()) {
        SCOPED_TRACE(entry.row.id);
        const auto it = mapPerChannel.find(entry.row.id);
        ASSERT_NE(it, mapPerChannel.end()) << "the header has no comment for the row";
        EXPECT_EQ(it->second, entry.row.channel == drt::ChannelKind::Output);
    }
}

}  // namespace

namespace {

std::set<std::string> TabledCommands() {
    std::set<std::string> setTexts;
    auto add = [&](const char* pText) {
        if (pText != nullptr) {
            std::string strText = pText;
            if (!strText.empty() && strText.back() == '\n') {
                strText.pop_back();
            }
            setTexts.insert(strText);
        }
    };
    for (const auto& entry : tarvek::CatalogueEntries()) {
        add(entry.row.query);
        add(entry.row.command);
        add(entry.row.family.pQuery);
        add(entry.row.family.pCommand);
    }
    for (const tarvek::FunctionCommand& command : tarvek::FunctionCommands()) {
        add(command.pText);
    }
    return setTexts;
}

// Scans the driver's and the session's sources for string literals that are
// instrument commands (a common command, or a header with ':', ending in a
// line feed): each must be in the catalogue or the function table, so that
// the SCPI coverage reference lists everything the driver sends.
TEST(CatalogueFacts, EveryCommandInTheSourcesIsTabled) {
    const std::set<std::string> setTabled = TabledCommands();
    static const std::regex kLiteral(
        R"re("(:?(?:\*[A-Z]{3}|[A-Z]{3,}:[A-Za-z0-9:%]+)\??(?: [^"]*)?)\\n")re");
    std::size_t nFound = 0;
    for (const char* pDirectory : {"driver", "runtime"}) {
        for (const auto& file : std::filesystem::recursive_directory_iterator(
                 std::filesystem::path(TARVEK_SOURCE_DIR) / pDirectory)) {
            const std::string strExtension = file.path().extension().string();
            if (strExtension != ".cpp" && strExtension != ".h") {
                continue;
            }
            std::ifstream in(file.path());
            std::string strLine;
            while (std::getline(in, strLine)) {
                if (strLine.find("//") != std::string::npos &&
                    strLine.find("//") < strLine.find('"')) {
                    continue;  // a comment quoting a command
                }
                for (auto it = std::sregex_iterator(strLine.begin(), strLine.end(), kLiteral);
                     it != std::sregex_iterator(); ++it) {
                    SCOPED_TRACE(file.path().string());
                    EXPECT_EQ(setTabled.count((*it)[1].str()), 1u) << (*it)[1].str();
                    ++nFound;
                }
            }
        }
    }
    EXPECT_GT(nFound, 100u) << "the scan finds the catalogue's own commands";
}

}  // namespace
