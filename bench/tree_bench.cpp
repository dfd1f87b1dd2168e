// The cost of walking a folder of many subfolders through the headless
// layer, as the command line's copy and report and every tick recount do:
// a damaged volume can leave tens of thousands of folders side by side. A
// plain walk along a vector of as many handles is the reference in the same
// run; the per-folder cost should not grow with the number of folders.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/folder_tree.h"
#include "ui/headless/headless_window.h"

namespace {

void BM_VectorWalkReference(benchmark::State& state) {
  std::vector<tsn::NodeHandle> handles(static_cast<std::size_t>(state.range(0)));
  for (std::size_t i = 0; i < handles.size(); ++i) handles[i] = i + 1;
  for (auto _ : state) {
    std::uint64_t sum = 0;
    for (const tsn::NodeHandle h : handles) sum += h;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Every subfolder ticked, so the count walks all of them.
void BM_CountTickedFolders(benchmark::State& state) {
  tsn::AppState app;
  tsn::HeadlessWindow ui;
  app.ui = &ui;
  const tsn::NodeHandle root = ui.InsertNode(tsn::kNoNode, "Root", 0, 0, nullptr, false);
  for (std::int64_t i = 0; i < state.range(0); ++i) {
    const tsn::NodeHandle folder = ui.InsertNode(root, "Orphan " + std::to_string(i), 0, 0, nullptr, true);
    ui.SetNodeCheck(folder, tsn::kChecked);
  }
  for (auto _ : state) {
    std::uint64_t dirs = 0, files = 0, bytes = 0;
    tsn::CountCheckedBelow(&app, root, &dirs, &files, &bytes);
    benchmark::DoNotOptimize(dirs);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_VectorWalkReference)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_CountTickedFolders)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
