// The per-attribute convenience functions: each is the typed attribute access
// with no channel selector and its fixed attribute id. A scalar getter's null
// pointer is therefore reported under the name of the typed function it
// forwards to ("TARVEK_GetAttributeViReal64", parameter "AttributeValue").
#include "driver/attributes/CatalogueWrappers.h"

#define TARVEK_DEFINE_GETTER(Type, Name, ATTR)                                             \
    extern "C" ViStatus _VI_FUNC TARVEK_Get##Name(ViSession vi, Type* AttributeValue) {    \
        return TARVEK_GetAttribute##Type(vi, nullptr, TARVEK_ATTR_##ATTR, AttributeValue); \
    }
#define TARVEK_DEFINE_SETTER(Type, Name, ATTR)                                             \
    extern "C" ViStatus _VI_FUNC TARVEK_Set##Name(ViSession vi, Type AttributeValue) {     \
        return TARVEK_SetAttribute##Type(vi, nullptr, TARVEK_ATTR_##ATTR, AttributeValue); \
    }
#define TARVEK_DEFINE_STRING_GETTER(Name, ATTR)                                                   \
    extern "C" ViStatus _VI_FUNC TARVEK_Get##Name(ViSession vi, ViInt32 AttributeValueBufferSize, \
                                                  ViChar AttributeValue[]) {                      \
        return TARVEK_GetAttributeViString(vi, nullptr, TARVEK_ATTR_##ATTR,                       \
                                           AttributeValueBufferSize, AttributeValue);             \
    }
#define TARVEK_DEFINE_STRING_SETTER(Name, ATTR)                                                 \
    extern "C" ViStatus _VI_FUNC TARVEK_Set##Name(ViSession vi, ViConstString AttributeValue) { \
        return TARVEK_SetAttributeViString(vi, nullptr, TARVEK_ATTR_##ATTR, AttributeValue);    \
    }

#define TARVEK_GS(Type, Name, ATTR) \
    TARVEK_DEFINE_GETTER(Type, Name, ATTR) TARVEK_DEFINE_SETTER(Type, Name, ATTR)
#define TARVEK_GS_STRING(Name, ATTR) \
    TARVEK_DEFINE_STRING_GETTER(Name, ATTR) TARVEK_DEFINE_STRING_SETTER(Name, ATTR)

TARVEK_ATTRIBUTE_WRAPPERS(TARVEK_GS, TARVEK_DEFINE_GETTER, TARVEK_GS_STRING,
                          TARVEK_DEFINE_STRING_GETTER)
