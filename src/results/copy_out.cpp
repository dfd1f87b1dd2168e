#include "core/engine_host.h"
#include "core/entry_records.h"
#include "fs/logdrive_info.h"
#include "results/copy_out.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <limits>
#include <memory>

#include "fs/content_plan.h"
#include "fs/file_system.h"
#include "results/content_hash.h"
#include "results/copy_destination.h"
#include "results/copy_manifest.h"
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
  // Plans each file's content, from the tables its file system read for them.
  std::unique_ptr<ContentPlanner> planner;
  // Which live files hold deleted files' clusters; opened at the first
  // file that has lost some.
  std::unique_ptr<OwnerIndex> owners;
  bool toldOwnersIncomplete = false;  // said once a copy, not for every file
  // Set when what was written of a file is no copy at all: its writing
  // failed, the user interrupted it, or none of it could be read. A file
  // whose content is all written, zeros standing in for what could not be
  // read, is kept under its name and counted as not copied in full.
  bool failed = false;

  // The hashes of the file being written; null when none are taken.
  ContentHash* hash = nullptr;
  // Writing to a pipe: holes are written as zeros, as nothing can seek.
  bool stream = false;
  // Reading into memory instead of a file, at most `memoryLimit` bytes: the
  // reading stops once they are there.
  std::vector<std::uint8_t>* memory = nullptr;
  std::size_t memoryLimit = 0;
  bool memoryFull = false;
  // errno of the last write that failed.
  int writeError = 0;

  bool Put(int fd, const std::uint8_t* data, std::size_t size) {
    if (memory != nullptr) {
      const std::size_t room = memoryLimit - std::min(memoryLimit, memory->size());
      memory->insert(memory->end(), data, data + std::min(room, size));
      return true;
    }
    if (!WriteAll(fd, data, size)) return false;
    if (hash != nullptr) hash->Update(data, size);
    return true;
  }

  bool Hole(int fd, std::uint64_t bytes) {
    if (stream) {
      static const std::uint8_t zeros[64 * 1024] = {};
      while (bytes > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, sizeof zeros));
        if (!Put(fd, zeros, n)) return false;
        bytes -= n;
      }
      return true;
    }
    if (!SkipHole(fd, bytes)) return false;
    if (hash != nullptr) hash->Skip(bytes);
    return true;
  }

  // Grown to what the files need, up to kChunkBytes: most files are small,
  // and clearing a megabyte for each copy would cost more than they do.
  std::span<std::uint8_t> Chunk(std::uint64_t wanted) {
    const std::uint64_t sectors = (std::min<std::uint64_t>(wanted, kChunkBytes) + kSectorSize - 1) / kSectorSize;
    const std::size_t n = static_cast<std::size_t>(std::max<std::uint64_t>(sectors, 1) * kSectorSize);
    if (chunk.size() < n) chunk.resize(n);
    return chunk;
  }

  // A deleted file some of whose clusters are in use is likely to be
  // copied with other files' bytes in it: the log says whose.
  void LogOverwriters(const FoundFile& file, const std::string& shown) {
    if ((file.flags & (kFlagInUse | kFlagFolder)) || !(file.flags & kFlagChainInUse)) return;
    if (!owners) {
      if (drive->fileSystem == nullptr || drive->fileSystem->openOwners == nullptr) return;
      owners = drive->fileSystem->openOwners(app, drive);
    }
    const ClusterOwners found = owners->Owners(file);
    if (found.clusters == 0 && !found.complete) {
      std::string why;
      for (const std::string& n : found.notes) AppendReason(&why, n);
      LogMessage(app, kAlert, "Which files overwrote %s is not known: %s.", shown.c_str(), why.c_str());
      return;
    }
    constexpr std::size_t kNamed = 10;
    std::string names;
    for (std::size_t i = 0; i < found.owners.size() && i < kNamed; ++i)
      names += (i == 0 ? "" : ", ") + found.owners[i].path;
    if (found.owners.size() > kNamed) names += " and " + std::to_string(found.owners.size() - kNamed) + " more";
    if (found.owners.empty())
      LogMessage(app, kAlert, "%s: no live file holds its clusters now; %s%% of them are free.", shown.c_str(),
                 found.FreePercentText().c_str());
    else
      LogMessage(app, kAlert, "%s was overwritten by %s; %s%% of its clusters are still free.", shown.c_str(),
                 PrintableName(names).c_str(), found.FreePercentText().c_str());
    if (!found.complete && !toldOwnersIncomplete) {
      std::string why;
      for (const std::string& n : found.notes) AppendReason(&why, n);
      LogMessage(app, kAlert, "Which files overwrote deleted ones is not known in full: %s.", why.c_str());
      toldOwnersIncomplete = true;
    }
  }

  // Copies one file into its folder under the destination. It is written
  // under a ".partial-" name and takes its own name only once complete; what
  // could not be copied in full is logged and counted.
  void CopyOne(const CopyItem& item, CopyDestination& destination, CopyTotals* totals, CopyManifest* manifest) {
    const FoundFile& file = *item.file;
    CopyManifest::Entry& entry = manifest->Add(item.folders, file);
    SaveableName name = SaveableNameOf(std::string(file.name));
    if (file.firstCharLost && !name.name.empty()) {
      // The list shows a stand-in letter; the copy is not to pass it off as
      // the file's own, so it gets the "_" that The Sleuth Kit shows there.
      name.name[0] = '_';
      name.why += (name.why.empty() ? "" : "; ") + std::string("is a deleted 8.3 name whose first character is lost");
    }
    // A file is planned before anything is made for it: one that cannot be
    // recovered (encrypted, or its record gone) leaves no empty or garbled
    // file behind that might pass for it.
    const ContentPlan plan = planner->Plan(file);
    std::string why;
    if (!plan.refusal.empty()) {
      LogMessage(app, kError, "%s was not copied: %s.",
                 destination.ShownPath(item.folders, name.name).c_str(), plan.refusal.c_str());
      entry.note = plan.refusal;
      ++totals->failed;
      return;
    }
    const int folder = destination.Folder(item.folders, &why);
    const std::string shown = destination.ShownPath(item.folders, name.name);
    if (folder < 0) {
      LogMessage(app, kError, "%s was not copied: %s.", shown.c_str(), why.c_str());
      entry.note = why;
      ++totals->failed;
      return;
    }
    if (!name.why.empty())
      LogMessage(app, kAlert, "The file name \"%s\" in %s %s; it is saved as \"%s\".",
                 PrintableName(std::string(file.name)).c_str(), destination.ShownPath(item.folders, "").c_str(),
                 name.why.c_str(), name.name.c_str());
    LogOverwriters(file, shown);
    std::string partial;
    FileDescriptor fd(destination.CreatePartial(folder, name.name, &partial));
    if (fd.get() < 0) {
      entry.note = std::strerror(errno);
      LogMessage(app, kError, "%s was not copied: %s.", shown.c_str(), entry.note.c_str());
      ++totals->failed;
      return;
    }
    failed = false;
    ContentHash contentHash;
    hash = &contentHash;
    const bool whole = CopyContent(plan, fd.get(), shown, &why);
    hash = nullptr;
    timespec times[2] = {plan.accessed, plan.modified};  // last access, last change
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
      entry.note = why;
      ++totals->failed;
      return;
    }
    const std::string copy = destination.ShownPath(item.folders, saved);
    entry.copy = copy.substr(std::min(copy.size(), destination.ShownPath({}, "").size() + 1));
    entry.size = contentHash.Size();
    entry.note = why;
    contentHash.Finish(&entry.md5, &entry.sha256);
    if (saved != name.name)
      LogMessage(app, kAlert, "%s is taken; the copy is saved as %s.", shown.c_str(), copy.c_str());
    if (!whole) {
      LogMessage(app, kError, "%s was not copied in full: %s.", copy.c_str(), why.c_str());
      entry.state = CopyManifest::State::Incomplete;
      ++totals->incomplete;
      return;
    }
    entry.state = CopyManifest::State::Complete;
    if (!why.empty()) LogMessage(app, kAlert, "%s was copied, but %s.", copy.c_str(), why.c_str());
    ++totals->files;
    totals->bytes += plan.size;
  }

  // Stops the copy when the user interrupted it; false then.
  bool GoOn(std::string* why) {
    app->PumpOneMessage();
    if (app->Busy()) return true;
    *why = "copying was interrupted";
    failed = true;
    return false;
  }

  bool WriteFailed(std::string* why) {
    writeError = errno;
    *why = std::string("writing the copy failed: ") + std::strerror(errno);
    failed = true;
    return false;
  }

  // Writes the plan's pieces to fd, holes as holes; false (with a reason)
  // when the file could not be copied in full. A sector that cannot be read
  // is written as zeros and the copy goes on, so every readable byte is
  // kept: each unreadable stretch is logged by its bytes in the file,
  // `shown` being the copy's path below the destination. Such a copy is
  // whole in size and worth keeping, yet not a full copy: false. Notes that
  // do not make the copy incomplete go to *why as well.
  bool CopyContent(const ContentPlan& plan, int fd, const std::string& shown, std::string* why) {
    for (const std::string& n : plan.notes) AppendReason(why, n);
    if (!plan.readable) {
      failed = true;
      return false;
    }
    std::uint64_t left = plan.size;
    std::uint64_t done = 0;
    bool whole = true;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> lost;  // bytes of the file, inclusive
    const std::span<std::uint8_t> buffer = Chunk(plan.readBytes);
    for (const ContentPiece& piece : plan.pieces) {
      switch (piece.kind) {
        case ContentPiece::Kind::Extent:
          if (!CopyExtent(piece, fd, buffer, &left, &done, &lost, why)) return false;
          break;
        case ContentPiece::Kind::Zeros: {
          const std::uint64_t n = std::min(left, piece.length);
          if (!Hole(fd, n)) return WriteFailed(why);
          left -= n;
          done += n;
          if (!GoOn(why)) return false;
          break;
        }
        case ContentPiece::Kind::Resident: {
          const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, piece.bytes.size()));
          if (!Put(fd, piece.bytes.data(), n)) return WriteFailed(why);
          left -= n;
          done += n;
          if (!GoOn(why)) return false;
          break;
        }
        case ContentPiece::Kind::Decoded: {
          std::string writeFailure;
          std::uint64_t given = 0;
          const PieceSink sink = [&](Bytes data, std::uint64_t zeros) {
            const bool written = data.empty() ? Hole(fd, zeros) : Put(fd, data.data(), data.size());
            if (!written) {
              writeError = errno;
              writeFailure = std::string("writing the copy failed: ") + std::strerror(errno);
              return false;
            }
            given += data.empty() ? zeros : data.size();
            if (memory != nullptr && memory->size() >= memoryLimit) {
              memoryFull = true;  // a decoder gives its whole piece unless stopped
              return false;
            }
            app->PumpOneMessage();
            return app->Busy();
          };
          const DecodedRead read = piece.decoder->Read(app, buffer, sink);
          for (const UnreadableRange& r : read.unreadable)
            LogMessage(app, kError, "%s of %s could not be read (%s).",
                       RangeText(done + r.first, done + r.last).c_str(), shown.c_str(),
                       ReadErrorText(r.error).c_str());
          for (const std::string& n : read.notes) AppendReason(why, n);
          if (read.stopped && !memoryFull) {
            *why = writeFailure.empty() ? "copying was interrupted" : writeFailure;
            failed = true;
            return false;
          }
          whole = whole && read.whole;
          // What the decoder did not give reads as zeros: the copy is made
          // its full size at the end.
          const std::uint64_t stood = std::min(left, piece.length);
          if (given < stood && !Hole(fd, stood - given)) return WriteFailed(why);
          left -= stood;
          done += stood;
          break;
        }
      }
    }
    if (left > 0) {
      if (why->empty()) *why = "its clusters end before its size";
      return false;
    }
    if (!lost.empty()) {
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
      whole = false;
    }
    // A hole at the end is only a size: the file must be made that long.
    if (!stream) {
      if (!FitsOffset(plan.size) || ::ftruncate(fd, static_cast<off_t>(plan.size)) != 0) return WriteFailed(why);
      if (hash != nullptr) hash->ExtendTo(plan.size);
    }
    return whole;
  }

  // Copies bytes of the volume, in whole sectors, up to what is left of
  // the file; the stretches that could not be read join `lost`.
  bool CopyExtent(const ContentPiece& piece, int fd, std::span<std::uint8_t> buffer, std::uint64_t* left,
                  std::uint64_t* done, std::vector<std::pair<std::uint64_t, std::uint64_t>>* lost,
                  std::string* why) {
    std::uint64_t at = piece.volumeOffset;
    std::uint64_t pieceBytes = piece.length;
    while (*left > 0 && pieceBytes > 0) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>({*left, pieceBytes, buffer.size()}));
      const std::size_t whole = (n + kSectorSize - 1) / kSectorSize * kSectorSize;
      if (ReadBytes(app, drive->volume.get(), at, buffer.first(whole)) == 0) {
        const VolumeSource* v = drive->volume.get();
        if (v == nullptr || at + whole > v->Size()) {
          *why = "its bytes from " + std::to_string(*done) + " on lie past the end of the volume";
          return false;
        }
        for (const UnreadableRange& r : v->UnreadableIn(at, whole)) {
          const std::uint64_t from = *done + (r.first - at);
          const std::uint64_t to = std::min(*done + (r.last - at), *done + n - 1);
          if (from > to) continue;  // in the slack of the last sector
          if (!lost->empty() && lost->back().second + 1 == from) lost->back().second = to;
          else lost->emplace_back(from, to);
        }
      }
      if (!Put(fd, buffer.data(), n)) return WriteFailed(why);
      *left -= n;
      *done += n;
      pieceBytes -= std::min<std::uint64_t>(pieceBytes, whole);
      at += whole;
      if (!GoOn(why)) return false;
    }
    return true;
  }
};

}  // namespace

