// What the reference and the generated bindings tell a user about each
// attribute besides its commands: a purpose, a unit and the values the
// instruments accept. Kept as a table beside the catalogue rows so that the
// documentation, the JSON description and the unit tests read one source.
#pragma once

#include <span>

#include "visatype.h"

namespace tarvek {

// A closed interval of legal values.
struct ValueRange {
    double dMin = 0.0;
    double dMax = 0.0;
};

// The legal values on each family; bHas false: no numeric range (booleans,
// enumerations, text, or an attribute no instrument supports).
struct FamilyRanges {
    bool bHas = false;
    ValueRange r6310;
    ValueRange r6510;
};

constexpr FamilyRanges Both(double dMin, double dMax) {
    return {true, {dMin, dMax}, {dMin, dMax}};
}
constexpr FamilyRanges PerFamily(double dMin6310, double dMax6310, double dMin6510,
                                 double dMax6510) {
    return {true, {dMin6310, dMax6310}, {dMin6510, dMax6510}};
}
inline constexpr FamilyRanges kNoRange{};

struct AttributeFacts {
    ViAttr id;
    const char* pDescription;  // one sentence: what the attribute is for
    const char* pUnit;         // "V", "A", "s", ... or "none"
    FamilyRanges ranges;
};

// An enumerated or boolean attribute whose hand-written callbacks accept
// fewer values than its map names: the accepted value names, comma-separated,
// and why the others are refused.
struct AcceptedValues {
    ViAttr id;
    const char* pAccepted;
    const char* pReason;
};

std::span<const AttributeFacts> CatalogueFacts();
std::span<const AcceptedValues> CatalogueAcceptedValues();

// The facts of one attribute, or null.
const AttributeFacts* FindFacts(ViAttr id);
const AcceptedValues* FindAcceptedValues(ViAttr id);

}  // namespace tarvek
