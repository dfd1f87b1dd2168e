// "Copy files" against the plainest copy of the same bytes, in one run: the
// command line copies a deleted 1 GiB file out of an NTFS image, and dd
// reads the very byte ranges of the image that hold its clusters into a
// file in the same destination folder. The image is TESSILON_COPY_BENCH_IMAGE,
// or /tmp/tessilon-bench-copy.img, made by bench/make_copy_bench_image.sh
// (which also writes IMAGE.ranges); the copies go to
// TESSILON_COPY_BENCH_OUT, or /tmp/tessilon-copy-bench-out. Both read from
// the page cache and start with no dirty pages; the ratio counter is the
// copy's time over dd's, measured in the same iteration.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "run_command.h"

namespace {

std::string Env(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : fallback;
}
std::string Image() { return Env("TESSILON_COPY_BENCH_IMAGE", "/tmp/tessilon-bench-copy.img"); }
std::string Out() { return Env("TESSILON_COPY_BENCH_OUT", "/tmp/tessilon-copy-bench-out"); }
std::string Cli() { return Env("TESSILON_CLI", TESSILON_CLI_PATH); }

// Wall seconds, or -1 when it failed.
double Run(const std::vector<std::string>& argv) { return tsn::bench::RunCommand(argv).seconds; }

// dd of every range of the file's clusters, appended in order to one file.
std::string DdCommand(const std::string& target) {
  std::ifstream in(Image() + ".ranges");
  std::string command = ": > '" + target + "'";
  for (std::uint64_t offset = 0, length = 0; in >> offset >> length;)
    command += " && dd if='" + Image() + "' bs=1M iflag=skip_bytes,count_bytes skip=" + std::to_string(offset) +
               " count=" + std::to_string(length) + " status=none >> '" + target + "'";
  return command;
}

void Fresh() {
  std::filesystem::remove_all(Out());
  std::filesystem::create_directories(Out());
  sync();
}

void BM_CopyDeletedGibAgainstDd(benchmark::State& state) {
  if (access(Image().c_str(), R_OK) != 0 || access((Image() + ".ranges").c_str(), R_OK) != 0) {
    state.SkipWithError("no benchmark image: run bench/make_copy_bench_image.sh");
    return;
  }
  Run({"cat", Image()});  // warm the page cache, so both read from memory
  const std::string dd = DdCommand(Out() + "/dd.bin");
  // One untimed round of each: the first writes of a run pay for growing
  // the destination's page cache.
  Fresh();
  Run({"sh", "-c", dd});
  Fresh();
  Run({Cli(), "copy", Image(), "--to", Out()});
  double copyTotal = 0, ddTotal = 0;
  for (auto _ : state) {
    Fresh();
    const double ddSeconds = Run({"sh", "-c", dd});
    Fresh();
    const double copySeconds = Run({Cli(), "copy", Image(), "--to", Out()});
    if (ddSeconds < 0 || copySeconds < 0) {
      state.SkipWithError("dd or the copy failed");
      return;
    }
    state.SetIterationTime(copySeconds);
    copyTotal += copySeconds;
    ddTotal += ddSeconds;
  }
  state.counters["dd_ms"] = benchmark::Counter(ddTotal * 1000, benchmark::Counter::kAvgIterations);
  state.counters["copy_over_dd"] = ddTotal > 0 ? copyTotal / ddTotal : 0;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (std::int64_t{1} << 30));
  Fresh();
}

BENCHMARK(BM_CopyDeletedGibAgainstDd)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

}  // namespace

BENCHMARK_MAIN();
