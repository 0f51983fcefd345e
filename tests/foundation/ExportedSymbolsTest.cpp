#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

std::set<std::string> ExportedFunctions() {
    std::set<std::string> setNames;
    const std::string strCommand = std::string("nm -D --defined-only ") + TARVEK_LIBRARY_PATH;
    FILE* pPipe = popen(strCommand.c_str(), "r");
    if (pPipe == nullptr) {
        return setNames;
    }
    char line[512];
    while (std::fgets(line, sizeof line, pPipe) != nullptr) {
        std::istringstream in(line);
        std::string strAddress, strKind, strName;
        in >> strAddress >> strKind >> strName;
        if (!strName.empty()) {
            setNames.insert(strName);
        }
    }
    pclose(pPipe);
    return setNames;
}

std::set<std::string> DeclaredFunctions() {
    std::ifstream in(TARVEK_HEADER_PATH);
    std::stringstream text;
    text << in.rdbuf();
    const std::string strHeader = text.str();
    std::set<std::string> setNames;
    const std::regex declaration(R"(TARVEK_API\s+ViStatus\s+_VI_FUNC\s+(TARVEK_\w+)\s*\()");
    for (std::sregex_iterator it(strHeader.begin(), strHeader.end(), declaration), end; it != end;
         ++it) {
        setNames.insert((*it)[1]);
    }
    return setNames;
}

TEST(ExportedSymbols, OnlyDriverFunctionsAreExported) {
    const auto setExported = ExportedFunctions();
    ASSERT_FALSE(setExported.empty());
    for (const std::string& strName : setExported) {
        EXPECT_EQ(strName.rfind("TARVEK_", 0), 0u) << strName << " leaks from the driver";
        EXPECT_EQ(strName.rfind("TARVEK_get_", 0), std::string::npos) << strName;
        EXPECT_EQ(strName.rfind("TARVEK_set_", 0), std::string::npos) << strName;
    }
}

TEST(ExportedSymbols, EveryExportIsDeclaredInTheHeader) {
    const auto setDeclared = DeclaredFunctions();
    for (const std::string& strName : ExportedFunctions()) {
        EXPECT_EQ(setDeclared.count(strName), 1u) << strName << " is exported but not declared";
    }
}

}  // namespace
