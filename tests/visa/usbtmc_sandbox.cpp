// usbtmc-sandbox: runs a command with an emulated USB instrument plugged in
// (tests/support/UsbtmcSandbox.h), for the tests of programs that reach it
// only by name: the command-line tool, the examples, PyVISA.
//
//   usbtmc-sandbox [--fault F]... [--expect TEXT]... -- COMMAND ARGS...
//
// "{usb}" in an argument becomes the device's resource name; the command
// also finds it in TARVEK_USB_RESOURCE, and the emulator's process id in
// TARVEK_USB_EMULATOR_PID (killing it unplugs the device). Exits with the
// command's status, 1 when an expected text is missing from its output, and
// 77 when the machine cannot host the device.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "UsbtmcSandbox.h"

namespace {

constexpr int kSkip = 77;

std::string Substitute(std::string strArg, const std::string& strResource) {
    const std::string strMark = "{usb}";
    for (std::size_t nAt = strArg.find(strMark); nAt != std::string::npos;
         nAt = strArg.find(strMark, nAt + strResource.size())) {
        strArg.replace(nAt, strMark.size(), strResource);
    }
    return strArg;
}

}  // namespace

int main(int argc, char** argv) {
    usbtest::DeviceSetup setup;
    std::vector<std::string> vecExpected;
    int nCommand = 1;
    for (; nCommand < argc; ++nCommand) {
        const std::string strArg = argv[nCommand];
        if (strArg == "--") {
            ++nCommand;
            break;
        }
        if ((strArg == "--fault" || strArg == "--expect") && nCommand + 1 < argc) {
            (strArg == "--fault" ? setup.vecFaults : vecExpected).push_back(argv[++nCommand]);
            continue;
        }
        std::fprintf(stderr,
                     "usage: usbtmc-sandbox [--fault F]... [--expect TEXT]... -- COMMAND\n");
        return 2;
    }
    if (nCommand >= argc) {
        std::fprintf(stderr, "usbtmc-sandbox: no command\n");
        return 2;
    }
    std::string strWhy;
    if (!usbtest::EnterSandbox(strWhy)) {
        std::printf("usbtmc-sandbox: skipped, no emulated USB device: %s\n", strWhy.c_str());
        return kSkip;
    }
    usbtest::UsbDevice device(0);
    if (!device.Plug(setup, strWhy)) {
        std::printf("usbtmc-sandbox: the device could not be plugged in: %s\n", strWhy.c_str());
        return 1;
    }
    const std::string strResource = device.Resource();
    ::setenv("TARVEK_USB_RESOURCE", strResource.c_str(), 1);
    ::setenv("TARVEK_USB_EMULATOR_PID", std::to_string(device.Pid()).c_str(), 1);

    std::vector<std::string> vecArgs;
    for (int i = nCommand; i < argc; ++i) {
        vecArgs.push_back(Substitute(argv[i], strResource));
    }
    std::vector<char*> vecArgv;
    for (std::string& strArg : vecArgs) {
        vecArgv.push_back(strArg.data());
    }
    vecArgv.push_back(nullptr);
    int aPipe[2];
    if (::pipe(aPipe) != 0) {
        std::perror("usbtmc-sandbox: pipe");
        return 1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, aPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, aPipe[0]);
    pid_t nPid = -1;
    const int nError =
        ::posix_spawnp(&nPid, vecArgv[0], &actions, nullptr, vecArgv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(aPipe[1]);
    if (nError != 0) {
        std::fprintf(stderr, "usbtmc-sandbox: cannot run %s: %s\n", vecArgv[0],
                     std::strerror(nError));
        ::close(aPipe[0]);
        return 1;
    }
    std::string strOutput;
    char szChunk[4096];
    for (ssize_t nGot; (nGot = ::read(aPipe[0], szChunk, sizeof szChunk)) != 0;) {
        if (nGot < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        std::fwrite(szChunk, 1, static_cast<std::size_t>(nGot), stdout);
        strOutput.append(szChunk, static_cast<std::size_t>(nGot));
    }
    std::fflush(stdout);
    ::close(aPipe[0]);
    int nStatus = 0;
    while (::waitpid(nPid, &nStatus, 0) < 0 && errno == EINTR) {
    }
    device.Unplug();
    int nResult = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 1;
    for (const std::string& strText : vecExpected) {
        if (strOutput.find(strText) == std::string::npos) {
            std::printf("usbtmc-sandbox: expected output missing: %s\n", strText.c_str());
            nResult = nResult == 0 ? 1 : nResult;
        }
    }
    return nResult;
}
