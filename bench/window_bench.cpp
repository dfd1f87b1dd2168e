// How alive the Qt window stays: the time to show 50,000 found files in the
// file list (the click on a folder, which does not pump), against the same
// through the headless layer; and, during whole scans of a FAT32 image in a
// shown window, the longest time the event loop went without running and
// how soon Exit ends the scan. The image is TESSILON_FAT_BENCH_IMAGE, or
// /tmp/tessilon-bench-fat32-2g.img, made by bench/make_fat32_bench_image.sh.
// The same for both scans of a million-file NTFS volume, with what the
// window holds per found entry: TESSILON_NTFS_1M_BENCH_IMAGE, or
// /tmp/tessilon-bench-ntfs-1m.img (bench/make_ntfs_bench_image.sh --files
// 1000000 --folder 500 --deleted 50 --size 16G).
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QToolButton>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <string>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "core/entry_records.h"
#include "app/file_list.h"
#include "app/folder_tree.h"
#include "ui/control_ids.h"
#include "ui/headless/headless_window.h"
#include "ui/qt/qt_window.h"
#include "app/drive_mapping.h"

namespace {

std::string Image() {
  if (const char* p = std::getenv("TESSILON_FAT_BENCH_IMAGE")) return p;
  return "/tmp/tessilon-bench-fat32-2g.img";
}

std::string MillionImage() {
  if (const char* p = std::getenv("TESSILON_NTFS_1M_BENCH_IMAGE")) return p;
  return "/tmp/tessilon-bench-ntfs-1m.img";
}

// The processor time this thread has used, in nanoseconds. On a busy
// machine a gap in wall time may be only waiting for a processor; the work
// done between two runs of the event loop is this clock's gap.
qint64 ThreadCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<qint64>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The process's resident bytes now.
double ResidentBytes() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// The program on a window layer, as it starts.
template <class Window>
struct Program {
  tsn::AppState app;
  Window window;
  Program() {
    app.ui = &window;
    window.SetDialogProc([this](const tsn::Message& m) { return tsn::MainDialogProc(&app, m); });
    tsn::MainDialogProc(&app, tsn::Message{tsn::MessageKind::InitDialog});
  }
};

// A root folder holding n deleted files, as a quick scan leaves it.
template <class Window>
tsn::NodeHandle FillRoot(Program<Window>& p, tsn::LOGDRIVE_INFO& drive, int n) {
  const tsn::NodeHandle root = tsn::CreateRootFolder(&p.app, &drive);
  tsn::MftFileInfo* folder = tsn::FolderRecordOf(p.app, root);
  for (int i = 0; i < n; ++i) {
    tsn::FoundFile* f = p.app.Records().NewFile();
    p.app.Records().KeepName(f, "file number " + std::to_string(i) + " of the folder.bin");
    f->size = static_cast<std::uint64_t>(i) * 977;
    f->fatDate = 0x5B86;
    f->fatTime = 0x9C20;
    tsn::AppendToFolder(folder, f);
  }
  return root;
}

void BM_ShowFolderFilesQt(benchmark::State& state) {
  Program<tsn::QtWindow> p;
  p.window.show();
  QCoreApplication::processEvents();
  tsn::LOGDRIVE_INFO drive;
  const tsn::NodeHandle root = FillRoot(p, drive, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    tsn::ShowFolderFiles(&p.app, root);
    // The rows on the screen: what the user waits for.
    p.window.ListView(tsn::kFileList)->viewport()->repaint();
    benchmark::DoNotOptimize(p.window.RowCount(tsn::kFileList));
  }
  state.counters["rows"] = static_cast<double>(p.window.RowCount(tsn::kFileList));
  state.counters["us_per_row"] = benchmark::Counter(
      static_cast<double>(state.range(0)) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}

void BM_ShowFolderFilesHeadless(benchmark::State& state) {
  Program<tsn::HeadlessWindow> p;
  tsn::LOGDRIVE_INFO drive;
  const tsn::NodeHandle root = FillRoot(p, drive, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    tsn::ShowFolderFiles(&p.app, root);
    benchmark::DoNotOptimize(p.window.RowCount(tsn::kFileList));
  }
}

// Runs a scan of the bench image in a shown window while a zero-interval
// timer notes every run of the event loop. With exitAfterMs, Exit is pressed
// that long into the scan, and the time from the press to the scan's end is
// reported as well.
void MeasureScan(benchmark::State& state, bool quick, int exitAfterMs, const std::string& image = Image()) {
  if (access(image.c_str(), R_OK) != 0) {
    state.SkipWithError(("no benchmark image " + image + ": see the head of bench/window_bench.cpp").c_str());
    return;
  }
  double worstGap = 0, worstGapEnd = 0, worstExit = 0, loopRuns = 0, scanMs = 0, entries = 0, grown = 0;
  double worstCpuGap = 0;
  for (auto _ : state) {
    const double residentBefore = ResidentBytes();
    Program<tsn::QtWindow> p;
    p.app.sources.files = {image};
    p.app.sources.scanDevices = false;
    p.window.show();
    QCoreApplication::processEvents();
    tsn::BuildDriveList(&p.app);
    p.window.SetRowSelected(tsn::kDriveList, 0, true);
    tsn::SelectCurrentDrive(&p.app);

    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, gap = 0, gapEnd = 0, pressedAt = -1;
    qint64 lastCpu = ThreadCpuNs(), cpuGap = 0;
    std::uint64_t runs = 0;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] {
      const qint64 now = clock.nsecsElapsed();
      if (now - last > gap) {
        gap = now - last;
        gapEnd = now;
      }
      last = now;
      const qint64 cpu = ThreadCpuNs();
      cpuGap = std::max(cpuGap, cpu - lastCpu);
      lastCpu = cpu;
      ++runs;
    });
    beat.start(0);
    if (exitAfterMs > 0)
      QTimer::singleShot(exitAfterMs, &p.window, [&] {
        pressedAt = clock.nsecsElapsed();
        p.window.ToolButtons()[7]->click();
      });
    const auto started = clock.nsecsElapsed();
    if (quick) tsn::BuildFileListOnly(&p.app);
    else tsn::BuildIndexedFileList(&p.app);
    const qint64 ended = clock.nsecsElapsed();
    beat.stop();
    cpuGap = std::max(cpuGap, ThreadCpuNs() - lastCpu);
    worstCpuGap = std::max(worstCpuGap, static_cast<double>(cpuGap) * 1e-6);
    if (ended - last > gap) {
      gap = ended - last;
      gapEnd = ended;
    }
    state.SetIterationTime(static_cast<double>(ended - started) * 1e-9);
    if (static_cast<double>(gap) * 1e-6 > worstGap) {
      worstGap = static_cast<double>(gap) * 1e-6;
      // Where in the scan it ended, as a share of the scan's time.
      worstGapEnd = static_cast<double>(gapEnd - started) / static_cast<double>(ended - started);
    }
    scanMs = static_cast<double>(ended - started) * 1e-6;
    if (p.app.currentDrive != nullptr)
      entries = static_cast<double>(p.app.currentDrive->foundDirs + p.app.currentDrive->foundFiles);
    grown = ResidentBytes() - residentBefore;
    loopRuns += static_cast<double>(runs);
    if (pressedAt >= 0) worstExit = std::max(worstExit, static_cast<double>(ended - pressedAt) * 1e-6);
  }
  state.counters["max_loop_gap_ms"] = worstGap;
  state.counters["max_gap_ended_at"] = worstGapEnd;  // 1: at the scan's very end
  state.counters["max_loop_gap_cpu_ms"] = worstCpuGap;
  state.counters["scan_ms"] = scanMs;
  state.counters["loop_runs"] = loopRuns / static_cast<double>(state.iterations());
  if (exitAfterMs > 0) state.counters["exit_to_end_ms"] = worstExit;
  state.counters["entries"] = entries;
  // What the scan's records and the window's rows and nodes hold, per entry.
  state.counters["bytes_per_entry"] = entries > 0 ? grown / entries : 0;
}

void BM_QuickScanLoopGaps(benchmark::State& s) { MeasureScan(s, true, 0); }
void BM_IndexedScanLoopGaps(benchmark::State& s) { MeasureScan(s, false, 0); }
void BM_QuickScanExitLatency(benchmark::State& s) { MeasureScan(s, true, 500); }
void BM_MillionQuickScanLoopGaps(benchmark::State& s) { MeasureScan(s, true, 0, MillionImage()); }
void BM_MillionIndexedScanLoopGaps(benchmark::State& s) { MeasureScan(s, false, 0, MillionImage()); }

BENCHMARK(BM_ShowFolderFilesQt)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ShowFolderFilesHeadless)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_QuickScanLoopGaps)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_IndexedScanLoopGaps)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_QuickScanExitLatency)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_MillionQuickScanLoopGaps)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_MillionIndexedScanLoopGaps)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qt(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
