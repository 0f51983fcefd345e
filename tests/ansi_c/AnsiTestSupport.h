// Shared pieces of the IVI-ANSI-C tests: the catalogue as the generated table
// of rows (each with its TK6x1x_ accessors), and one interface over sessions
// of either API, so that the same behaviour tests run through IVI-C
// (TARVEK.h) and IVI-ANSI-C (tk6x1x.h).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "Emulator.h"
#include "LiveSession.h"
#include "TARVEK.h"
#include "TestModels.h"
#include "tk6x1x.h"

namespace ansitest {

using AnyFunction = void (*)();

struct NamedValue {
    int32_t nValue;
    bool bSupported;
    const char* pRefusedBy;  // families, comma separated
};

struct Range {
    bool bHas;
    double dMin6310, dMax6310, dMin6510, dMax6510;
};

struct Row {
    const char* pName;
    ViAttr nId;
    char cType;  // 'i' int32, 'r' double, 'b' bool, 's' text, 'h' handle
    bool bWritable;
    bool bChannel;
    const char* pUnsupported;  // families that refuse the attribute
    const char* pNote;
    const char* pGroup;
    Range range;
    std::vector<NamedValue> values;
    AnyFunction pGet;
    AnyFunction pSet;
};

// Every attribute of the catalogue, in its order.
const std::vector<Row>& Rows();

using Value = std::variant<int32_t, double, bool, std::string>;

using tarvektest::kModels;
using tarvektest::Model;

// A session of one API, opened in simulation or on an emulator.
class Api {
  public:
    virtual ~Api() = default;
    virtual const char* Name() const = 0;
    virtual int32_t Read(const Row& row, const char* pChannel, Value& value) = 0;
    virtual int32_t Write(const Row& row, const char* pChannel, const Value& value) = 0;
    virtual std::string LastError() = 0;
};

enum class Kind { IviC, AnsiC };

// Opens a session of the API on the resource ("" with bSimulate) with range
// checking and the status query after each call on.
std::unique_ptr<Api> OpenApi(Kind eKind, const std::string& strResource, bool bSimulate,
                             const char* pModel);

// The text of the session's last error through tk6x1x.h.
std::string AnsiLastError(TK6x1xSession session);

}  // namespace ansitest
