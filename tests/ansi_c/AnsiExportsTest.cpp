// libtk6x1x exports exactly the functions tk6x1x.h declares, all of them
// with the driver identifier's prefix, and libTARVEK_64 none of them.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "LibrarySymbols.h"

namespace {

using tarvektest::ExportedSymbols;

std::set<std::string> Declared() {
    static const std::regex kDeclaration(R"(TK6X1X_API\s+int32_t\s+(\w+)\s*\()");
    return tarvektest::DeclaredNames(TK6X1X_HEADER_PATH, kDeclaration);
}

TEST(AnsiExports, LibraryExportsExactlyTheDeclaredFunctions) {
    const auto setDeclared = Declared();
    const auto setExported = ExportedSymbols(TK6X1X_LIBRARY_PATH);
    ASSERT_GT(setDeclared.size(), 200u) << "the header scan found too little";
    ASSERT_FALSE(setExported.empty());
    for (const auto& strName : setDeclared) {
        EXPECT_TRUE(setExported.count(strName)) << "declared but not exported: " << strName;
        EXPECT_EQ(strName.rfind("TK6x1x_", 0), 0u) << strName;
    }
    for (const auto& strName : setExported) {
        EXPECT_TRUE(setDeclared.count(strName)) << "exported but not declared: " << strName;
    }
    for (const char* pCore : {"TK6x1x_init",
                              "TK6x1x_init_with_options",
                              "TK6x1x_close",
                              "TK6x1x_driver_version_get",
                              "TK6x1x_driver_vendor_get",
                              "TK6x1x_error_query",
                              "TK6x1x_instrument_manufacturer_get",
                              "TK6x1x_instrument_model_get",
                              "TK6x1x_query_instrument_status_enabled_get",
                              "TK6x1x_query_instrument_status_enabled_set",
                              "TK6x1x_reset",
                              "TK6x1x_simulate_get",
                              "TK6x1x_supported_instrument_models_get",
                              "TK6x1x_error_message",
                              "TK6x1x_last_error_message",
                              "TK6x1x_clear_last_error",
                              "TK6x1x_read_and_clear_error_queue",
                              "TK6x1x_direct_io_timeout_milliseconds_get",
                              "TK6x1x_direct_io_timeout_milliseconds_set",
                              "TK6x1x_direct_io_read_bytes",
                              "TK6x1x_direct_io_read_string",
                              "TK6x1x_direct_io_write_bytes",
                              "TK6x1x_direct_io_write_string"}) {
        EXPECT_TRUE(setDeclared.count(pCore)) << "a required function is missing: " << pCore;
    }
}

TEST(AnsiExports, TheIviCLibraryStaysAsItWas) {
    for (const auto& strName : ExportedSymbols(TARVEK_LIBRARY_PATH)) {
        EXPECT_EQ(strName.rfind("TARVEK_", 0), 0u) << strName;
    }
}

}  // namespace
