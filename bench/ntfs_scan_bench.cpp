// Whole NTFS scans through the command line against their references, in
// one run: the indexed scan against `fls -r`, the quick scan against
// `cat image > /dev/null`, with the peak memory of each. The image is
// TESSILON_NTFS_BENCH_IMAGE, or /tmp/tessilon-bench-ntfs-100k.img, made by
// bench/make_ntfs_bench_image.sh (1 GiB, 100,000 files, a tenth deleted).
// Also the parent lookup the MFT passes make for every entry, through the
// folder index and by walking the tree, on a tree of 10,000 folders. And
// building the allocation bitmap of a 2 TiB volume of 4 KiB clusters (64 MiB
// of bitmap, made on every drive list and scan) against copying its bytes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "run_command.h"

#include "app/app_state.h"
#include "fs/ntfs/volume_bitmap.h"
#include "app/folder_tree.h"
#include "ui/headless/headless_window.h"

namespace {

std::string Image() {
  if (const char* p = std::getenv("TESSILON_NTFS_BENCH_IMAGE")) return p;
  return "/tmp/tessilon-bench-ntfs-100k.img";
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
    state.SkipWithError("no benchmark image: run bench/make_ntfs_bench_image.sh");
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

void BM_NtfsIndexedScan(benchmark::State& s) { Measure(s, {Cli(), "scan", "--indexed", Image()}); }
void BM_FlsRecursive(benchmark::State& s) { Measure(s, {"fls", "-r", Image()}); }
void BM_NtfsQuickScan(benchmark::State& s) { Measure(s, {Cli(), "scan", "--quick", Image()}); }
void BM_CatImage(benchmark::State& s) { Measure(s, {"cat", Image()}); }

BENCHMARK(BM_NtfsIndexedScan)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_FlsRecursive)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_NtfsQuickScan)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_CatImage)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(true);

// A tree of 10,000 folders, up to eight deep, as a large volume gives.
struct Tree {
  tsn::AppState app;
  tsn::HeadlessWindow ui;
  tsn::LOGDRIVE_INFO drive;
  tsn::NodeHandle root;
  Tree() {
    app.ui = &ui;
    root = tsn::CreateRootFolder(&app, &drive);
    std::vector<tsn::NodeHandle> nodes{root};
    std::mt19937 rng(5);
    for (std::uint64_t i = 0; i < 10000; ++i) {
      tsn::MftFileInfo* f = app.Records().NewInfo();
      f->SetName("folder " + std::to_string(i));
      f->recordNumber = 100 + i;
      nodes.push_back(tsn::InsertFolderNode(&app, f, nodes[rng() % nodes.size()], tsn::InsertPosition::Last));
    }
  }
};

template <tsn::NodeHandle (*Find)(tsn::AppState*, tsn::NodeHandle, std::uint64_t)>
void BM_FindFolderByRecord(benchmark::State& state) {
  static Tree tree;
  std::uint64_t key = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Find(&tree.app, tree.root, 100 + key));
    key = (key + 7919) % 10000;
  }
}
BENCHMARK(BM_FindFolderByRecord<tsn::FindFolderByRecord>)->Name("BM_FindFolderByRecord/index");
BENCHMARK(BM_FindFolderByRecord<tsn::FindFolderByRecordWalk>)->Name("BM_FindFolderByRecord/walk");

constexpr std::size_t kBitmapBytes = std::size_t{64} << 20;

const std::vector<std::uint8_t>& BitmapBytes() {
  static const std::vector<std::uint8_t> bytes = [] {
    std::vector<std::uint8_t> b(kBitmapBytes);
    std::mt19937 rng(3);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
  }();
  return bytes;
}

void BM_VolumeBitmap2TiB(benchmark::State& state) {
  const auto& bytes = BitmapBytes();
  for (auto _ : state) {
    const tsn::ntfs::VolumeBitmap bitmap(bytes, std::uint64_t{kBitmapBytes} * 8);
    benchmark::DoNotOptimize(bitmap.AllocatedIn(0, bitmap.Clusters()));
  }
}
BENCHMARK(BM_VolumeBitmap2TiB)->Unit(benchmark::kMillisecond);

void BM_CopyBitmapBytesReference(benchmark::State& state) {
  const auto& bytes = BitmapBytes();
  for (auto _ : state) {
    std::vector<std::uint8_t> copy(bytes.size());
    std::memcpy(copy.data(), bytes.data(), bytes.size());
    benchmark::DoNotOptimize(copy.data());
  }
}
BENCHMARK(BM_CopyBitmapBytesReference)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
