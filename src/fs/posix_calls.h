// What the POSIX implementation of this layer shares between its files:
// the one translation of a failed call's errno into a Status, the OS form of
// a path, and descriptors held by RAII. Internal to src/fs, POSIX only.
#ifndef CUSTOMHOOKS_FS_POSIX_CALLS_H_
#define CUSTOMHOOKS_FS_POSIX_CALLS_H_

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fs/env.h"

namespace customhooks::fs::posix {

// The Status of the system call `call` that failed on `path` with `error`:
// the only place an errno becomes a Code. The context is
// "<call> <path>: errno <error>". An `error` of 0 is success.
Status PosixError(const char* call, std::string_view path, int error) noexcept;

// The OS form of a wide path.
std::string Native(const std::u16string& path);

// True when `fd` is a regular file with exactly one link.
bool SingleLinkFile(int fd);

// True when both are of one file.
bool SameFile(const struct stat& a, const struct stat& b);

// The name in /proc of an open descriptor: a link to exactly the file that
// was opened, whatever happens to its path.
std::string ProcName(int fd);

// The path the system gives an open descriptor's file (its name in /proc),
// with " (deleted)" when that name was removed; "" when there is none.
std::string DescriptorPath(int fd);

// True when `fd` is the file at the entry `name` of the folder `parent` and
// has no other name. `fd` was opened as that entry; `parentPath` is the
// folder's system path, and `counted` is `fd`'s fstat.
bool OnlyLinkIsEntry(int parent, const std::string& parentPath, const char* name, int fd,
                     const struct stat& counted);

// Replaces the access lists of the folder (or file) at `native` and of what
// it holds, as SetFolderAccess in fs/env.h describes.
Status ApplyFolderAccess(const std::string& native, const std::vector<AccessEntry>& entries);

struct FolderCloser {
  void operator()(DIR* folder) const { ::closedir(folder); }
};
using UniqueFolder = std::unique_ptr<DIR, FolderCloser>;

// An open descriptor, closed when the object ends.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Hands the descriptor over to the caller.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now and reports whether the close succeeded.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

}  // namespace customhooks::fs::posix

#endif  // CUSTOMHOOKS_FS_POSIX_CALLS_H_
