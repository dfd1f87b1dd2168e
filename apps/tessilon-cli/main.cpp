// tessilon-cli: the engine of Tessilon with no window, for scripts and tests.
#include <CLI/CLI.hpp>
#include <csignal>
#include <iostream>

#include "cli_commands.h"
#include "core/version.h"

#ifndef TESSILON_DEMO_IMAGE
#define TESSILON_DEMO_IMAGE ""
#endif

namespace {

// scan and report read for a long time and may be aimed at evidence: they
// read only what they are told to.
bool NamesSource(const std::string& command, const std::string& source) {
  if (!source.empty()) return true;
  std::cerr << "tessilon-cli " << command << ": name the disk image or device to read (tessilon-cli "
            << command << " --help)\n";
  return false;
}

// Images do not say the sector size of the disk they were copied from; a
// copy of a 4Kn disk needs to be told, or its partition table is misread.
void AddSectorSizeOption(CLI::App* command, std::uint32_t& size) {
  command
      ->add_option("--sector-size", size, "bytes per sector of the disk an image was copied from (default 512)")
      ->check(CLI::Validator(
          [](const std::string& text) -> std::string {
            if (text == "512" || text == "1024" || text == "2048" || text == "4096") return {};
            return "an image's sector size is 512, 1024, 2048 or 4096 bytes, not " + text;
          },
          "512|1024|2048|4096"));
}

// A volume at a known place in a disk image, as The Sleuth Kit's -o takes
// it: in sectors of --sector-size. The partition table is not read then.
CLI::Option* AddOffsetOption(CLI::App* command, std::uint64_t& sectors) {
  return command->add_option("--offset", sectors,
                             "read the volume that starts this many sectors into the image (as fls -o)");
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that goes away (`tessilon-cli scan | head`) shows as a failed
  // write, which ends the listing quietly, not as a signal that kills.
  std::signal(SIGPIPE, SIG_IGN);

  CLI::App app{"Tessilon: finds deleted files on FAT, exFAT and NTFS volumes (read-only)"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "tessilon-cli " TESSILON_VERSION);
  app.footer(
      "Exit status: 0 done, 1 the source could not be scanned, 2 bad arguments, 3 done but with "
      "unreadable areas or interrupted, 4 the output could not be written.");

  tsn::cli::DrivesOptions drives;
  auto* drivesCmd = app.add_subcommand("drives", "the drive list as the window shows it");
  drivesCmd->add_option("SOURCE", drives.sources, "disk images or devices to add to the list");
  drivesCmd->add_flag("!--no-devices", drives.devices, "leave out the machine's block devices");
  drivesCmd->add_flag("--json", drives.json, "one JSON object a line");
  AddSectorSizeOption(drivesCmd, drives.sectorSize);
  AddOffsetOption(drivesCmd, drives.offset);

  tsn::cli::ScanOptions scan;
  auto* scanCmd = app.add_subcommand("scan", "every folder and file found, one per line");
  scanCmd->add_option("SOURCE", scan.source, "disk image or device");
  auto* quick = scanCmd->add_flag("--quick", scan.quick, "Build File List ONLY!");
  bool indexed = false;
  scanCmd->add_flag("--indexed", indexed, "Build Indexed File List (the default)")->excludes(quick);
  auto* json = scanCmd->add_flag("--json", scan.json, "one JSON object a line");
  auto* body = scanCmd->add_flag("--bodyfile", scan.bodyfile, "The Sleuth Kit's body file, for mactime -b")
                   ->excludes(json);
  scanCmd->add_flag("--csv", scan.csv, "one CSV row an entry, with a header")->excludes(json)->excludes(body);
  auto* scanPartition =
      scanCmd->add_option("--partition", scan.partition, "which partition of a disk image (1-based)");
  AddSectorSizeOption(scanCmd, scan.sectorSize);
  AddOffsetOption(scanCmd, scan.offset)->excludes(scanPartition);

  tsn::cli::ReportOptions report;
  auto* reportCmd = app.add_subcommand("report", "the Deleted File Report of every deleted file found");
  reportCmd->add_option("SOURCE", report.source, "disk image or device");
  reportCmd->add_option("--out", report.out, "FILE.pdf or FILE.txt (default: the text on stdout)");
  auto* reportQuick = reportCmd->add_flag("--quick", report.quick, "report what Build File List ONLY! finds");
  bool reportIndexed = false;
  reportCmd->add_flag("--indexed", reportIndexed, "report what Build Indexed File List finds (the default)")
      ->excludes(reportQuick);
  auto* reportPartition =
      reportCmd->add_option("--partition", report.partition, "which partition of a disk image (1-based)");
  AddSectorSizeOption(reportCmd, report.sectorSize);
  AddOffsetOption(reportCmd, report.offset)->excludes(reportPartition);
  tsn::cli::CopyOptions copy;
  auto* copyCmd = app.add_subcommand("copy", "copy found files out (every deleted file if no PATH)");
  copyCmd->add_option("SOURCE", copy.source, "disk image or device")->required();
  copyCmd->add_option("--to", copy.to, "folder to copy into; never on the source")->required();
  copyCmd->add_option("PATH", copy.paths, "files to copy, as scan prints them");
  auto* copyPartition =
      copyCmd->add_option("--partition", copy.partition, "which partition of a disk image (1-based)");
  AddSectorSizeOption(copyCmd, copy.sectorSize);
  AddOffsetOption(copyCmd, copy.offset)->excludes(copyPartition);

  tsn::cli::CatOptions cat;
  auto* catCmd = app.add_subcommand("cat", "one found file's content to stdout, as a copy reads it (like icat)");
  catCmd->add_option("SOURCE", cat.source, "disk image or device")->required();
  auto* catPath = catCmd->add_option("PATH", cat.path, "the file, as scan prints it");
  catCmd->add_option("--record", cat.record, "the file by its MFT record, or on FAT its first cluster")
      ->excludes(catPath);
  auto* catQuick = catCmd->add_flag("--quick", cat.quick, "find it with Build File List ONLY!");
  bool catIndexed = false;
  catCmd->add_flag("--indexed", catIndexed, "find it with Build Indexed File List (the default)")->excludes(catQuick);
  auto* catPartition =
      catCmd->add_option("--partition", cat.partition, "which partition of a disk image (1-based)");
  AddSectorSizeOption(catCmd, cat.sectorSize);
  AddOffsetOption(catCmd, cat.offset)->excludes(catPartition);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? tsn::cli::kExitDone : tsn::cli::kExitBadArguments;
  }

  if (*drivesCmd) {
    if (drives.sources.empty() && TESSILON_DEMO_IMAGE[0] != '\0')
      drives.sources.push_back(TESSILON_DEMO_IMAGE);
    return tsn::cli::RunDrives(drives);
  }
  if (*scanCmd) {
    if (!NamesSource("scan", scan.source)) return tsn::cli::kExitBadArguments;
    return tsn::cli::RunScan(scan);
  }
  if (*reportCmd) {
    if (!NamesSource("report", report.source)) return tsn::cli::kExitBadArguments;
    return tsn::cli::RunReport(report);
  }
  if (*catCmd) {
    cat.byRecord = catCmd->count("--record") > 0;
    if (!cat.byRecord && cat.path.empty()) {
      std::cerr << "tessilon-cli cat: name the file by its PATH or --record N (tessilon-cli cat --help)\n";
      return tsn::cli::kExitBadArguments;
    }
    return tsn::cli::RunCat(cat);
  }
  return tsn::cli::RunCopy(copy);
}
