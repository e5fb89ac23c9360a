// bench/bitvector_bench.cpp - the word loops of bit vectors, the hot path of
// every data-flow iteration: union with change flag, copy-compare, and3,
// diff3 and intersect over sizes typical of statement and expression sets.
#include <benchmark/benchmark.h>

#include <random>

#include "ir/bitvector.h"

namespace {

using zor::bitvector;

bitvector random_vector(uint32_t n, unsigned seed) {
  std::mt19937 rng(seed);
  bitvector v(n);
  for (uint32_t i = 0; i < n; ++i)
    if (rng() % 3 == 0)
      v.add(i);
  return v;
}

void BM_Union(benchmark::State &state) {
  const auto n = static_cast<uint32_t>(state.range(0));
  bitvector a = random_vector(n, 1), b = random_vector(n, 2);
  for (auto _ : state) {
    bool changed = a.union_(&b);
    benchmark::DoNotOptimize(changed);
    a.and3(a, b);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 2 * ((n + 31) / 32) * 4);
}

void BM_CmpCpy(benchmark::State &state) {
  const auto n = static_cast<uint32_t>(state.range(0));
  bitvector a = random_vector(n, 1), b = random_vector(n, 2);
  for (auto _ : state) {
    benchmark::DoNotOptimize(a.cmp_cpy(b));
    a.remove(n / 2);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * ((n + 31) / 32) * 4);
}

void BM_And3Diff3(benchmark::State &state) {
  const auto n = static_cast<uint32_t>(state.range(0));
  bitvector a = random_vector(n, 1), b = random_vector(n, 2), t(n);
  for (auto _ : state) {
    t.and3(a, b);
    t.diff3(a, t);
    benchmark::DoNotOptimize(t.words);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 2 * ((n + 31) / 32) * 4);
}

void BM_Intersect(benchmark::State &state) {
  const auto n = static_cast<uint32_t>(state.range(0));
  bitvector a = random_vector(n, 1), b = random_vector(n - 7, 2);
  for (auto _ : state) {
    a.intersect(b);
    a.merge(&b);
    benchmark::DoNotOptimize(a.words);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 2 * ((n + 31) / 32) * 4);
}

BENCHMARK(BM_Union)->Arg(64)->Arg(1000)->Arg(20000);
BENCHMARK(BM_CmpCpy)->Arg(64)->Arg(1000)->Arg(20000);
BENCHMARK(BM_And3Diff3)->Arg(64)->Arg(1000)->Arg(20000);
BENCHMARK(BM_Intersect)->Arg(64)->Arg(1000)->Arg(20000);

} // namespace

BENCHMARK_MAIN();
