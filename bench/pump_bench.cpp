// The cost of PumpOneMessage when nothing waits: long loops call it once per
// sector or record, millions of times a scan. A plain loop counter is the
// reference in the same run.
#include <benchmark/benchmark.h>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "ui/headless/headless_window.h"

namespace {

void BM_EmptyLoopReference(benchmark::State& state) {
  std::uint64_t n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(++n);
}

void BM_HeadlessPumpNothingWaiting(benchmark::State& state) {
  tsn::AppState app;
  tsn::HeadlessWindow ui;
  app.ui = &ui;
  for (auto _ : state) {
    tsn::PumpOneMessage(&app);
    benchmark::DoNotOptimize(app.busy);
  }
}

BENCHMARK(BM_EmptyLoopReference);
BENCHMARK(BM_HeadlessPumpNothingWaiting);

}  // namespace

BENCHMARK_MAIN();