ContentPrefix ReadContentPrefix(EngineHost* app, LOGDRIVE_INFO* drive, const FoundFile& file,
                                std::size_t maxBytes) {
  ContentPrefix prefix;
  Copier copier{app, drive};
  copier.planner = drive != nullptr && drive->fileSystem ? drive->fileSystem->openContent(app, drive) : nullptr;
  if (!copier.planner) {
    prefix.refusal = "the volume's tables cannot be read";
    return prefix;
  }
  ContentPlan plan = copier.planner->Plan(file);
  if (!plan.refusal.empty()) {
    prefix.refusal = plan.refusal;
    return prefix;
  }
  plan.size = std::min<std::uint64_t>(plan.size, maxBytes);
  copier.stream = true;
  copier.memory = &prefix.bytes;
  copier.memoryLimit = static_cast<std::size_t>(plan.size);
  prefix.bytes.reserve(copier.memoryLimit);
  // Nothing is written anywhere: the descriptor is never used.
  prefix.whole = copier.CopyContent(plan, -1, PrintableName(std::string(file.name)), &prefix.why) &&
                 prefix.bytes.size() == copier.memoryLimit;
  return prefix;
}

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
  Copier copier{app, drive};
  copier.planner = drive->fileSystem ? drive->fileSystem->openContent(app, drive) : nullptr;
  if (!copier.planner) {
    totals.refused = true;
    return totals;
  }
  std::string why;
  const std::unique_ptr<CopyDestination> made = CopyDestination::Make(app, source, destination, &why);
  if (!made) {
    LogMessage(app, kError, "Nothing was copied: %s.", why.c_str());
    totals.refused = true;
    return totals;
  }
  CopyManifest manifest(*drive);
  app->SetBusy(true);
  app->StartSteps(items.size(), {255, 0, 0});
  for (const CopyItem& item : items) {
    copier.CopyOne(item, *made, &totals, &manifest);
    app->StepProgress();
    app->ShowCounters(0, totals.files, totals.bytes);
    app->PumpOneMessage();
    if (!app->Busy()) {
      totals.interrupted = true;
      break;
    }
  }
  copier.planner.reset();
  app->EndSteps();
  // Written after an interruption too: it tells what was taken by then. A
  // copy that kept nothing leaves nothing behind, a manifest neither.
  std::vector<std::string> manifestNames;
  if (totals.files + totals.incomplete == 0) {
  } else if (manifest.Write(*made, &manifestNames, &why)) {
    std::string names;
    for (const std::string& n : manifestNames) names += (names.empty() ? "" : ", ") + made->ShownPath({}, n);
    LogMessage(app, kStatus, "The hashes of the copies are in %s.", names.c_str());
  } else {
    LogMessage(app, kError, "The manifest of the copy could not be written: %s.", why.c_str());
    totals.manifestFailed = true;
  }
  LogMessage(app, kStatus, "%s %" PRIu64 " files, %" PRIu64 " bytes, to %s; %" PRIu64 " could not be copied in full.",
             totals.interrupted ? "Copying interrupted after" : "Copied", totals.files, totals.bytes,
             destination.c_str(), totals.incomplete + totals.failed);
  app->SetBusy(false);
  return totals;
}

