// The file-system table: which row claims a volume is what decides how it is mounted, scanned and copied, so every real
// volume must be claimed by the one row The Sleuth Kit agrees with, and anything else by none.

#include <fstream>

#include "fs/boot_sector.h"
#include "fs/file_system.h"
#include "source/drive_sources.h"
#include "test_support.h"

namespace tsn {
namespace {

// The rows that claim the boot area at byte `offset` of the image.
std::vector<const FileSystemType*> Claimants(const std::string& path, std::uint64_t offset) {
  const std::vector<std::uint8_t> area = test::ReadAt(path, offset, kBootAreaSize);
  std::vector<const FileSystemType*> rows;
  for (const FileSystemType* row : FileSystemTable())
    if (row->probe(area)) rows.push_back(row);
  return rows;
}

// What fsstat calls the file system at byte `offset` of the image; empty when it finds none. It names the type first;
// past that, on exFAT, it may never end, so the line is taken and fsstat left to the pipe's end.
std::string TskType(const std::string& path, std::uint64_t offset) {
  const test::CommandResult r = test::RunCommand("timeout 60 fsstat -o " + std::to_string(offset / 512) + " '" + path +
                                           "' | sed -n '/^File System Type: /{s///p;q}'");
  std::string type = r.out;
  while (!type.empty() && (type.back() == '\n' || type.back() == ' ')) type.pop_back();
  return type;
}

TEST(FileSystemTable, EveryFixtureVolumeIsClaimedByTheOneRowTheSleuthKitAgreesWith) {
  std::set<std::string> images;
  std::ifstream manifest(test::Fixture("manifest.jsonl"));
  for (std::string line; std::getline(manifest, line);)
    images.insert(nlohmann::json::parse(line)["image"].get<std::string>());
  ASSERT_GE(images.size(), 10u);
  std::set<const FileSystemType*> used;
  int volumes = 0;
  for (const std::string& image : images) {
    DriveSources sources;
    sources.files = {test::Fixture(image)};
    sources.scanDevices = false;
    sources.isVolumeBootSector = &IsSoundBootSector;
    const CandidateList found = ListDriveCandidates(sources);
    ASSERT_FALSE(found.candidates.empty()) << image;
    for (const DriveCandidate& c : found.candidates) {
      const std::string tsk = TskType(c.path, c.offset);
      const std::vector<const FileSystemType*> rows = Claimants(c.path, c.offset);
      const bool known = tsk == "FAT32" || tsk == "FAT16" || tsk == "FAT12" || tsk == "NTFS" || tsk == "exFAT";
      ASSERT_EQ(rows.size(), known ? 1u : 0u) << c.description << " (" << tsk << ")";
      if (!known) continue;
      ++volumes;
      EXPECT_EQ(rows[0]->kind, tsk == "exFAT" ? 'E' : tsk[0]) << c.description;
      EXPECT_EQ(ProbeFileSystem(test::ReadAt(c.path, c.offset, kBootAreaSize)), rows[0]);
      used.insert(rows[0]);
    }
  }
  EXPECT_GE(volumes, 12);
  // A row no volume is claimed by is one nothing tests.
  EXPECT_EQ(used.size(), FileSystemTable().size());
}

// What is no volume of ours is claimed by no row, but for a boot sector named exFAT.
TEST(FileSystemTable, WhatIsNoVolumeIsClaimedByNoRow) {
  test::ScratchDir dir;
  for (const nlohmann::json& c : test::DataRows("not-volumes.jsonl")) {
    const std::string img = dir.Path(c["name"].get<std::string>() + ".img");
    ASSERT_EQ(test::RunCommand("IMG='" + img + "'; " + c["make"].get<std::string>()).status, 0) << c["name"];
    std::string kinds;
    for (const FileSystemType* row : Claimants(img, 0)) kinds += row->kind;
    EXPECT_EQ(kinds, c["kinds"]) << c["name"];
  }
}

}  // namespace
}  // namespace tsn
