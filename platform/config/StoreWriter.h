// Edits a store file in place: adds and removes logical names for programs
// such as `tarvek store`. Every edit runs under an exclusive lock, refuses a
// file that the reader would refuse, keeps everything else the file holds
// (other items, comments, layout) and replaces the file atomically, so a
// reader sees either the old store or the new one and nothing is lost when
// an edit fails.
#ifndef TARVEK_CONFIG_STORE_WRITER_H
#define TARVEK_CONFIG_STORE_WRITER_H

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ConfigStore.h"

namespace cfgstore {

// What `AddLogicalName` writes: a logical name, a driver session and a
// hardware asset, all named strName, for the software module "TARVEK".
struct LogicalNameEntry {
    std::string strName;
    std::string strResource;
    // Session options as store attributes ("cache", "simulate", ...) and values.
    std::vector<std::pair<std::string, bool>> vecOptions;
    std::string strDriverSetup;
    // Virtual channel name and the physical name it stands for.
    std::vector<std::pair<std::string, std::string>> vecVirtualNames;
};

// The store attributes of the six inherent options, in the driver's order.
const std::vector<std::string>& SessionOptionAttributes();

// The store file as it stands. bExists is false when there is no file (the
// built-in registration then applies); pData is null when the file is not a
// valid store, and strError then says why, with the line and column.
struct StoreFileState {
    bool bExists = false;
    std::shared_ptr<const StoreData> pData;
    std::string strError;
};
StoreFileState ReadStoreFile(const std::string& strPath);

// Everything the reader checks, plus what the driver needs to open sessions
// with the store: the software module "TARVEK" and, for each driver session,
// a software module. Returns the first problem with its line, or "".
std::string CheckStoreFile(const std::string& strPath);

// Adds strName as a logical name. Refuses (false, strError set, file
// untouched) a malformed or read-only store, a name the store already uses
// for a logical name, driver session or hardware asset, and a virtual name
// that maps to no physical name of "TARVEK". A store without the software
// module "TARVEK" gains it; a missing file is created.
bool AddLogicalName(const std::string& strPath, const LogicalNameEntry& entry,
                    std::string& strError);

// Removes the logical name strName, and its driver session and hardware
// asset when nothing else in the store refers to them.
bool RemoveLogicalName(const std::string& strPath, const std::string& strName,
                       std::string& strError);

}  // namespace cfgstore

#endif  // TARVEK_CONFIG_STORE_WRITER_H
