// The shared library exports exactly the functions that the public header
// declares: nothing missing, and no internal symbol (attribute callbacks,
// runtime classes) leaking out.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

std::set<std::string> DeclaredFunctions() {
    std::ifstream file(TARVEK_HEADER_PATH);
    std::stringstream stream;
    stream << file.rdbuf();
    const std::string strText = stream.str();
    static const std::regex kDeclaration(R"(TARVEK_API\s+ViStatus\s+_VI_FUNC\s+(\w+)\s*\()");
    std::set<std::string> setNames;
    for (auto it = std::sregex_iterator(strText.begin(), strText.end(), kDeclaration);
         it != std::sregex_iterator(); ++it) {
        setNames.insert((*it)[1].str());
    }
    return setNames;
}

std::set<std::string> ExportedSymbols() {
    const std::string strCommand = std::string("nm -D --defined-only ") + TARVEK_LIBRARY_PATH;
    std::unique_ptr<FILE, int (*)(FILE*)> pPipe(popen(strCommand.c_str(), "r"), pclose);
    std::set<std::string> setNames;
    if (!pPipe) {
        return setNames;
    }
    std::array<char, 512> buffer{};
    while (fgets(buffer.data(), static_cast<int>(buffer.size()), pPipe.get()) != nullptr) {
        std::istringstream line(buffer.data());
        std::string strAddress, strType, strName;
        line >> strAddress >> strType >> strName;
        // Absolute symbols are version-script nodes, not code or data.
        if (!strName.empty() && strType != "A") {
            setNames.insert(strName);
        }
    }
    return setNames;
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
