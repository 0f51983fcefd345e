// Every attribute identifier that the public header publishes is registered
// with the type and access the header documents, and nothing else is.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "TARVEK.h"
#include "runtime/attributes/AttributeRegistry.h"

namespace {

struct DeclaredAttribute {
    std::string strName;
    ViAttr nId = 0;
    std::string strType;
    bool bWritable = false;
};

std::vector<DeclaredAttribute> DeclaredAttributes() {
    std::ifstream file(TARVEK_HEADER_PATH);
    std::stringstream stream;
    stream << file.rdbuf();
    const std::string strText = stream.str();
    static const std::regex kDefine(
        R"(#define\s+(TARVEK_ATTR_\w+)\s+(\d+)\s*/\*\s*(Vi\w+),\s*(read-write|read-only))");
    std::vector<DeclaredAttribute> vecAttributes;
    for (auto it = std::sregex_iterator(strText.begin(), strText.end(), kDefine);
         it != std::sregex_iterator(); ++it) {
        vecAttributes.push_back({(*it)[1].str(), static_cast<ViAttr>(std::stoul((*it)[2].str())),
                                 (*it)[3].str(), (*it)[4].str() == "read-write"});
    }
    return vecAttributes;
}

// The registry check below walks the header's list, so the list must be whole:
// one entry per id and name, each of a type the typed accessors serve.
TEST(Registry, HeaderPublishesEveryAttribute) {
    const auto vecDeclared = DeclaredAttributes();
    ASSERT_FALSE(vecDeclared.empty()) << "no attributes found in " << TARVEK_HEADER_PATH;
    const std::set<std::string> setTypes = {"ViBoolean", "ViInt32", "ViReal64", "ViSession",
                                            "ViString"};
    std::set<ViAttr> setIds;
    std::set<std::string> setNames;
    for (const auto& attribute : vecDeclared) {
        SCOPED_TRACE(attribute.strName);
        EXPECT_TRUE(setIds.insert(attribute.nId).second) << "id used twice";
        EXPECT_TRUE(setNames.insert(attribute.strName).second) << "name defined twice";
        EXPECT_TRUE(setTypes.count(attribute.strType)) << attribute.strType;
    }
}

TEST(Registry, EveryDeclaredIdIsRegisteredWithItsTypeAndAccess) {
    const auto& registry = drt::AttributeTable();
    const auto vecDeclared = DeclaredAttributes();
    EXPECT_EQ(registry.Size(), vecDeclared.size());
    for (const auto& attribute : vecDeclared) {
        SCOPED_TRACE(attribute.strName);
        const drt::AttributeDescriptor* pDescriptor = registry.Find(attribute.nId);
        ASSERT_NE(pDescriptor, nullptr);
        EXPECT_EQ(pDescriptor->id, attribute.nId);
        EXPECT_STREQ(pDescriptor->name, attribute.strName.c_str());
        EXPECT_STREQ(pDescriptor->typeName, attribute.strType.c_str());
        EXPECT_STREQ(drt::TypeName(pDescriptor->valueType), attribute.strType.c_str());
        EXPECT_FALSE(pDescriptor->getter.Empty());
        EXPECT_EQ(!pDescriptor->setter.Empty(), attribute.bWritable);
    }
}

TEST(Registry, IdsOutsideTheCatalogueAreUnknown) {
    const auto& registry = drt::AttributeTable();
    for (ViAttr nId : {0u, 1150013u, 1150026u, 1150033u, 1150042u, 1150079u, 1250007u}) {
        EXPECT_EQ(registry.Find(nId), nullptr) << nId;
    }
}

}  // namespace
