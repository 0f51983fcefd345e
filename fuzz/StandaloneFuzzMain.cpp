// Drives an LLVMFuzzerTestOneInput without libFuzzer: replays every seed file,
// then a bounded number of inputs made by mutating the seeds with a fixed-seed
// generator, so a run is repeatable and finishes in bounded time.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize);

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> LoadSeeds(const std::string& strDir) {
    std::vector<Bytes> vecSeeds;
    std::error_code ec;
    if (strDir.empty() || !std::filesystem::is_directory(strDir, ec)) {
        return vecSeeds;
    }
    std::vector<std::filesystem::path> vecPaths;
    for (const auto& entry : std::filesystem::directory_iterator(strDir, ec)) {
        if (entry.is_regular_file()) {
            vecPaths.push_back(entry.path());
        }
    }
    std::sort(vecPaths.begin(), vecPaths.end());
    for (const auto& path : vecPaths) {
        std::ifstream in(path, std::ios::binary);
        vecSeeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return vecSeeds;
}

Bytes Mutate(const Bytes& seed, std::mt19937& rng) {
    Bytes data = seed;
    std::uniform_int_distribution<int> pickOp(0, 5);
    std::uniform_int_distribution<int> pickByte(0, 255);
    const int nEdits = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < nEdits; ++i) {
        const std::size_t nPos = data.empty() ? 0 : rng() % (data.size() + 1);
        switch (pickOp(rng)) {
            case 0:  // flip a byte
                if (!data.empty())
                    data[nPos % data.size()] = static_cast<std::uint8_t>(pickByte(rng));
                break;
            case 1:  // insert a byte
                data.insert(data.begin() + static_cast<std::ptrdiff_t>(nPos),
                            static_cast<std::uint8_t>(pickByte(rng)));
                break;
            case 2:  // erase a run
                if (!data.empty()) {
                    const std::size_t nAt = nPos % data.size();
                    const std::size_t nLen =
                        std::min<std::size_t>(1 + rng() % 16, data.size() - nAt);
                    data.erase(data.begin() + static_cast<std::ptrdiff_t>(nAt),
                               data.begin() + static_cast<std::ptrdiff_t>(nAt + nLen));
                }
                break;
            case 3:  // duplicate a run
                if (!data.empty() && data.size() < 8192) {
                    const std::size_t nAt = nPos % data.size();
                    const std::size_t nLen =
                        std::min<std::size_t>(1 + rng() % 64, data.size() - nAt);
                    Bytes run(data.begin() + static_cast<std::ptrdiff_t>(nAt),
                              data.begin() + static_cast<std::ptrdiff_t>(nAt + nLen));
                    data.insert(data.begin() + static_cast<std::ptrdiff_t>(nPos), run.begin(),
                                run.end());
                }
                break;
            case 4: {  // insert an interesting character
                static const char kInteresting[] = "%,;:-![]*#\\\n\r\t 0123456789eE.+lhd";
                data.insert(
                    data.begin() + static_cast<std::ptrdiff_t>(nPos),
                    static_cast<std::uint8_t>(kInteresting[rng() % (sizeof(kInteresting) - 1)]));
                break;
            }
            default:  // truncate
                data.resize(nPos);
                break;
        }
    }
    return data;
}

}  // namespace

int main(int argc, char** argv) {
    long nRuns = 20000;
    std::string strSeeds;
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (strArg.rfind("--runs=", 0) == 0) {
            nRuns = std::strtol(strArg.c_str() + 7, nullptr, 10);
        } else if (strArg.rfind("--seeds=", 0) == 0) {
            strSeeds = strArg.substr(8);
        } else if (!strArg.empty() && strArg[0] != '-') {
            // A file argument replays one input, as libFuzzer does.
            std::ifstream in(strArg, std::ios::binary);
            Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(data.data(), data.size());
            return 0;
        }
    }
    if (const char* pEnv = std::getenv("TARVEK_FUZZ_RUNS")) {
        nRuns = std::strtol(pEnv, nullptr, 10);
    }
    std::vector<Bytes> vecSeeds = LoadSeeds(strSeeds);
    for (const Bytes& seed : vecSeeds) {
        LLVMFuzzerTestOneInput(seed.data(), seed.size());
    }
    if (vecSeeds.empty()) {
        vecSeeds.emplace_back();
    }
    std::mt19937 rng(12345);
    for (long n = 0; n < nRuns; ++n) {
        const Bytes data = Mutate(vecSeeds[static_cast<std::size_t>(n) % vecSeeds.size()], rng);
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    std::printf("fuzz: %zu seeds, %ld mutated inputs, no failure\n", vecSeeds.size() - 0, nRuns);
    return 0;
}
