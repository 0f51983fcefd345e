// The shared library exports exactly the functions that the public header
// declares: nothing missing, and no internal symbol (attribute callbacks,
// runtime classes) leaking out.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "LibrarySymbols.h"

namespace {

std::set<std::string> DeclaredFunctions() {
    static const std::regex kDeclaration(R"(TARVEK_API\s+ViStatus\s+_VI_FUNC\s+(\w+)\s*\()");
    return tarvektest::DeclaredNames(TARVEK_HEADER_PATH, kDeclaration);
}

std::set<std::string> ExportedSymbols() {
    return tarvektest::ExportedSymbols(TARVEK_LIBRARY_PATH);
}

// The header scan must find the whole API, or the set comparisons below would
// pass vacuously on an empty or partial list.
TEST(Exports, HeaderDeclaresTheFullApi) {
    const auto setDeclared = DeclaredFunctions();
    ASSERT_FALSE(setDeclared.empty()) << "no declarations found in " << TARVEK_HEADER_PATH;
    for (const char* szName :
         {"TARVEK_init", "TARVEK_GetAttributeViString", "TARVEK_GetChannelName", "TARVEK_viRead",
          "TARVEK_GetOCPEnabled", "TARVEK_ClearAndReboot"}) {
        EXPECT_TRUE(setDeclared.count(szName)) << szName;
    }
}

TEST(Exports, LibraryExportsExactlyTheDeclaredFunctions) {
    const auto setDeclared = DeclaredFunctions();
    const auto setExported = ExportedSymbols();
    ASSERT_FALSE(setExported.empty()) << "could not list the symbols of " << TARVEK_LIBRARY_PATH;
    for (const auto& strName : setDeclared) {
        EXPECT_TRUE(setExported.count(strName)) << "declared but not exported: " << strName;
    }
    for (const auto& strName : setExported) {
        EXPECT_TRUE(setDeclared.count(strName)) << "exported but not declared: " << strName;
    }
}

// Nothing outside the driver's own prefix leaks from the library: no runtime
// classes, no symbols of the libraries linked into it.
TEST(Exports, OnlyDriverFunctionsAreExported) {
    const auto setExported = ExportedSymbols();
    ASSERT_FALSE(setExported.empty()) << "could not list the symbols of " << TARVEK_LIBRARY_PATH;
    for (const auto& strName : setExported) {
        EXPECT_EQ(strName.rfind("TARVEK_", 0), 0u) << strName << " leaks from the driver";
    }
}

TEST(Exports, AttributeCallbacksStayHidden) {
    for (const auto& strName : ExportedSymbols()) {
        EXPECT_EQ(strName.rfind("TARVEK_get_", 0), std::string::npos) << strName;
        EXPECT_EQ(strName.rfind("TARVEK_set_", 0), std::string::npos) << strName;
    }
}

}  // namespace
