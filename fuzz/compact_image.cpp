// Converts between disk images and the compact form the whole-volume fuzz
// target takes (see compact_image.h):
//
//   compact_image pack IMAGE OUT [SECTORS]   non-zero sectors of IMAGE; the
//                                            size is SECTORS when given
//   compact_image unpack IN IMAGE            the image an input stands for,
//                                            to scan a finding with the CLI
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compact_image.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: compact_image pack IMAGE OUT [SECTORS] | unpack IN IMAGE\n");
  return 2;
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

int Pack(const char* imagePath, const char* outPath, const char* sectorsArg) {
  std::ifstream in(imagePath, std::ios::binary);
  if (!in) return std::perror(imagePath), 1;
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> sector(512);
  std::uint32_t n = 0;
  PutU32(out, 0);
  while (in.read(reinterpret_cast<char*>(sector.data()), 512) || in.gcount() > 0) {
    const std::size_t got = static_cast<std::size_t>(in.gcount());
    std::fill(sector.begin() + static_cast<std::ptrdiff_t>(got), sector.end(), 0);
    bool zero = true;
    for (const std::uint8_t b : sector) zero = zero && b == 0;
    if (!zero) {
      PutU32(out, n);
      out.insert(out.end(), sector.begin(), sector.end());
    }
    ++n;
    if (got < 512) break;
  }
  const std::uint32_t size = sectorsArg != nullptr ? static_cast<std::uint32_t>(std::strtoul(sectorsArg, nullptr, 0)) : n;
  if (size > tsn::fuzz::kMaxCompactSectors) {
    std::fprintf(stderr, "%s: %u sectors, more than the compact form holds\n", imagePath, size);
    return 1;
  }
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(size >> (8 * i));
  std::ofstream o(outPath, std::ios::binary | std::ios::trunc);
  o.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return o ? 0 : 1;
}

int Unpack(const char* inPath, const char* imagePath) {
  std::ifstream in(inPath, std::ios::binary);
  if (!in) return std::perror(inPath), 1;
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const tsn::fuzz::CompactImage img = tsn::fuzz::ParseCompact(bytes);
  const int fd = ::open(imagePath, O_WRONLY | O_CREAT | O_EXCL, 0644);  // never over an existing file
  if (fd < 0) return std::perror(imagePath), 1;
  bool ok = ::ftruncate(fd, static_cast<off_t>(std::uint64_t{img.sectors} * 512)) == 0;
  std::uint8_t sector[512];
  for (const auto& r : img.records) {
    std::memset(sector, 0, sizeof sector);
    std::memcpy(sector, r.bytes.data(), r.bytes.size());
    ok = ok && ::pwrite(fd, sector, 512, static_cast<off_t>(std::uint64_t{r.sector} * 512)) == 512;
  }
  ok = ::close(fd) == 0 && ok;
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && argc <= 5 && std::strcmp(argv[1], "pack") == 0)
    return Pack(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
  if (argc == 4 && std::strcmp(argv[1], "unpack") == 0) return Unpack(argv[2], argv[3]);
  return Usage();
}
