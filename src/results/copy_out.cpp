#include "core/engine_host.h"
#include "fs/logdrive_info.h"
#include "results/copy_out.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>

#include "fs/fat/fat_file_content.h"
#include "fs/fat/fat_table.h"
#include "fs/ntfs/mft_descriptor.h"
#include "fs/ntfs/ntfs_file_content.h"
#include "fs/ntfs/volume_bitmap.h"
#include "results/copy_destination.h"
#include "source/read_sectors.h"

namespace tsn {

namespace {

constexpr std::size_t kChunkBytes = 1024 * 1024;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now, once; what close() returns.
  int Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd >= 0 ? ::close(fd) : 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The FAT stamp is the local time of the machine that wrote it.
timespec FatStampToTime(std::uint16_t date, std::uint16_t time) {
  std::tm tm{};
  tm.tm_year = (date >> 9) + 80;
  tm.tm_mon = ((date >> 5) & 0x0F) - 1;
  tm.tm_mday = date & 0x1F;
  tm.tm_hour = time >> 11;
  tm.tm_min = (time >> 5) & 0x3F;
  tm.tm_sec = (time & 0x1F) * 2;
  tm.tm_isdst = -1;
  return {std::mktime(&tm), 0};
}

// NTFS keeps UTC file times; 0 means the time is not known, and is left alone.
timespec FileTimeToTime(std::uint64_t fileTime) {
  constexpr std::uint64_t kTicksPerSecond = 10000000;
  constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
  if (fileTime == 0) return {0, UTIME_OMIT};
  return {static_cast<time_t>(static_cast<std::int64_t>(fileTime / kTicksPerSecond) - kSecondsFrom1601To1970),
          static_cast<long>(fileTime % kTicksPerSecond * 100)};
}

// False, with errno EFBIG, for a size no file offset can hold.
bool FitsOffset(std::uint64_t bytes) {
  if (bytes <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return true;
  errno = EFBIG;
  return false;
}

// Zeros of a sparse stream become a hole in the copy: no bytes written,
// no space taken where the destination can keep holes.
bool SkipHole(int fd, std::uint64_t bytes) {
  return FitsOffset(bytes) && ::lseek(fd, static_cast<off_t>(bytes), SEEK_CUR) >= 0;
}

void AppendReason(std::string* why, const std::string& reason) {
  if (!why->empty()) *why += "; ";
  *why += reason;
}

struct Copier {
  Copier(EngineHost* a, LOGDRIVE_INFO* d) : app(a), drive(d) {}
  EngineHost* app;
  LOGDRIVE_INFO* drive;
  std::vector<std::uint8_t> chunk;
  // NTFS: the $MFT's map, and which clusters are in use now (when known).
  std::unique_ptr<MftFileInfo> mft;
  ntfs::VolumeBitmap bitmap;
  bool haveBitmap = false;
  // Set when what was written of a file is no copy at all: its writing
  // failed, the user interrupted it, or none of it could be read. A file
  // whose content is all written, zeros standing in for what could not be
  // read, is kept under its name and counted as not copied in full.
  bool failed = false;

  // Grown to what the files need, up to kChunkBytes: most files are small,
  // and clearing a megabyte for each copy would cost more than they do.
  std::span<std::uint8_t> Chunk(std::uint64_t wanted) {
    const std::uint64_t sectors = (std::min<std::uint64_t>(wanted, kChunkBytes) + kSectorSize - 1) / kSectorSize;
    const std::size_t n = static_cast<std::size_t>(std::max<std::uint64_t>(sectors, 1) * kSectorSize);
    if (chunk.size() < n) chunk.resize(n);
    return chunk;
  }

  // Gathers an NTFS file's stream before anything is created for it; false
  // (with the reason) when there is nothing sound to copy.
  bool PlanNtfsFile(const FoundFile& file, ntfs::FileStream* stream, std::string* why) {
    if (!ntfs::ReadFileStream(app, *drive, *mft, file.recordNumber, file.size, stream, why)) return false;
    if (!(file.flags & kFlagInUse) && stream->inUse) {
      *why = "its MFT record " + std::to_string(file.recordNumber) + " now belongs to a file in use";
      return false;
    }
    if (stream->encrypted) {
      *why = "it is encrypted, and its content cannot be recovered without its owner's key";
      return false;
    }
    return true;
  }

  // Writes the stream to fd, sparse parts as holes; false (with a reason)
  // when it could not be copied in full. Notes that do not make the copy
  // incomplete go to *why as well. Each stretch of the file that could not
  // be read is written as zeros and logged by its bytes in the file, with
  // the file's path below the destination (`shown`).
  bool CopyNtfsContent(const ntfs::FileStream& stream, int fd, const std::string& shown, std::string* why) {
    bool interrupted = false;
    std::string failure;
    const ntfs::StreamSink sink = [&](Bytes data, std::uint64_t zeros) {
      if (!data.empty()) {
        if (!WriteAll(fd, data.data(), data.size())) {
          failure = std::string("writing the copy failed: ") + std::strerror(errno);
          return false;
        }
      } else if (!SkipHole(fd, zeros)) {
        failure = std::string("writing the copy failed: ") + std::strerror(errno);
        return false;
      }
      app->PumpOneMessage();
      if (!app->Busy()) {
        interrupted = true;
        return false;
      }
      return true;
    };
    // A compressed stream is read a compression unit at a time.
    const std::uint64_t wanted = stream.compressionUnitClusters != 0
                                     ? std::uint64_t{stream.compressionUnitClusters} * drive->ClusterBytes()
                                     : stream.dataSize;
    const ntfs::StreamRead read = ntfs::ReadStreamContent(app, *drive, stream, Chunk(wanted), sink);
    for (const UnreadableRange& r : read.unreadable)
      LogMessage(app, kError, "%s of %s could not be read (%s).", RangeText(r.first, r.last).c_str(),
                 shown.c_str(), ReadErrorText(r.error).c_str());
    for (const std::string& n : read.notes) AppendReason(why, n);
    for (const std::string& n : stream.notes) AppendReason(why, n);
    if (!stream.inUse && haveBitmap) {
      const ntfs::ClustersInUse used = ntfs::StreamClustersInUse(stream, bitmap);
      if (used.inUse > 0)
        AppendReason(why, std::to_string(used.inUse) + " of its " + std::to_string(used.owned) +
                              " clusters are now in use by other files; its content is likely overwritten");
      if (used.unknown > 0)
        AppendReason(why, "whether " + std::to_string(used.unknown) + " of its " + std::to_string(used.owned) +
                              " clusters are now in use is not known, as $Bitmap could not be read there");
    }
    if (read.stopped) {
      *why = interrupted ? "copying was interrupted" : failure;
      failed = true;
      return false;
    }
    // A hole at the end is only a size: the file must be made that long.
    if (!FitsOffset(stream.dataSize) || ::ftruncate(fd, static_cast<off_t>(stream.dataSize)) != 0) {
      *why = std::string("writing the copy failed: ") + std::strerror(errno);
      failed = true;
      return false;
    }
    return read.whole;
  }

  // Copies one file into its folder under the destination. It is written
  // under a ".partial-" name and takes its own name only once complete; what
  // could not be copied in full is logged and counted.
  void CopyOne(const CopyItem& item, CopyDestination& destination, CopyTotals* totals) {
    const FoundFile& file = *item.file;
    const bool ntfs = drive->Kind() == 'N';
    SaveableName name = SaveableNameOf(file.name);
    if (file.firstCharLost && !name.name.empty()) {
      // The list shows a stand-in letter; the copy is not to pass it off as
      // the file's own, so it gets the "_" that The Sleuth Kit shows there.
      name.name[0] = '_';
      name.why += (name.why.empty() ? "" : "; ") + std::string("is a deleted 8.3 name whose first character is lost");
    }
    // An NTFS file is read before anything is made for it: one that cannot
    // be recovered (encrypted, or its record gone) leaves no empty or
    // garbled file behind that might pass for it.
    ntfs::FileStream stream;
    std::string why;
    if (ntfs && !PlanNtfsFile(file, &stream, &why)) {
      LogMessage(app, kError, "%s was not copied: %s.",
                 destination.ShownPath(item.folders, name.name).c_str(), why.c_str());
      ++totals->failed;
      return;
    }
    const int folder = destination.Folder(item.folders, &why);
    const std::string shown = destination.ShownPath(item.folders, name.name);
    if (folder < 0) {
      LogMessage(app, kError, "%s was not copied: %s.", shown.c_str(), why.c_str());
      ++totals->failed;
      return;
    }
    if (!name.why.empty())
      LogMessage(app, kAlert, "The file name \"%s\" in %s %s; it is saved as \"%s\".",
                 PrintableName(file.name).c_str(), destination.ShownPath(item.folders, "").c_str(),
                 name.why.c_str(), name.name.c_str());
    std::string partial;
    FileDescriptor fd(destination.CreatePartial(folder, name.name, &partial));
    if (fd.get() < 0) {
      LogMessage(app, kError, "%s was not copied: %s.", shown.c_str(), std::strerror(errno));
      ++totals->failed;
      return;
    }
    failed = false;
    const bool whole =
        ntfs ? CopyNtfsContent(stream, fd.get(), shown, &why) : CopyFatContent(file, fd.get(), shown, &why);
    timespec times[2];  // last access, last change
    if (ntfs) {
      // Linux file systems keep no settable creation time: the copy gets
      // the times of last change and access.
      times[1] = FileTimeToTime(stream.modified ? stream.modified : file.modified);
      times[0] = stream.accessed ? FileTimeToTime(stream.accessed) : times[1];
    } else {
      times[0] = times[1] = FatStampToTime(file.fatDate, file.fatTime);
    }
    ::futimens(fd.get(), times);
    // Some file systems (NFS, FUSE) tell of a failed write only here.
    if (!failed && fd.Close() != 0) {
      why = std::string("writing the copy failed: ") + std::strerror(errno);
      failed = true;
    }
    std::string saved;
    if (!failed && !destination.Finish(folder, partial, name.name, &saved, &why)) {
      why = "it cannot be given its name: " + why;
      failed = true;
    }
    if (failed) {
      fd.Close();
      if (destination.Discard(folder, partial))
        LogMessage(app, kError, "%s was not copied: %s; nothing of it is kept.", shown.c_str(),
                   why.c_str());
      else
        LogMessage(app, kError, "%s was not copied: %s; what was written of it is left as %s.",
                   shown.c_str(), why.c_str(), destination.ShownPath(item.folders, partial).c_str());
      ++totals->failed;
      return;
    }
    const std::string copy = destination.ShownPath(item.folders, saved);
    if (saved != name.name)
      LogMessage(app, kAlert, "%s is taken; the copy is saved as %s.", shown.c_str(), copy.c_str());
    if (!whole) {
      LogMessage(app, kError, "%s was not copied in full: %s.", copy.c_str(), why.c_str());
      ++totals->incomplete;
      return;
    }
    if (!why.empty()) LogMessage(app, kAlert, "%s was copied, but %s.", copy.c_str(), why.c_str());
    ++totals->files;
    totals->bytes += ntfs ? stream.dataSize : file.size;
  }

  // Writes the file's bytes to fd; false (with a reason) when it could not
  // be copied in full. A sector that cannot be read is written as zeros and
  // the copy goes on, so every readable byte is kept: each unreadable
  // stretch is logged by its bytes in the file, `shown` being the copy's
  // path below the destination. Such a copy is whole in size and worth
  // keeping, yet not a full copy: false.
  bool CopyFatContent(const FoundFile& file, int fd, const std::string& shown, std::string* why) {
    const FatFilePlan plan = PlanFatFile(drive, file);
    for (const std::string& w : plan.warnings) AppendReason(why, w);
    if (!plan.readable) {
      failed = true;
      return false;
    }
    const FatGeometry g = FatGeometryOf(*drive);
    std::uint64_t left = file.size;
    std::uint64_t done = 0;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> lost;  // bytes of the file, inclusive
    const std::span<std::uint8_t> buffer = Chunk(left);
    for (const ClusterSpan& span : plan.spans) {
      std::uint64_t at = g.ClusterOffset(span.first);
      std::uint64_t spanBytes = std::uint64_t{span.count} * g.ClusterBytes();
      while (left > 0 && spanBytes > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>({left, spanBytes, buffer.size()}));
        const std::size_t whole = (n + kSectorSize - 1) / kSectorSize * kSectorSize;
        if (ReadBytes(app, drive->volume.get(), at, buffer.first(whole)) == 0) {
          const VolumeSource* v = drive->volume.get();
          if (v == nullptr || at + whole > v->Size()) {
            *why = "its bytes from " + std::to_string(done) + " on lie past the end of the volume";
            return false;
          }
          for (const UnreadableRange& r : v->UnreadableIn(at, whole)) {
            const std::uint64_t from = done + (r.first - at);
            const std::uint64_t to = std::min(done + (r.last - at), done + n - 1);
            if (from > to) continue;  // in the slack of the last sector
            if (!lost.empty() && lost.back().second + 1 == from) lost.back().second = to;
            else lost.emplace_back(from, to);
          }
        }
        if (!WriteAll(fd, buffer.data(), n)) {
          *why = std::string("writing the copy failed: ") + std::strerror(errno);
          failed = true;
          return false;
        }
        left -= n;
        done += n;
        spanBytes -= whole;
        at += whole;
        app->PumpOneMessage();
        if (!app->Busy()) {
          *why = "copying was interrupted";
          failed = true;
          return false;
        }
      }
    }
    if (left > 0) {
      if (why->empty()) *why = "its clusters end before its size";
      return false;
    }
    if (lost.empty()) return true;
    constexpr std::size_t kRangesNamed = 10;
    std::uint64_t lostBytes = 0;
    for (std::size_t i = 0; i < lost.size(); ++i) {
      lostBytes += lost[i].second - lost[i].first + 1;
      if (i < kRangesNamed)
        LogMessage(app, kError, "%s of %s could not be read.",
                   RangeText(lost[i].first, lost[i].second).c_str(), shown.c_str());
    }
    if (lost.size() > kRangesNamed)
      LogMessage(app, kError, "%zu more unreadable ranges of %s are not listed.",
                 lost.size() - kRangesNamed, shown.c_str());
    AppendReason(why, std::to_string(lostBytes) + " of its bytes could not be read, and are zeros in the copy");
    return false;
  }
};

}  // namespace

CopyTotals CopyFilesTo(EngineHost* app, LOGDRIVE_INFO* drive, const std::string& destination,
                       const std::vector<CopyItem>& items) {
  CopyTotals totals;
  const std::string source = drive->volume ? drive->volume->Path() : std::string();
  // Judged before the volume's tables are read, so that a refusal is what
  // the user hears of first; made only after they have been.
  if (const auto refusal = DestinationRefusal(source, destination)) {
    LogMessage(app, kError, "Nothing was copied: %s.", refusal->c_str());
    totals.refused = true;
    return totals;
  }
  const bool ntfs = drive->Kind() == 'N';
  Copier copier{app, drive};
  if (ntfs) {
    copier.mft = ntfs::BuildMftDescriptor(app, drive);
    if (!copier.mft) {
      LogMessage(app, kError, "Nothing was copied: the $MFT of %s cannot be read.",
                 drive->driveName.c_str());
      totals.refused = true;
      return totals;
    }
    // Without the bitmap the copies are still made, only not judged.
    copier.haveBitmap = ntfs::ReadVolumeBitmap(app, drive, *copier.mft, &copier.bitmap);
  } else if (LoadFat(app, drive) == 0) {
    totals.refused = true;
    return totals;
  }
  std::string why;
  const std::unique_ptr<CopyDestination> made = CopyDestination::Make(app, source, destination, &why);
  if (!made) {
    LogMessage(app, kError, "Nothing was copied: %s.", why.c_str());
    drive->fatTable = {};
    totals.refused = true;
    return totals;
  }
  app->SetBusy(true);
  app->StartSteps(items.size(), {255, 0, 0});
  for (const CopyItem& item : items) {
    copier.CopyOne(item, *made, &totals);
    app->StepProgress();
    app->ShowCounters(0, totals.files, totals.bytes);
    app->PumpOneMessage();
    if (!app->Busy()) {
      totals.interrupted = true;
      break;
    }
  }
  drive->fatTable = {};
  app->EndSteps();
  LogMessage(app, kStatus, "%s %" PRIu64 " files, %" PRIu64 " bytes, to %s; %" PRIu64 " could not be copied in full.",
             totals.interrupted ? "Copying interrupted after" : "Copied", totals.files, totals.bytes,
             destination.c_str(), totals.incomplete + totals.failed);
  app->SetBusy(false);
  return totals;
}

}  // namespace tsn
