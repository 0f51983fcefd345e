// What a header declares and what a shared library exports, as two sets of
// names the export tests of each interface compare.
#pragma once

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace tarvektest {

// The names a header declares: the first group of every match of
// kDeclaration in its text.
inline std::set<std::string> DeclaredNames(const std::string& strHeader,
                                           const std::regex& kDeclaration) {
    std::ifstream file(strHeader);
    std::stringstream stream;
    stream << file.rdbuf();
    const std::string strText = stream.str();
    std::set<std::string> setNames;
    for (auto it = std::sregex_iterator(strText.begin(), strText.end(), kDeclaration);
         it != std::sregex_iterator(); ++it) {
        setNames.insert((*it)[1].str());
    }
    return setNames;
}

// The symbols a shared library defines in its dynamic table, as nm lists
// them; empty when nm cannot run, which the callers assert against.
inline std::set<std::string> ExportedSymbols(const std::string& strLibrary) {
    const std::string strCommand = "nm -D --defined-only " + strLibrary;
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

}  // namespace tarvektest
