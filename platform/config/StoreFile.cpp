#include "StoreFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include "ConfigStore.h"

namespace cfgstore {
namespace {

namespace fs = std::filesystem;

// Another writer holds the lock only for the few milliseconds of its edit.
constexpr auto kLockTimeout = std::chrono::seconds(10);

std::string ErrnoText(int nError) {
    return std::generic_category().message(nError);
}

mode_t CurrentUmask() {
    // umask cannot be read without being set; the tool is single-threaded
    // while it edits.
    const mode_t nMask = ::umask(022);
    ::umask(nMask);
    return nMask;
}

bool WriteAll(int fd, const std::string& strText) {
    std::size_t nDone = 0;
    while (nDone < strText.size()) {
        const ssize_t nWritten = ::write(fd, strText.data() + nDone, strText.size() - nDone);
        if (nWritten < 0 && errno == EINTR) {
            continue;
        }
        if (nWritten <= 0) {
            return false;
        }
        nDone += static_cast<std::size_t>(nWritten);
    }
    return true;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

bool ReadWholeFile(const std::string& strPath, std::string& strText, std::string& strError) {
    const std::string strCannotRead =
        "The configuration store " + Quoted(strPath) + " cannot be read: ";
    tknet::Fd file(::open(strPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        strError = strCannotRead + ErrnoText(errno) + ".";
        return false;
    }
    struct stat info = {};
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        strError = strCannotRead + "it is not a regular file.";
        return false;
    }
    strText.clear();
    char buffer[8192];
    while (true) {
        const ssize_t nRead = ::read(file.Get(), buffer, sizeof buffer);
        if (nRead < 0 && errno == EINTR) {
            continue;
        }
        if (nRead < 0) {
            strError = strCannotRead + ErrnoText(errno) + ".";
            return false;
        }
        if (nRead == 0) {
            return true;
        }
        strText.append(buffer, static_cast<std::size_t>(nRead));
        if (strText.size() > kMaxStoreFileSize) {
            strError = strCannotRead + "it is larger than " + std::to_string(kMaxStoreFileSize) +
                       " bytes.";
            return false;
        }
    }
}

bool EditLock::Acquire(const std::string& strStorePath, std::string& strError) {
    const std::string strLockPath = strStorePath + ".lock";
    const std::string strCannot = "The configuration store " + Quoted(strStorePath) +
                                  " cannot be locked for editing: " + Quoted(strLockPath);
    // The lock file is only ever locked, never written, so it is opened
    // for reading; O_NONBLOCK keeps a planted FIFO from hanging the open.
    m_fd.Reset(::open(strLockPath.c_str(),
                      O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644));
    if (m_fd.Get() < 0) {
        const int nError = errno;
        struct stat link = {};
        if (nError == ELOOP && ::lstat(strLockPath.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            strError = strCannot +
                       " is a symbolic link, which the store writer never follows; remove "
                       "it. Nothing was changed.";
        } else {
            strError = strCannot + ": " + ErrnoText(nError) + ". Nothing was changed.";
        }
        return false;
    }
    // A hard link could make it another file, and a file of a stranger
    // in a shared folder could be held locked by that stranger forever.
    struct stat info = {};
    struct stat folder = {};
    const std::string strFolder = fs::path(strLockPath).parent_path().string();
    if (::fstat(m_fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        strError = strCannot + " is not a regular file. Nothing was changed.";
        return false;
    }
    if (info.st_nlink != 1) {
        strError = strCannot + " has other hard links. Nothing was changed.";
        return false;
    }
    if (info.st_uid != ::geteuid() && info.st_uid != 0 &&
        (::stat(strFolder.c_str(), &folder) != 0 || info.st_uid != folder.st_uid)) {
        strError = strCannot + " belongs to user " + std::to_string(info.st_uid) +
                   ", who is neither this user, root nor the owner of its folder. Nothing "
                   "was changed.";
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kLockTimeout;
    while (::flock(m_fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) ||
            std::chrono::steady_clock::now() >= deadline) {
            strError = "The configuration store " + Quoted(strStorePath) +
                       " is being edited by another program (" + Quoted(strLockPath) +
                       " stays locked); nothing was changed.";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool ReplaceFile(const std::string& strPath, const std::string& strText, bool bExisted,
                 const struct stat& before, std::string& strError) {
    const fs::path path(strPath);
    const std::string strWhere = "The configuration store " + Quoted(strPath);
    std::string strTemplate =
        (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    // mkostemp creates the file with O_CREAT | O_EXCL, which never follows a
    // symbolic link planted under the chosen name.
    tknet::Fd file(::mkostemp(strTemplate.data(), O_CLOEXEC));
    if (file.Get() < 0) {
        strError = strWhere + " cannot be written: " + ErrnoText(errno) + "; nothing was changed.";
        return false;
    }
    const std::string strTemporary = strTemplate;
    auto fail = [&](const std::string& strWhy) {
        ::unlink(strTemporary.c_str());
        strError = strWhere + " cannot be written: " + strWhy + "; nothing was changed.";
        return false;
    };
    // The new file keeps the old one's permissions (mkstemp creates 0600,
    // which would lock other users out of the store) and, where allowed, owner.
    const mode_t nMode = bExisted ? (before.st_mode & 07777) : (0666 & ~CurrentUmask());
    if (::fchmod(file.Get(), nMode) != 0) {
        return fail(ErrnoText(errno));
    }
    if (bExisted && (before.st_uid != ::geteuid() || before.st_gid != ::getegid()) &&
        ::geteuid() == 0 && ::fchown(file.Get(), before.st_uid, before.st_gid) != 0) {
        return fail(ErrnoText(errno));
    }
    if (!WriteAll(file.Get(), strText) || ::fsync(file.Get()) != 0) {
        return fail(ErrnoText(errno));
    }
    if (::close(file.Release()) != 0) {
        return fail(ErrnoText(errno));
    }
    // A program that does not take the lock may still have written the
    // file meanwhile; its change wins over this edit rather than being lost.
    struct stat now = {};
    const bool bExistsNow = ::stat(strPath.c_str(), &now) == 0;
    if (bExistsNow != bExisted || (bExisted && !SameFile(before, now))) {
        ::unlink(strTemporary.c_str());
        strError = strWhere +
                   " was changed by another program during the edit; nothing was "
                   "changed, try again.";
        return false;
    }
    if (::rename(strTemporary.c_str(), strPath.c_str()) != 0) {
        return fail(ErrnoText(errno));
    }
    tknet::Fd directory(::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.Get() >= 0) {
        ::fsync(directory.Get());
    }
    return true;
}

}  // namespace cfgstore