CopyTotals CopyContentTo(EngineHost* app, LOGDRIVE_INFO* drive, const FoundFile& file, int fd,
                         const std::string& shown) {
  CopyTotals totals;
  Copier copier{app, drive};
  copier.stream = true;
  copier.planner = drive->fileSystem ? drive->fileSystem->openContent(app, drive) : nullptr;
  if (!copier.planner) {
    totals.refused = true;
    return totals;
  }
  const ContentPlan plan = copier.planner->Plan(file);
  if (!plan.refusal.empty()) {
    LogMessage(app, kError, "%s cannot be read: %s.", shown.c_str(), plan.refusal.c_str());
    ++totals.failed;
    return totals;
  }
  app->SetBusy(true);
  std::string why;
  const bool whole = copier.CopyContent(plan, fd, shown, &why);
  if (copier.failed) {
    // A reader that went away (`cat | head`) wanted no more: no fault to log.
    if (copier.writeError != EPIPE)
      LogMessage(app, kError, "%s was not written in full: %s.", shown.c_str(), why.c_str());
    totals.writeError = copier.writeError;
    ++totals.failed;
  } else if (!whole) {
    LogMessage(app, kError, "%s is not whole: %s.", shown.c_str(), why.c_str());
    ++totals.incomplete;
  } else {
    if (!why.empty()) LogMessage(app, kAlert, "%s was written, but %s.", shown.c_str(), why.c_str());
    ++totals.files;
    totals.bytes += plan.size;
  }
  app->SetBusy(false);
  return totals;
}

}  // namespace tsn
