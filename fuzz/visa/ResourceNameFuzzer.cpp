// Fuzzes the resource-name parser: any text must parse or fail with a status.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ResourceName.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    tkvisa::ResourceName resource;
    const ViStatus status = tkvisa::ParseResourceName(
        std::string_view(reinterpret_cast<const char*>(pData), nSize), resource);
    if (status != VI_SUCCESS && status != VI_ERROR_INV_RSRC_NAME &&
        status != VI_ERROR_RSRC_NFOUND) {
        std::abort();
    }
    if (status == VI_SUCCESS && (resource.strCanonical.empty() || resource.strClass.empty())) {
        std::abort();
    }
    return 0;
}
