// Fuzzes the formatted-input engine with instrument replies. The first byte
// picks one of the formats the driver and typical clients use; the rest is the
// reply. Every buffer is followed by guard bytes that must stay untouched.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FormattedIo.h"

namespace {

constexpr unsigned char kGuard = 0xA5;

struct Field {
    char szText[257];
    unsigned char guard[16];
};

struct Buffers {
    Field fields[4];
    ViInt32 nValues[4];
    ViInt16 nShort;
    ViInt64 nLong;
    ViReal64 dValues[2];
    ViReal32 fValue;
    ViInt32 nSizes[3];
    char szSmall[8];
    unsigned char smallGuard[16];
    ViInt16 block[5];  // a binary block's elements
    unsigned char blockGuard[16];
};

ViStatus Scan(const std::uint8_t* pData, std::size_t nSize, const char* pszFormat, ...) {
    tkvisa::MemoryScanSource source(pData, nSize, '\n');
    tkvisa::VaList list;
    va_start(list.args, pszFormat);
    const ViStatus status = tkvisa::ScanInput(source, pszFormat, list);
    va_end(list.args);
    if (source.Consumed() > nSize) {
        std::abort();
    }
    return status;
}

void CheckGuards(const Buffers& buffers) {
    for (const Field& field : buffers.fields) {
        for (unsigned char c : field.guard) {
            if (c != kGuard) {
                std::abort();
            }
        }
    }
    for (unsigned char c : buffers.smallGuard) {
        if (c != kGuard) {
            std::abort();
        }
    }
    for (unsigned char c : buffers.blockGuard) {
        if (c != kGuard) {
            std::abort();
        }
    }
}

// A format taken from the input with every conversion suppressed, so that it
// needs no arguments.
std::string SuppressedFormat(const std::uint8_t* pData, std::size_t nSize) {
    std::string strFormat;
    for (std::size_t i = 0; i < nSize; ++i) {
        const char c = static_cast<char>(pData[i]);
        strFormat += c;
        if (c == '%') {
            if (i + 1 < nSize && pData[i + 1] == '%') {
                strFormat += '%';
                ++i;
            } else {
                strFormat += '*';
            }
        }
    }
    return strFormat;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    if (nSize == 0) {
        return 0;
    }
    const unsigned nChoice = pData[0] % 12;
    ++pData;
    --nSize;
    Buffers b;
    std::memset(&b, kGuard, sizeof b);
    b.nSizes[0] = 256;
    b.nSizes[1] = 5;
    b.nSizes[2] = 3;
    switch (nChoice) {
        case 0:
            Scan(pData, nSize, "%#[^\n]%*t", &b.nSizes[0], b.fields[0].szText);
            if (b.nSizes[0] < 0 || b.nSizes[0] > 255) {
                std::abort();
            }
            break;
        case 1:
            Scan(pData, nSize, "%256[^,],%256[^,],%256[^,],%256[^,]%*T", b.fields[0].szText,
                 b.fields[1].szText, b.fields[2].szText, b.fields[3].szText);
            break;
        case 2:
            Scan(pData, nSize, "%lf,%lf%*t", &b.dValues[0], &b.dValues[1]);
            break;
        case 3:
            Scan(pData, nSize, "%ld%*T", &b.nValues[0]);
            break;
        case 4:
            Scan(pData, nSize, "%T", b.fields[0].szText);
            break;
        case 5:
            Scan(pData, nSize, "%lf%*t", &b.dValues[0]);
            break;
        case 6:
            Scan(pData, nSize, "%ld%*t", &b.nValues[0]);
            break;
        case 7:
            Scan(pData, nSize, "%s %c%3ld%hd%lld%lx%lo%li%e%*t", b.fields[0].szText, b.szSmall,
                 &b.nValues[0], &b.nShort, &b.nLong, &b.nValues[1], &b.nValues[2], &b.nValues[3],
                 &b.fValue);
            break;
        case 8:
            Scan(pData, nSize, "%[a-z0-9]%*[^\n]%t", b.fields[0].szText, b.fields[1].szText);
            break;
        case 9:
            Scan(pData, nSize, "%#s%#c%#T", &b.nSizes[1], b.szSmall, &b.nSizes[2],
                 b.fields[0].szText, &b.nSizes[0], b.fields[1].szText);
            break;
        case 10:
            b.nSizes[1] = 5;
            Scan(pData, nSize, "%#hb%*t", &b.nSizes[1], b.block);
            if (b.nSizes[1] < 0 || b.nSizes[1] > 5) {
                std::abort();
            }
            break;
        default: {
            const std::uint8_t* pSplit =
                static_cast<const std::uint8_t*>(std::memchr(pData, '\0', nSize));
            const std::size_t nFormat = pSplit ? static_cast<std::size_t>(pSplit - pData) : nSize;
            const std::string strFormat = SuppressedFormat(pData, nFormat);
            const std::size_t nReply = pSplit ? nSize - nFormat - 1 : 0;
            Scan(pSplit ? pSplit + 1 : pData, nReply, strFormat.c_str());
            break;
        }
    }
    CheckGuards(b);
    return 0;
}
