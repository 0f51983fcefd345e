// The store file on disk, as the writer handles it: read whole and bounded,
// held under the exclusive edit lock of its companion file "<store>.lock",
// and replaced atomically by a temporary file renamed over it. The store
// tool often runs as root on a folder other users may write to, so neither
// file is ever reached through a symbolic link.
#pragma once

#include <sys/stat.h>

#include <string>

#include "Socket.h"

namespace cfgstore {

// Reads a whole store file; false with strError set when it cannot be read
// or is larger than the reader accepts.
bool ReadWholeFile(const std::string& strPath, std::string& strText, std::string& strError);

// Holds the exclusive edit lock of one store file until it is destroyed.
class EditLock {
  public:
    bool Acquire(const std::string& strStorePath, std::string& strError);

  private:
    tknet::Fd m_fd;
};

// Writes strText to a temporary file next to the store and renames it over
// the store, unless the store changed since `before` was taken (bExisted:
// whether it existed then). The new file keeps the old one's permissions.
bool ReplaceFile(const std::string& strPath, const std::string& strText, bool bExisted,
                 const struct stat& before, std::string& strError);

}  // namespace cfgstore
