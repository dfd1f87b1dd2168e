// The Qt window's PumpOneMessage with nothing waiting, against a plain loop
// counter in the same run: long loops call it once per sector or record.
#include <benchmark/benchmark.h>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "ui/qt/qt_runtime.h"
#include "ui/qt/qt_window.h"

namespace {

void BM_EmptyLoopReference(benchmark::State& state) {
  std::uint64_t n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(++n);
}

void BM_QtPumpNothingWaiting(benchmark::State& state) {
  tsn::AppState app;
  tsn::QtWindow window;
  app.ui = &window;
  for (auto _ : state) {
    tsn::PumpOneMessage(&app);
    benchmark::DoNotOptimize(app.busy);
  }
}

BENCHMARK(BM_EmptyLoopReference);
BENCHMARK(BM_QtPumpNothingWaiting);

}  // namespace

int main(int argc, char** argv) {
  tsn::QtRuntime qt(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
