// The named attribute callbacks of the catalogue, TARVEK_get_<NAME> and
// TARVEK_set_<NAME>. They are what the registry calls; they keep C names for
// diagnostics but are internal to the library (never exported).
#pragma once

#include "driver/attributes/CatalogueRows.h"

// Signatures by value type.
#define TARVEK_GETTER_SIGNATURE_SCALAR(NAME, CTYPE) \
    ViStatus TARVEK_get_##NAME(ViSession vi, ViConstString channelName, CTYPE* pValue)
#define TARVEK_GETTER_SIGNATURE_Int32(NAME) TARVEK_GETTER_SIGNATURE_SCALAR(NAME, ViInt32)
#define TARVEK_GETTER_SIGNATURE_Real64(NAME) TARVEK_GETTER_SIGNATURE_SCALAR(NAME, ViReal64)
#define TARVEK_GETTER_SIGNATURE_Boolean(NAME) TARVEK_GETTER_SIGNATURE_SCALAR(NAME, ViBoolean)
#define TARVEK_GETTER_SIGNATURE_String(NAME)                                                 \
    ViStatus TARVEK_get_##NAME(ViSession vi, ViConstString channelName, ViInt32 nBufferSize, \
                               ViChar pValue[])
#define TARVEK_SETTER_SIGNATURE_SCALAR(NAME, CTYPE) \
    ViStatus TARVEK_set_##NAME(ViSession vi, ViConstString channelName, CTYPE value)
#define TARVEK_SETTER_SIGNATURE_Int32(NAME) TARVEK_SETTER_SIGNATURE_SCALAR(NAME, ViInt32)
#define TARVEK_SETTER_SIGNATURE_Real64(NAME) TARVEK_SETTER_SIGNATURE_SCALAR(NAME, ViReal64)
#define TARVEK_SETTER_SIGNATURE_Boolean(NAME) TARVEK_SETTER_SIGNATURE_SCALAR(NAME, ViBoolean)
#define TARVEK_SETTER_SIGNATURE_String(NAME) TARVEK_SETTER_SIGNATURE_SCALAR(NAME, ViConstString)

#define TARVEK_DECLARE_SETTER_ReadOnly(NAME, TYPE)
#define TARVEK_DECLARE_SETTER_ReadWrite(NAME, TYPE) TARVEK_SETTER_SIGNATURE_##TYPE(NAME);
#define TARVEK_DECLARE_CALLBACKS(NAME, TYPE, ACCESS, ...) \
    TARVEK_GETTER_SIGNATURE_##TYPE(NAME);                 \
    TARVEK_DECLARE_SETTER_##ACCESS(NAME, TYPE)
#define TARVEK_DECLARE_GROUP_CALLBACKS(TITLE, ROWS) \
    ROWS(TARVEK_DECLARE_CALLBACKS, TARVEK_DECLARE_CALLBACKS)

namespace tarvek {
extern "C" {
TARVEK_CATALOGUE_GROUPS(TARVEK_DECLARE_GROUP_CALLBACKS)
}
}  // namespace tarvek
