#include "app/progress.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "app/app_state.h"
#include "app/folder_tree.h"

namespace tsn {

namespace {
constexpr std::uint64_t kTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kEpochDelta = 11'644'473'600ULL;
}  // namespace

std::uint64_t LocalTimeNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  const std::int64_t seconds = static_cast<std::int64_t>(ts.tv_sec) + local.tm_gmtoff;
  return (static_cast<std::uint64_t>(seconds) + kEpochDelta) * kTicksPerSecond +
         static_cast<std::uint64_t>(ts.tv_nsec) / 100;
}

std::string FormatThousands(std::uint64_t value) {
  const std::string digits = std::to_string(value);
  if (digits.size() <= 3) return digits;
  std::size_t first = digits.size() % 3;
  if (first == 0) first = 3;
  std::string out = digits.substr(0, first);
  for (std::size_t i = first; i < digits.size(); i += 3) {
    out += ',';
    out += digits.substr(i, 3);
  }
  return out;
}

void StartProgress(AppState* app, ProgressClock* clock, ControlId bar, ControlId blockControl,
                   ControlId clockControl) {
  (void)bar;  // the window layer has one progress bar
  clock->startTime = LocalTimeNow();
  clock->blocksDone = 0;
  app->ui->SetText(blockControl, "0");
  app->ui->SetText(clockControl, "00:00:00");
  clock->phase = 2;
  app->StartSteps(clock->blocksTotal, {255, 0, 0});
}

void UpdateProgressClock(AppState* app, ProgressClock* clock) {
  UpdateProgressClockAt(app, clock, LocalTimeNow());
}

void UpdateProgressClockAt(AppState* app, ProgressClock* clock, std::uint64_t now) {
  WindowSystem& ui = *app->ui;
  if (clock->phase == 1) {
    ui.SetText(app->sizeText, "0");
    ui.SetText(app->clockText, "00:00:00");
    return;
  }
  const std::uint64_t elapsed = now - clock->startTime;
  if (elapsed == 0 || clock->blocksDone == 0) return;
  const std::uint64_t perBlock = elapsed / clock->blocksDone;
  const std::uint64_t left =
      clock->blocksTotal > clock->blocksDone ? clock->blocksTotal - clock->blocksDone : 0;
  const std::uint64_t remaining = left * perBlock;
  // Shown as a time of day: a day or more shows only its part past whole days.
  const std::uint64_t secondsInDay = (remaining / kTicksPerSecond) % 86400;
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(secondsInDay / 3600),
                static_cast<int>(secondsInDay / 60 % 60), static_cast<int>(secondsInDay % 60));
  ui.SetText(app->sizeText, "BLOCK: " + FormatThousands(clock->blocksDone));
  ui.SetText(app->clockText, text);
}

void ShowCounters(AppState* app, std::uint64_t dirs, std::uint64_t files, std::uint64_t bytes) {
  char text[64];
  std::snprintf(text, sizeof text, "DIRS: %" PRIu64, dirs);
  app->ui->SetText(app->dirsText, text);
  std::snprintf(text, sizeof text, "FILES: %" PRIu64, files);
  app->ui->SetText(app->filesText, text);
  std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(bytes) / (1ULL << 30));
  app->ui->SetText(app->sizeText, text);
}

void ShowScanCounters(AppState* app, const LOGDRIVE_INFO* drive) {
  ShowCounters(app, drive->foundDirs, drive->foundFiles, drive->foundBytes);
}

void ResetScanView(AppState* app, LOGDRIVE_INFO* drive) {
  if (drive != nullptr) drive->foundBytes = drive->foundFiles = drive->foundDirs = 0;
  app->heldCounters.held = false;  // the strip is set to nothing found
  WindowSystem& ui = *app->ui;
  ui.DeleteAllRows(app->fileList);
  ui.DeleteAllNodes();
  ReleaseScanRecords(app);
  ui.SetText(app->sizeText, "0");
  ui.SetText(app->clockText, "00:00:00");
  ui.SetText(app->filesText, "0");
  ui.SetText(app->dirsText, "0");
}

}  // namespace tsn
