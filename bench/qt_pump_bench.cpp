// What long loops ask of the Qt window once per sector, record or cluster:
// PumpOneMessage with nothing waiting, against a plain loop counter in the
// same run, and a counter label's text, against the headless window's.
#include <benchmark/benchmark.h>

#include <charconv>
#include <string_view>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "ui/qt/qt_runtime.h"
#include "ui/qt/qt_window.h"
#include "ui/control_ids.h"
#include "ui/headless/headless_window.h"

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

// "CLUSTER: n" for every cluster, as the quick scan of a FAT32 volume sets
// it, with the pump beside it as in the scan.
template <class Window>
void SetClusterText(benchmark::State& state) {
  tsn::AppState app;
  Window window;
  app.ui = &window;
  char text[32] = "CLUSTER: ";
  std::uint32_t cluster = 2;
  for (auto _ : state) {
    const auto end = std::to_chars(text + 9, text + sizeof text, cluster++);
    window.SetText(tsn::kDirsText, std::string_view(text, static_cast<std::size_t>(end.ptr - text)));
    tsn::PumpOneMessage(&app);
  }
}

void BM_HeadlessClusterText(benchmark::State& state) { SetClusterText<tsn::HeadlessWindow>(state); }
void BM_QtClusterText(benchmark::State& state) { SetClusterText<tsn::QtWindow>(state); }

BENCHMARK(BM_EmptyLoopReference);
BENCHMARK(BM_QtPumpNothingWaiting);
BENCHMARK(BM_HeadlessClusterText);
BENCHMARK(BM_QtClusterText);

}  // namespace

int main(int argc, char** argv) {
  tsn::QtRuntime qt(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
