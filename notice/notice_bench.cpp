// Cost of BuildNotice by tail length, up to the longest Windows command line.
#include <benchmark/benchmark.h>

#include <string>

#include "notice/notice.h"

namespace {

// A tail shaped like real use: lines joined by escapes, one separator midway.
std::string MakeTail(std::size_t cb) {
    const std::string line = R"(Setup could not copy C:\\Temp\\a.dll\r\n)";
    std::string tail;
    while (tail.size() < cb) {
        tail += line;
    }
    tail.resize(cb);
    tail[cb / 2] = ',';
    return tail;
}

void BM_BuildNotice(benchmark::State& state) {
    const std::string tail = MakeTail(static_cast<std::size_t>(state.range(0)));
    NOTICE notice = {};
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the library's own loop
        BuildNotice(tail.c_str(), &notice);
        benchmark::DoNotOptimize(notice);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(state.range(0)));
    state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_BuildNotice)->RangeMultiplier(2)->Range(16, std::int64_t{32} * 1024)->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
