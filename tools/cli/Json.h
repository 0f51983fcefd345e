// A small writer for the tool's machine-readable output: one JSON document
// per command (one per line for streaming commands).
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cli {

inline std::string JsonString(std::string_view strText) {
    std::string strResult = "\"";
    for (const char c : strText) {
        switch (c) {
            case '"':
                strResult += "\\\"";
                break;
            case '\\':
                strResult += "\\\\";
                break;
            case '\n':
                strResult += "\\n";
                break;
            case '\r':
                strResult += "\\r";
                break;
            case '\t':
                strResult += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char szEscape[8];
                    std::snprintf(szEscape, sizeof szEscape, "\\u%04x", c);
                    strResult += szEscape;
                } else {
                    strResult += c;
                }
        }
    }
    strResult += '"';
    return strResult;
}

inline std::string JsonNumber(double dValue) {
    if (!std::isfinite(dValue)) {
        return "null";  // JSON has no infinity
    }
    char szText[32];
    std::snprintf(szText, sizeof szText, "%.15g", dValue);
    return szText;
}

inline std::string JsonBool(bool bValue) {
    return bValue ? "true" : "false";
}

// Members in insertion order; values are already JSON text.
class JsonObject {
  public:
    JsonObject& Add(std::string_view strKey, std::string strJson) {
        m_vecMembers.emplace_back(std::string(strKey), std::move(strJson));
        return *this;
    }
    std::string Text() const {
        // Appends in place: no temporary per member.
        std::string strResult = "{";
        for (size_t n = 0; n < m_vecMembers.size(); ++n) {
            if (n != 0) {
                strResult += ',';
            }
            strResult += JsonString(m_vecMembers[n].first);
            strResult += ':';
            strResult += m_vecMembers[n].second;
        }
        strResult += '}';
        return strResult;
    }

  private:
    std::vector<std::pair<std::string, std::string>> m_vecMembers;
};

inline std::string JsonArray(const std::vector<std::string>& vecItems) {
    std::string strResult = "[";
    for (size_t n = 0; n < vecItems.size(); ++n) {
        if (n != 0) {
            strResult += ',';
        }
        strResult += vecItems[n];
    }
    strResult += ']';
    return strResult;
}

}  // namespace cli
