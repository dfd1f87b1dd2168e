// A read-only FUSE file system that serves one image file as MOUNT/NAME and
// answers EIO for every read that touches one of the given byte ranges, the
// way a disk with bad sectors does. The tests read failing media through it
// instead of through a fake reader.
//
//   bad_sectors_fuse IMAGE MOUNT FIRST-LAST... [-- FUSE OPTIONS]
//
// Ranges are inclusive byte offsets of the image, in decimal. The file keeps
// the image's name. Reads bypass the page cache (direct_io), so each read the
// program makes reaches this file system with its own offset and size: a
// failed 1 MiB read costs the whole read, as on a real disk, and the reader
// must find the bad sector itself.
#define FUSE_USE_VERSION 31
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <libgen.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

struct range {
  uint64_t first, last;
};

static int image_fd = -1;
static char image_name[256];
static struct stat image_stat;
static struct range* bad = NULL;
static size_t bad_count = 0;

static int is_image(const char* path) { return path[0] == '/' && strcmp(path + 1, image_name) == 0; }

static int bsf_getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
  (void)fi;
  memset(st, 0, sizeof *st);
  if (strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0555;
    st->st_nlink = 2;
    return 0;
  }
  if (!is_image(path)) return -ENOENT;
  st->st_mode = S_IFREG | 0444;
  st->st_nlink = 1;
  st->st_size = image_stat.st_size;
  st->st_mtim = image_stat.st_mtim;
  return 0;
}

static int bsf_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t offset,
                       struct fuse_file_info* fi, enum fuse_readdir_flags flags) {
  (void)offset, (void)fi, (void)flags;
  if (strcmp(path, "/") != 0) return -ENOENT;
  fill(buf, ".", NULL, 0, 0);
  fill(buf, "..", NULL, 0, 0);
  fill(buf, image_name, NULL, 0, 0);
  return 0;
}

static int bsf_open(const char* path, struct fuse_file_info* fi) {
  if (!is_image(path)) return -ENOENT;
  if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  fi->direct_io = 1;
  return 0;
}

static int bsf_read(const char* path, char* buf, size_t size, off_t offset, struct fuse_file_info* fi) {
  (void)path, (void)fi;
  if (size == 0) return 0;
  const uint64_t first = (uint64_t)offset, last = (uint64_t)offset + size - 1;
  for (size_t i = 0; i < bad_count; ++i)
    if (first <= bad[i].last && bad[i].first <= last) return -EIO;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(image_fd, buf + done, size - done, offset + (off_t)done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -errno;
    if (n == 0) break;
    done += (size_t)n;
  }
  return (int)done;
}

static const struct fuse_operations operations = {
    .getattr = bsf_getattr,
    .readdir = bsf_readdir,
    .open = bsf_open,
    .read = bsf_read,
};

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s IMAGE MOUNT [FIRST-LAST...] [-- FUSE OPTIONS]\n", argv[0]);
    return 2;
  }
  image_fd = open(argv[1], O_RDONLY | O_CLOEXEC);
  if (image_fd < 0 || fstat(image_fd, &image_stat) != 0) {
    perror(argv[1]);
    return 1;
  }
  char* copy = strdup(argv[1]);
  snprintf(image_name, sizeof image_name, "%s", basename(copy));
  free(copy);
  int i = 3;
  bad = calloc((size_t)argc, sizeof *bad);
  for (; i < argc && strcmp(argv[i], "--") != 0; ++i) {
    unsigned long long a = 0, b = 0;
    if (sscanf(argv[i], "%llu-%llu", &a, &b) != 2 || b < a) {
      fprintf(stderr, "%s: not a byte range FIRST-LAST\n", argv[i]);
      return 2;
    }
    bad[bad_count].first = a;
    bad[bad_count].last = b;
    ++bad_count;
  }
  // Foreground and single-threaded, so the test that starts it can stop it;
  // the mount is read-only whatever the options say.
  char* fuse_argv[64];
  int fuse_argc = 0;
  fuse_argv[fuse_argc++] = argv[0];
  fuse_argv[fuse_argc++] = "-f";
  fuse_argv[fuse_argc++] = "-s";
  fuse_argv[fuse_argc++] = "-o";
  fuse_argv[fuse_argc++] = "ro,default_permissions";
  if (i < argc) ++i;  // past "--"
  for (; i < argc && fuse_argc < 62; ++i) fuse_argv[fuse_argc++] = argv[i];
  fuse_argv[fuse_argc++] = argv[2];
  fuse_argv[fuse_argc] = NULL;
  return fuse_main(fuse_argc, fuse_argv, &operations, NULL);
}
