// Runs the tarvek program as a child process and collects what it printed.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace clitest {

struct CliResult {
    int nExit = -1;  // exit status, or 128 + signal
    std::string strOut;
    std::string strErr;
    bool bTimedOut = false;
};

// Called whenever output arrives; may signal the child (e.g. SIGINT).
using OutputWatcher = std::function<void(const std::string& strOut, pid_t pid)>;

inline CliResult RunProgram(const std::string& strProgram, const std::vector<std::string>& vecArgs,
                            const std::vector<std::string>& vecExtraEnv = {},
                            std::chrono::milliseconds timeout = std::chrono::seconds(20),
                            const OutputWatcher& watcher = {}) {
    int outPipe[2];
    int errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);
    std::vector<std::string> vecArgv = {strProgram};
    vecArgv.insert(vecArgv.end(), vecArgs.begin(), vecArgs.end());
    std::vector<char*> argv;
    for (std::string& strArg : vecArgv) {
        argv.push_back(strArg.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> vecEnv;
    for (char** pEnv = environ; *pEnv != nullptr; ++pEnv) {
        vecEnv.emplace_back(*pEnv);
    }
    vecEnv.insert(vecEnv.end(), vecExtraEnv.begin(), vecExtraEnv.end());
    std::vector<char*> envp;
    for (std::string& strEnv : vecEnv) {
        envp.push_back(strEnv.data());
    }
    envp.push_back(nullptr);
    pid_t pid = 0;
    const int nSpawn =
        posix_spawn(&pid, strProgram.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (nSpawn != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        throw std::runtime_error("cannot start " + strProgram);
    }
    CliResult result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int nOpen = 2;
    while (nOpen > 0) {
        const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (remaining.count() <= 0) {
            result.bTimedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(remaining.count())) <= 0) {
            continue;
        }
        for (int n = 0; n < 2; ++n) {
            if (fds[n].fd < 0 || (fds[n].revents & (POLLIN | POLLHUP)) == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t nRead = read(fds[n].fd, buffer, sizeof buffer);
            if (nRead <= 0) {
                close(fds[n].fd);
                fds[n].fd = -1;
                --nOpen;
                continue;
            }
            (n == 0 ? result.strOut : result.strErr).append(buffer, static_cast<size_t>(nRead));
            if (n == 0 && watcher) {
                watcher(result.strOut, pid);
            }
        }
    }
    for (pollfd& fd : fds) {
        if (fd.fd >= 0) {
            close(fd.fd);
        }
    }
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    result.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
    return result;
}

// The tool's exit statuses.
constexpr int kExitDriverError = 1;  // the driver or the instrument refused
constexpr int kExitUsage = 2;        // a bad command line; nothing was sent
constexpr int kExitInterrupted = 130;

// Everything a run left behind, for a failed assertion's message.
inline std::string Describe(const CliResult& result) {
    return "exit " + std::to_string(result.nExit) + "\nstdout:\n" + result.strOut + "\nstderr:\n" +
           result.strErr;
}

#ifdef TARVEK_CLI_PATH
// Runs the tarvek program of this build.
inline CliResult Tarvek(const std::vector<std::string>& vecArgs,
                        const std::vector<std::string>& vecEnv = {},
                        const OutputWatcher& watcher = {}) {
    return RunProgram(TARVEK_CLI_PATH, vecArgs, vecEnv, std::chrono::seconds(20), watcher);
}
#endif

}  // namespace clitest
