// Sector-at-a-time reads through the read-ahead window against `cat` of the
// same image, in the same run. Set TESSILON_BENCH_IMAGE to use an image of
// your own; otherwise a 1 GiB image of random bytes is made in /tmp.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "source/read_sectors.h"
#include "source/volume_source.h"

namespace {

const std::string& BenchImage() {
  static const std::string path = [] {
    if (const char* p = std::getenv("TESSILON_BENCH_IMAGE")) return std::string(p);
    const std::string made = "/tmp/tessilon-bench-1g.img";
    if (::access(made.c_str(), R_OK) != 0) {
      const int fd = ::open(made.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
      std::vector<char> chunk(1 << 20);
      std::mt19937_64 rng(7);
      for (int i = 0; i < 1024; ++i) {
        for (auto& c : chunk) c = static_cast<char>(rng());
        if (::write(fd, chunk.data(), chunk.size()) < 0) break;
      }
      ::close(fd);
    }
    return made;
  }();
  return path;
}

void BM_CatImage(benchmark::State& state) {
  const std::string command = "cat '" + BenchImage() + "' > /dev/null";
  for (auto _ : state) benchmark::DoNotOptimize(std::system(command.c_str()));
}

void BM_ReadSectorsOneAtATime(benchmark::State& state) {
  std::vector<std::uint8_t> sector(512);
  for (auto _ : state) {
    auto opened = tsn::VolumeSource::Open(BenchImage());
    const std::uint64_t sectors = opened.source->Size() / 512;
    for (std::uint64_t lba = 0; lba < sectors; ++lba)
      tsn::ReadSectors(nullptr, opened.source.get(), lba, sector);
    benchmark::DoNotOptimize(sector.data());
    state.SetBytesProcessed(state.bytes_processed() + static_cast<std::int64_t>(sectors * 512));
  }
}

void BM_PreadOneSectorAtATime(benchmark::State& state) {
  // What sector-at-a-time callers would cost without the window.
  std::vector<std::uint8_t> sector(512);
  for (auto _ : state) {
    const int fd = ::open(BenchImage().c_str(), O_RDONLY);
    const off_t size = ::lseek(fd, 0, SEEK_END);
    for (off_t off = 0; off < size; off += 512) benchmark::DoNotOptimize(::pread(fd, sector.data(), 512, off));
    ::close(fd);
    state.SetBytesProcessed(state.bytes_processed() + size);
  }
}

BENCHMARK(BM_CatImage)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ReadSectorsOneAtATime)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_PreadOneSectorAtATime)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
