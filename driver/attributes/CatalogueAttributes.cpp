// The catalogue's row table, its generated named callbacks and its
// registration, all expanded from the row lists of CatalogueRows.h.
#include <array>
#include <cstddef>

#include "driver/attributes/CatalogueCallbacks.h"

namespace tarvek {
namespace {

// --- The row table ------------------------------------------------------------

#define TARVEK_GENERATED_ENTRY(NAME, TYPE, ACCESS, ...) \
    CatalogueEntry{                                     \
        {TARVEK_ATTRIBUTE(NAME), .type = ValueType::TYPE, .access = Access::ACCESS, __VA_ARGS__}},
#define TARVEK_SPECIAL_ENTRY(NAME, TYPE, ACCESS, NOTE, SIMULATED, ...)                            \
    CatalogueEntry{                                                                               \
        {TARVEK_ATTRIBUTE(NAME), .type = ValueType::TYPE, .access = Access::ACCESS, __VA_ARGS__}, \
        NOTE,                                                                                     \
        SIMULATED},
#define TARVEK_GROUP_ENTRIES(TITLE, ROWS) ROWS(TARVEK_GENERATED_ENTRY, TARVEK_SPECIAL_ENTRY)

constexpr CatalogueEntry kEntries[] = {TARVEK_CATALOGUE_GROUPS(TARVEK_GROUP_ENTRIES)};

#define TARVEK_COUNT_ROW(...) +1
#define TARVEK_GROUP_SIZE(TITLE, ROWS) std::size_t{0} ROWS(TARVEK_COUNT_ROW, TARVEK_COUNT_ROW),
constexpr std::size_t kGroupSizes[] = {TARVEK_CATALOGUE_GROUPS(TARVEK_GROUP_SIZE)};
#define TARVEK_GROUP_TITLE(TITLE, ROWS) TITLE,
constexpr const char* kGroupTitles[] = {TARVEK_CATALOGUE_GROUPS(TARVEK_GROUP_TITLE)};

constexpr std::size_t IndexOf(ViAttr nId) {
    for (std::size_t nIndex = 0; nIndex < std::size(kEntries); ++nIndex) {
        if (kEntries[nIndex].row.id == nId) {
            return nIndex;
        }
    }
    return std::size(kEntries);
}

constexpr bool IdsAreUnique() {
    for (std::size_t nIndex = 0; nIndex < std::size(kEntries); ++nIndex) {
        if (IndexOf(kEntries[nIndex].row.id) != nIndex) {
            return false;
        }
    }
    return true;
}
static_assert(IdsAreUnique(), "an attribute appears twice in the catalogue");

// --- Generated callbacks --------------------------------------------------------

// The generic read and write paths bound to the row of attribute Id.
template <ViAttr Id>
struct Generated {
    static constexpr std::size_t kIndex = IndexOf(Id);
    static_assert(kIndex < std::size(kEntries));
    static constexpr const AttributeRow& kRow = kEntries[kIndex].row;

    static const RowStatics& Statics() {
        static const RowStatics statics(kRow);
        return statics;
    }
    template <class T>
    static ViStatus Get(ViSession vi, ViConstString channelName, T* pValue) {
        return ReadRow<T>(kRow, Statics(), vi, channelName, pValue);
    }
    static ViStatus Get(ViSession vi, ViConstString channelName, ViInt32 nBufferSize,
                        ViChar* pValue) {
        return ReadRowString(kRow, Statics(), vi, channelName, nBufferSize, pValue);
    }
    template <class T>
    static ViStatus Set(ViSession vi, ViConstString channelName, T value) {
        return WriteRow<T>(kRow, Statics(), vi, channelName, value);
    }
};

// The descriptor with its row's text grammar.
drt::AttributeDescriptor WithRowGrammar(drt::AttributeDescriptor descriptor) {
    descriptor.pTextGrammar = kEntries[IndexOf(descriptor.id)].row.text;
    return descriptor;
}

}  // namespace

#define TARVEK_GETTER_ARGUMENTS_Int32 pValue
#define TARVEK_GETTER_ARGUMENTS_Real64 pValue
#define TARVEK_GETTER_ARGUMENTS_Boolean pValue
#define TARVEK_GETTER_ARGUMENTS_String nBufferSize, pValue
#define TARVEK_DEFINE_SETTER_ReadOnly(NAME, TYPE)
#define TARVEK_DEFINE_SETTER_ReadWrite(NAME, TYPE)                         \
    TARVEK_SETTER_SIGNATURE_##TYPE(NAME) {                                 \
        return Generated<TARVEK_ATTR_##NAME>::Set(vi, channelName, value); \
    }
#define TARVEK_DEFINE_CALLBACKS(NAME, TYPE, ACCESS, ...)                           \
    TARVEK_GETTER_SIGNATURE_##TYPE(NAME) {                                         \
        return Generated<TARVEK_ATTR_##NAME>::Get(vi, channelName,                 \
                                                  TARVEK_GETTER_ARGUMENTS_##TYPE); \
    }                                                                              \
    TARVEK_DEFINE_SETTER_##ACCESS(NAME, TYPE)
#define TARVEK_SKIP_ROW(...)
#define TARVEK_GROUP_CALLBACKS(TITLE, ROWS) ROWS(TARVEK_DEFINE_CALLBACKS, TARVEK_SKIP_ROW)

extern "C" {
TARVEK_CATALOGUE_GROUPS(TARVEK_GROUP_CALLBACKS)
}

// --- Registration -----------------------------------------------------------------

#define TARVEK_SETTER_ReadOnly(NAME) nullptr
#define TARVEK_SETTER_ReadWrite(NAME) &TARVEK_set_##NAME
#define TARVEK_REGISTER_ROW(NAME, TYPE, ACCESS, ...)                             \
    registry.Register(WithRowGrammar(                                            \
        drt::AttributeDescriptor::Make(TARVEK_ATTR_##NAME, "TARVEK_ATTR_" #NAME, \
                                       &TARVEK_get_##NAME, TARVEK_SETTER_##ACCESS(NAME))));
#define TARVEK_GROUP_REGISTRATION(TITLE, ROWS) ROWS(TARVEK_REGISTER_ROW, TARVEK_REGISTER_ROW)

void RegisterCatalogueAttributes(drt::AttributeRegistry& registry){
    TARVEK_CATALOGUE_GROUPS(TARVEK_GROUP_REGISTRATION)}

std::span<const CatalogueEntry> CatalogueEntries() {
    return kEntries;
}

std::span<const CatalogueGroup> CatalogueGroups() {
    static const auto groups = [] {
        std::array<CatalogueGroup, std::size(kGroupSizes)> arrGroups{};
        std::size_t nFirst = 0;
        for (std::size_t nGroup = 0; nGroup < arrGroups.size(); ++nGroup) {
            arrGroups[nGroup] = {
                kGroupTitles[nGroup],
                std::span<const CatalogueEntry>(kEntries).subspan(nFirst, kGroupSizes[nGroup])};
            nFirst += kGroupSizes[nGroup];
        }
        return arrGroups;
    }();
    return groups;
}

}  // namespace tarvek
