// Every attribute identifier that the public header publishes is registered
// with the type and access the header documents, and nothing else is.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
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

TEST(Registry, HeaderPublishesEveryAttribute) {
    const auto vecDeclared = DeclaredAttributes();
    ASSERT_EQ(vecDeclared.size(), 104u);
    std::map<std::string, int> mapTypes;
    int nReadOnly = 0;
    for (const auto& attribute : vecDeclared) {
        ++mapTypes[attribute.strType];
        nReadOnly += attribute.bWritable ? 0 : 1;
    }
    EXPECT_EQ(mapTypes, (std::map<std::string, int>{{"ViBoolean", 24},
                                                    {"ViInt32", 39},
                                                    {"ViReal64", 23},
                                                    {"ViSession", 1},
                                                    {"ViString", 17}}));
    EXPECT_EQ(nReadOnly, 31);
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
