/* ntfs_fill: copies a host folder tree into an NTFS volume file made by mkntfs, without mounting
 * it (no FUSE), through libntfs-3g.
 *
 *   ntfs_fill VOLUME TREE [--dirty]
 *
 * Folders and regular files are copied with their names and bytes; anything else (links,
 * devices) is refused, so an image never holds what the tree did not plainly have. --dirty marks
 * the volume as not cleanly unmounted, as Windows leaves it after a crash. Exit 0, or 1 with a
 * message on stderr. */
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/types.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>

static int Fail(const char* what, const char* path) {
  fprintf(stderr, "ntfs_fill: %s: %s (%s)\n", what, path, strerror(errno));
  return 1;
}

static int CopyFileInto(ntfs_inode* file, const char* hostPath) {
  int fd = open(hostPath, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return Fail("cannot open", hostPath);
  ntfs_attr* data = ntfs_attr_open(file, AT_DATA, AT_UNNAMED, 0);
  if (data == NULL) {
    close(fd);
    return Fail("no data attribute", hostPath);
  }
  static char buffer[1 << 16];
  s64 offset = 0;
  int result = 0;
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof(buffer));
    if (got < 0) {
      result = Fail("cannot read", hostPath);
      break;
    }
    if (got == 0) break;
    s64 done = 0;
    while (done < got) {
      s64 wrote = ntfs_attr_pwrite(data, offset + done, got - done, buffer + done);
      if (wrote <= 0) {
        result = Fail("cannot write", hostPath);
        break;
      }
      done += wrote;
    }
    if (result != 0) break;
    offset += got;
  }
  ntfs_attr_close(data);
  close(fd);
  return result;
}

static int CopyFolder(ntfs_volume* volume, ntfs_inode* folder, const char* hostPath) {
  DIR* dir = opendir(hostPath);
  if (dir == NULL) return Fail("cannot open folder", hostPath);
  int result = 0;
  struct dirent* entry;
  while (result == 0 && (entry = readdir(dir)) != NULL) {
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    size_t length = strlen(hostPath) + strlen(entry->d_name) + 2;
    char* child = malloc(length);
    if (child == NULL) {
      result = Fail("out of memory", hostPath);
      break;
    }
    snprintf(child, length, "%s/%s", hostPath, entry->d_name);
    struct stat status;
    ntfschar* name = NULL;
    int nameLength = ntfs_mbstoucs(entry->d_name, &name);
    if (lstat(child, &status) != 0) {
      result = Fail("cannot stat", child);
    } else if (nameLength <= 0 || nameLength > 255) {
      result = Fail("name cannot be an NTFS name", child);
    } else if (!S_ISDIR(status.st_mode) && !S_ISREG(status.st_mode)) {
      errno = EINVAL;
      result = Fail("neither a folder nor a regular file", child);
    } else {
      ntfs_inode* made = ntfs_create(folder, const_cpu_to_le32(0), name, (u8)nameLength,
                                     S_ISDIR(status.st_mode) ? S_IFDIR : S_IFREG);
      if (made == NULL) {
        result = Fail("cannot create", child);
      } else {
        result =
            S_ISDIR(status.st_mode) ? CopyFolder(volume, made, child) : CopyFileInto(made, child);
        if (ntfs_inode_close_in_dir(made, folder) != 0 && result == 0)
          result = Fail("cannot close", child);
      }
    }
    free(name);
    free(child);
  }
  closedir(dir);
  return result;
}

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4 || (argc == 4 && strcmp(argv[3], "--dirty") != 0)) {
    fprintf(stderr, "usage: ntfs_fill VOLUME TREE [--dirty]\n");
    return 1;
  }
  ntfs_volume* volume = ntfs_mount(argv[1], 0);
  if (volume == NULL) return Fail("cannot open the volume", argv[1]);
  ntfs_inode* root = ntfs_inode_open(volume, FILE_root);
  int result = root == NULL ? Fail("no root folder", argv[1]) : CopyFolder(volume, root, argv[2]);
  if (root != NULL && ntfs_inode_close(root) != 0 && result == 0) {
    result = Fail("cannot close the root folder", argv[1]);
  }
  if (result == 0 && argc == 4 &&
      ntfs_volume_write_flags(volume, volume->flags | VOLUME_IS_DIRTY) != 0) {
    result = Fail("cannot mark the volume dirty", argv[1]);
  }
  if (ntfs_umount(volume, FALSE) != 0 && result == 0) result = Fail("cannot close", argv[1]);
  return result;
}
