// Whole FAT32 scans through the command line against their references, in
// one run: the indexed scan against `fls -r -d`, the quick scan against
// `cat image > /dev/null`, with the peak memory of each. The image is
// TESSILON_FAT_BENCH_IMAGE, or /tmp/tessilon-bench-fat32-2g.img, made by
// bench/make_fat32_bench_image.sh (2 GiB, 20,000 files, half deleted).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "run_command.h"

namespace {

std::string Image() {
  if (const char* p = std::getenv("TESSILON_FAT_BENCH_IMAGE")) return p;
  return "/tmp/tessilon-bench-fat32-2g.img";
}

std::string Cli() {
  if (const char* p = std::getenv("TESSILON_CLI")) return p;
  return TESSILON_CLI_PATH;
}

// Wall seconds and the child's peak resident set in KiB.
std::pair<double, long> Run(const std::vector<std::string>& argv) {
  const tsn::bench::CommandRun r = tsn::bench::RunCommand(argv);
  return {r.seconds, r.peakKib};
}

void Measure(benchmark::State& state, const std::vector<std::string>& argv) {
  if (access(Image().c_str(), R_OK) != 0) {
    state.SkipWithError("no benchmark image: run bench/make_fat32_bench_image.sh");
    return;
  }
  Run({"cat", Image()});  // warm the page cache, so every command reads from memory
  long peak = 0;
  for (auto _ : state) {
    const auto [seconds, kib] = Run(argv);
    state.SetIterationTime(seconds);
    peak = std::max(peak, kib);
  }
  state.counters["peak_KiB"] = static_cast<double>(peak);
}

void BM_FatIndexedScan(benchmark::State& s) { Measure(s, {Cli(), "scan", "--indexed", Image()}); }
void BM_FlsRecursiveDeleted(benchmark::State& s) { Measure(s, {"fls", "-r", "-d", Image()}); }
void BM_FatQuickScan(benchmark::State& s) { Measure(s, {Cli(), "scan", "--quick", Image()}); }
void BM_CatImage(benchmark::State& s) { Measure(s, {"cat", Image()}); }

BENCHMARK(BM_FatIndexedScan)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_FlsRecursiveDeleted)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_FatQuickScan)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_CatImage)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
