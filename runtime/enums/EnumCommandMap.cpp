#include "runtime/enums/EnumCommandMap.h"

#include <string>

#include "runtime/session/DriverSession.h"
#include "runtime/text/TextUtils.h"

namespace drt {

namespace {

std::string_view TrimView(std::string_view strText) {
    const auto nFirst = strText.find_first_not_of(kWhitespace);
    if (nFirst == std::string_view::npos) {
        return {};
    }
    const auto nLast = strText.find_last_not_of(kWhitespace);
    return strText.substr(nFirst, nLast - nFirst + 1);
}

EnumCommandInfo MakeRow(const EnumRowText& row) {
    EnumCommandInfo info;
    info.name = row.pName;
    info.value = row.nValue;
    info.commands = SplitString(row.pCommands != nullptr ? row.pCommands : "", ',', true);
    info.models = SplitString(row.pModels != nullptr ? row.pModels : "", ',', true);
    return info;
}

}  // namespace

EnumCommandMap BuildEnumMap(std::initializer_list<EnumRowText> rows) {
    EnumCommandMap map;
    map.reserve(rows.size());
    for (const EnumRowText& row : rows) {
        map.push_back(MakeRow(row));
    }
    return map;
}

EnumCommandMap BuildEnumMapWithNames(std::initializer_list<EnumRowText> rows) {
    EnumCommandMap map;
    map.reserve(rows.size() * 2);
    for (const EnumRowText& row : rows) {
        map.push_back(MakeRow({row.pName, row.nValue, kNoModel, kNoModel}));
    }
    for (const EnumRowText& row : rows) {
        if (row.pCommands != nullptr) {
            map.push_back(MakeRow(row));
        }
    }
    return map;
}

const EnumCommandMap& BooleanMap() {
    static const EnumCommandMap map = BuildEnumMap({
        {"VI_TRUE", VI_TRUE, "1", ""},
        {"VI_FALSE", VI_FALSE, "0", ""},
    });
    return map;
}

bool InstrumentStringMatches(std::string_view strCommand, std::string_view strResponse) {
    return EqualsNoCase(TrimView(strCommand), TrimView(strResponse));
}

RowMatch RowApplies(const DriverSession& session, const EnumCommandInfo& row) {
    if (row.models.empty()) {
        return RowMatch::Generic;
    }
    const std::string& strModel = session.GetInstrumentModel();
    for (const std::string& strEntry : row.models) {
        if (strEntry == strModel) {
            return RowMatch::Exact;
        }
    }
    for (const std::string& strEntry : row.models) {
        if (session.IsModelInFamily(strEntry)) {
            return RowMatch::Family;
        }
    }
    return RowMatch::None;
}

ViStatus ResponseToValue(DriverSession& session, const EnumCommandMap& map,
                         std::string_view strResponse, ViInt32& nValue) {
    nValue = -1;
    const EnumCommandInfo* pBestMatch = nullptr;
    bool bBestIsFamily = false;
    std::vector<ViInt32> vecApplicableValues;
    for (const EnumCommandInfo& row : map) {
        const RowMatch match = RowApplies(session, row);
        if (match == RowMatch::Exact || match == RowMatch::Family) {
            vecApplicableValues.push_back(row.value);
        }
        if (match == RowMatch::None) {
            continue;
        }
        bool bMatches = false;
        for (const std::string& strCommand : row.commands) {
            if (InstrumentStringMatches(strCommand, strResponse)) {
                bMatches = true;
                break;
            }
        }
        if (!bMatches) {
            continue;
        }
        if (match == RowMatch::Exact) {
            nValue = row.value;
            return VI_SUCCESS;
        }
        if (match == RowMatch::Family) {
            pBestMatch = &row;
            bBestIsFamily = true;
        } else if (pBestMatch == nullptr) {
            pBestMatch = &row;
        }
    }
    if (pBestMatch != nullptr) {
        bool bRefused = false;
        if (!bBestIsFamily) {
            for (ViInt32 nApplicable : vecApplicableValues) {
                bRefused = bRefused || nApplicable == pBestMatch->value;
            }
        }
        if (!bRefused) {
            nValue = pBestMatch->value;
            return VI_SUCCESS;
        }
    }
    return session.ReportErrorText(IVI_ERROR_UNEXPECTED_RESPONSE,
                                   "Could not convert instrument response (%s) to a defined value.",
                                   {strResponse});
}

ViStatus ValueToCommand(DriverSession& session, const EnumCommandMap& map, ViInt32 nValue,
                        std::string& strCommand) {
    strCommand.clear();
    const EnumCommandInfo* pFamily = nullptr;
    const EnumCommandInfo* pGeneric = nullptr;
    const EnumCommandInfo* pChosen = nullptr;
    for (const EnumCommandInfo& row : map) {
        if (row.value != nValue) {
            continue;
        }
        const RowMatch match = RowApplies(session, row);
        if (match == RowMatch::Exact) {
            pChosen = &row;
            break;
        }
        if (match == RowMatch::Family && pFamily == nullptr) {
            pFamily = &row;
        } else if (match == RowMatch::Generic && pGeneric == nullptr) {
            pGeneric = &row;
        }
    }
    if (pChosen == nullptr) {
        pChosen = pFamily != nullptr ? pFamily : pGeneric;
    }
    if (pChosen == nullptr || pChosen->commands.empty()) {
        return session.ReportErrorText(
            IVI_ERROR_CANNOT_RECOVER,
            "Could not convert defined value '%s' to an instrument command.",
            {std::to_string(nValue)});
    }
    strCommand = pChosen->commands.front();
    return VI_SUCCESS;
}

std::string ValueName(const EnumCommandMap& map, ViInt32 nValue) {
    for (const EnumCommandInfo& row : map) {
        if (row.value == nValue) {
            return row.name;
        }
    }
    return std::to_string(nValue);
}

}  // namespace drt
