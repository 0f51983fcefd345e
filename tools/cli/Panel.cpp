// tarvek panel: the browser front panel is Python (the tarvek package and
// aiohttp); this command finds the package that belongs to this program and
// replaces itself with `python3 -m tarvek.panel ...`, so that signals and the
// exit status are the server's own.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tools/cli/Commands.h"
#include "tools/cli/Session.h"

#ifndef TARVEK_PANEL_PYTHON
#define TARVEK_PANEL_PYTHON "python3"
#endif

namespace cli {
namespace {

namespace fs = std::filesystem;

bool HoldsPanel(const fs::path& dir) {
    std::error_code error;
    return fs::is_regular_file(dir / "tarvek" / "panel" / "__main__.py", error);
}

// The folder holding the tarvek package of this program's build or
// installation: <build>/python beside <build>/bin, or the interpreter's
// package folder under the installation prefix (lib/python3/dist-packages,
// lib/python3.X/dist-packages or lib/python3.X/site-packages). Empty when
// neither is there: the interpreter's own path may still have it.
std::string PackageDir() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (error) {
        return "";
    }
    const fs::path prefix = exe.parent_path().parent_path();
    if (HoldsPanel(prefix / "python")) {
        return (prefix / "python").string();
    }
    for (const char* pLib : {"lib", "lib64"}) {
        fs::directory_iterator it(prefix / pLib, error);
        if (error) {
            continue;
        }
        for (const fs::directory_entry& entry : it) {
            if (entry.path().filename().string().rfind("python3", 0) != 0) {
                continue;
            }
            for (const char* pKind : {"dist-packages", "site-packages"}) {
                if (HoldsPanel(entry.path() / pKind)) {
                    return (entry.path() / pKind).string();
                }
            }
        }
    }
    return "";
}

}  // namespace

int RunPanel(const Invocation& inv) {
    const std::string strPython = std::getenv("TARVEK_PYTHON") != nullptr
                                      ? std::getenv("TARVEK_PYTHON")
                                      : TARVEK_PANEL_PYTHON;
    std::vector<std::string> vecArgv = {strPython, "-m", "tarvek.panel"};
    vecArgv.insert(vecArgv.end(), inv.vecArgs.begin(), inv.vecArgs.end());
    for (const char* pOption : {"bind", "port", "rate", "io-timeout"}) {
        if (inv.Has(pOption)) {
            vecArgv.push_back(std::string("--") + pOption);
            vecArgv.push_back(inv.Value(pOption));
        }
    }
    if (inv.Has("token")) {
        // Through the environment: the child's command line is readable by
        // every user of the machine.
        setenv("TARVEK_PANEL_TOKEN", inv.Value("token").c_str(), 1);
        vecArgv.push_back("--token");
    }
    if (inv.setFlags.count("simulate") != 0) {
        vecArgv.push_back("--simulate");
    }
    if (inv.Has("options")) {
        vecArgv.push_back("--options");
        vecArgv.push_back(inv.Value("options"));
    }
    if (inv.vecArgs.empty() && inv.setFlags.count("simulate") == 0) {
        throw UsageError("panel needs a RESOURCE, or --simulate");
    }
    const std::string strPackage = PackageDir();
    if (!strPackage.empty()) {
        const char* pPath = std::getenv("PYTHONPATH");
        const std::string strPath =
            pPath != nullptr && pPath[0] != '\0' ? strPackage + ":" + pPath : strPackage;
        setenv("PYTHONPATH", strPath.c_str(), 1);
    }
    std::vector<char*> vecPointers;
    for (std::string& strArg : vecArgv) {
        vecPointers.push_back(strArg.data());
    }
    vecPointers.push_back(nullptr);
    std::fflush(stdout);
    execvp(vecPointers[0], vecPointers.data());
    throw std::runtime_error("cannot run " + strPython + " for the panel: " + std::strerror(errno) +
                             " (set TARVEK_PYTHON to a Python 3 with python3-aiohttp)");
}

}  // namespace cli
