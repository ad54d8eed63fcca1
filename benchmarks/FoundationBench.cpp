// What the foundation's everyday operations cost: string copy and append, range splitting, formatting.
#include <benchmark/benchmark.h>

#include "base/ClString.h"
#include "base/ClStringRange.h"
#include "base/Resources.h"

namespace {

void StringCopy(benchmark::State& state) {
    const ClString source("Standard Modem on COM2");
    for (auto _ : state) {
        ClString copy(source);
        benchmark::DoNotOptimize(copy.GetText());
    }
}
BENCHMARK(StringCopy);

void StringAppend(benchmark::State& state) {
    const ClString piece("0123456789abcdef");
    for (auto _ : state) {
        ClString text;
        for (int i = 0; i < state.range(0); ++i) {
            text.Append(piece);
        }
        benchmark::DoNotOptimize(text.GetText());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(StringAppend)->Arg(1)->Arg(16)->Arg(256);

void RangeSplitting(benchmark::State& state) {
    const ClString line("ringwarden.exe startserver \"Standard Modem\" /N:2 /T:modem isdn cable com1 com2");
    for (auto _ : state) {
        ClStringRange rest(line);
        ClStringRange token;
        int tokens = 0;
        while (rest.Split(&token, &rest, rest.Find(' '))) {
            ++tokens;
        }
        benchmark::DoNotOptimize(tokens);
    }
}
BENCHMARK(RangeSplitting);

void FormatDeviceLine(benchmark::State& state) {
    const ClString name(std::string(static_cast<size_t>(state.range(0)), 'm').c_str());
    for (auto _ : state) {
        ClString line = FormatResource(4, 2u, name.GetText());
        benchmark::DoNotOptimize(line.GetText());
    }
}
BENCHMARK(FormatDeviceLine)->Arg(8)->Arg(64)->Arg(600);

}  // namespace

BENCHMARK_MAIN();
