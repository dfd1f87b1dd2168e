// Whole scans through the command line on the media this program meets
// beside FAT32 and NTFS, each against its reference, in one run:
//
// - FAT16 and exFAT (2 GiB each): the quick scan against `cat image`, the
//   indexed scan against `fls -r -d`;
// - the 100,000-file NTFS image read raw, through a deflate-compressed E01
//   and through QCOW2: both scans of each, and `fls -r` on the E01 as the
//   peer figure.
//
// Images (any that is missing is skipped with the script that makes it):
//   TESSILON_FAT16_BENCH_IMAGE  /tmp/tessilon-bench-fat16-2g.img   bench/make_fat16_bench_image.sh
//   TESSILON_EXFAT_BENCH_IMAGE  /tmp/tessilon-bench-exfat-2g.img   bench/make_exfat_bench_image.sh
//   TESSILON_NTFS_BENCH_IMAGE   /tmp/tessilon-bench-ntfs-100k.img  bench/make_ntfs_bench_image.sh,
//   with .E01 and .qcow2 beside it from bench/make_container_bench_images.sh
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "run_command.h"

namespace {

std::string Env(const char* name, const char* fallback) {
  const char* p = std::getenv(name);
  return p != nullptr && *p != '\0' ? p : fallback;
}

std::string Cli() { return Env("TESSILON_CLI", TESSILON_CLI_PATH); }

std::string Stem(const std::string& path) {
  const auto dot = path.rfind('.');
  return dot == std::string::npos ? path : path.substr(0, dot);
}

struct Case {
  std::string name;
  std::string image;   // must exist for the case to run
  std::string maker;   // what makes it, for the skip message
  std::vector<std::string> argv;
};

void Measure(benchmark::State& state, const Case& c) {
  if (access(c.image.c_str(), R_OK) != 0) {
    state.SkipWithError(("no " + c.image + ": run " + c.maker).c_str());
    return;
  }
  // Warm the page cache, so that every command reads from memory and the
  // figures compare work, not the disk.
  tsn::bench::RunCommand({"cat", c.image});
  long peak = 0;
  for (auto _ : state) {
    const tsn::bench::CommandRun r = tsn::bench::RunCommand(c.argv);
    if (r.seconds < 0) {
      state.SkipWithError("the command failed");
      return;
    }
    state.SetIterationTime(r.seconds);
    peak = std::max(peak, r.peakKib);
  }
  state.counters["peak_KiB"] = static_cast<double>(peak);
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  const auto volume = [&](const std::string& label, const std::string& image, const std::string& maker) {
    cases.push_back({label + "QuickScan", image, maker, {Cli(), "scan", "--quick", image}});
    cases.push_back({label + "Cat", image, maker, {"cat", image}});
    cases.push_back({label + "IndexedScan", image, maker, {Cli(), "scan", "--indexed", image}});
    cases.push_back({label + "FlsRecursiveDeleted", image, maker, {"fls", "-r", "-d", image}});
  };
  volume("Fat16", Env("TESSILON_FAT16_BENCH_IMAGE", "/tmp/tessilon-bench-fat16-2g.img"),
         "bench/make_fat16_bench_image.sh");
  volume("ExFat", Env("TESSILON_EXFAT_BENCH_IMAGE", "/tmp/tessilon-bench-exfat-2g.img"),
         "bench/make_exfat_bench_image.sh");

  const std::string raw = Env("TESSILON_NTFS_BENCH_IMAGE", "/tmp/tessilon-bench-ntfs-100k.img");
  const std::string containers = "bench/make_container_bench_images.sh";
  const std::vector<std::pair<std::string, std::string>> forms = {
      {"Raw", raw}, {"E01", Stem(raw) + ".E01"}, {"Qcow2", Stem(raw) + ".qcow2"}};
  for (const auto& [label, image] : forms) {
    cases.push_back({"Ntfs" + label + "IndexedScan", image, containers, {Cli(), "scan", "--indexed", image}});
    cases.push_back({"Ntfs" + label + "QuickScan", image, containers, {Cli(), "scan", "--quick", image}});
  }
  cases.push_back({"NtfsE01FlsRecursive", Stem(raw) + ".E01", containers, {"fls", "-r", Stem(raw) + ".E01"}});
  cases.push_back({"NtfsRawFlsRecursive", raw, containers, {"fls", "-r", raw}});
  return cases;
}

}  // namespace

int main(int argc, char** argv) {
  for (const Case& c : Cases())
    benchmark::RegisterBenchmark(c.name.c_str(), [c](benchmark::State& s) { Measure(s, c); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}
