#include "fs/files.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <utility>

#include "fs/guard.h"
#include "fs/paths.h"
#include "fs/platform.h"
#include "fs/text.h"

using fsplatform::FsError;

namespace {

// Status of the folder-creation operations.
constexpr int kCreated = 0;
constexpr int kCreationFailed = 4;

// Attribute bits that forbid writing a file's content.
constexpr std::uint32_t kNotWritableAttributes = kAttributeReadOnly | kAttributeDirectory;

std::u16string Wide(const std::string& path) { return Utf8ToWide(path); }

using fsguard::Guarded;

// Runs a platform change and tells whether it succeeded.
template <typename Change>
bool Succeeded(Change&& change) {
  return Guarded(FsError::kFailed, std::forward<Change>(change)) == FsError::kNone;
}

std::uint32_t Attributes(const std::string& path) {
  return Guarded(fsplatform::kInvalidAttributes, [&path] { return fsplatform::GetAttributes(Wide(path).c_str()); });
}

// True when `attributes` name an existing file whose content may be replaced.
bool WritableFile(std::uint32_t attributes) {
  return attributes == fsplatform::kInvalidAttributes || (attributes & kNotWritableAttributes) == 0;
}

// The folder part of `path` with its final separator ("" when there is
// none), cut off without any platform call.
std::string FolderPart(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

constexpr char kTemporaryPrefix[] = "~ch";
constexpr char kTemporarySuffix[] = ".tmp";
constexpr std::size_t kPidDigits = 8;

// The name of a temporary file of this process in the folder of `path`:
// "~ch" + the process id in 8 hexadecimal digits + "-" + attempt + ".tmp". It
// does not contain the target's name, so a listing that looks for names
// containing a code never picks it up.
std::string TemporaryName(const std::string& path, unsigned attempt) {
  std::string name = FolderPart(path);
  static const char kHex[] = "0123456789abcdef";
  name += kTemporaryPrefix;
  const std::uint32_t pid = fsplatform::ProcessId();
  for (int shift = 28; shift >= 0; shift -= 4) name += kHex[(pid >> shift) & 0xF];
  name += '-';
  name += std::to_string(attempt);
  name += kTemporarySuffix;
  return name;
}

// The process id in a temporary file's name; false for any other name.
bool WriterOfTemporary(const std::u16string& name, std::uint32_t& pid) {
  const std::size_t prefix = sizeof kTemporaryPrefix - 1;
  const std::size_t suffix = sizeof kTemporarySuffix - 1;
  if (name.size() < prefix + kPidDigits + 2 + suffix || name.compare(0, prefix, u"~ch") != 0 ||
      name.compare(name.size() - suffix, suffix, u".tmp") != 0 || name[prefix + kPidDigits] != u'-') {
    return false;
  }
  pid = 0;
  for (std::size_t i = prefix; i < prefix + kPidDigits; ++i) {
    const char16_t c = name[i];
    const int digit = c >= u'0' && c <= u'9' ? c - u'0' : c >= u'a' && c <= u'f' ? c - u'a' + 10 : -1;
    if (digit < 0) return false;
    pid = (pid << 4) | static_cast<std::uint32_t>(digit);
  }
  for (std::size_t i = prefix + kPidDigits + 1; i < name.size() - suffix; ++i) {
    if (name[i] < u'0' || name[i] > u'9') return false;
  }
  return name.size() - suffix > prefix + kPidDigits + 1;
}

// A writer killed in the middle of a write leaves its temporary file behind;
// the next write into the folder removes those of writers that no longer
// run. A name that has become a link is left alone.
void RemoveStaleTemporaries(const std::string& folder) {
  std::vector<std::u16string> names;
  const std::u16string wideFolder = Wide(folder.empty() ? std::string(".") : folder);
  if (fsplatform::ListFolder(wideFolder.c_str(), names) != FsError::kNone) return;
  const std::uint32_t self = fsplatform::ProcessId();
  for (const std::u16string& name : names) {
    std::uint32_t pid = 0;
    if (!WriterOfTemporary(name, pid) || pid == self || fsplatform::ProcessRunning(pid)) continue;
    const std::u16string stale = Wide(folder) + name;
    if (!fsplatform::IsLink(stale.c_str())) fsplatform::RemoveFile(stale.c_str());
  }
}

// Makes the folder's new entry durable where the platform needs that.
void FlushFolderOf(const std::string& path) {
  const std::string folder = FolderPart(path);
  fsplatform::FlushFolder(Wide(folder.empty() ? std::string(".") : folder).c_str());
}

// Gives a file its new content: fresh, under a name that must not exist yet
// (kCreateNew: FsError::kExists when it does), or in place over an existing
// file (kReplaceContent).
using ContentWriter = std::function<FsError(const char16_t* path, fsplatform::WriteMode mode)>;

// Puts new content in place of `path` without ever leaving it half-written:
// the content goes to a temporary file in the same folder, which then
// replaces the target in one step, and the folder is flushed. When the
// folder forbids new files, or the platform refuses the replacement because
// another process holds the target open, the content is written in place
// instead. A read-only target is never touched.
WriteResult ReplaceDurably(const std::string& path, const ContentWriter& write) {
  const std::u16string target = Wide(path);
  if (target.empty() || !WritableFile(fsplatform::GetAttributes(target.c_str()))) return WriteResult::kNotWritable;
  RemoveStaleTemporaries(FolderPart(path));

  // A fresh temporary file in the target's folder; names left behind by a
  // crashed writer that still runs are skipped.
  constexpr unsigned kAttempts = 100;
  std::u16string temporary;
  FsError written = FsError::kExists;
  for (unsigned attempt = 0; attempt < kAttempts && written == FsError::kExists; ++attempt) {
    temporary = Wide(TemporaryName(path, attempt));
    written = write(temporary.c_str(), fsplatform::WriteMode::kCreateNew);
  }
  bool inPlace = false;
  if (written == FsError::kNone) {
    const FsError moved = fsplatform::MoveFileReplacing(temporary.c_str(), target.c_str());
    if (moved == FsError::kNone) {
      FlushFolderOf(path);
      return WriteResult::kWritten;
    }
    fsplatform::RemoveFile(temporary.c_str());
    // Another process holds the target open, so it cannot be replaced; its
    // content can still be rewritten in place.
    inPlace = moved == FsError::kSharingViolation || moved == FsError::kAccessDenied;
  } else {
    if (written != FsError::kExists) fsplatform::RemoveFile(temporary.c_str());
    // The folder forbids new files, while the target itself may be writable.
    inPlace = written == FsError::kAccessDenied;
  }
  const std::uint32_t attributes = fsplatform::GetAttributes(target.c_str());
  if (inPlace && attributes != fsplatform::kInvalidAttributes && WritableFile(attributes) &&
      write(target.c_str(), fsplatform::WriteMode::kReplaceContent) == FsError::kNone) {
    return WriteResult::kWritten;
  }
  return WriteResult::kNotWritable;
}

WriteResult WriteDurably(const std::string& path, const std::string& bytes) {
  return ReplaceDurably(path, [&bytes](const char16_t* file, fsplatform::WriteMode mode) {
    return fsplatform::WriteWholeFile(file, bytes.data(), bytes.size(), mode);
  });
}

// A copy is made whole before it takes the target's place, so that a process
// killed in the middle of it leaves the old target.
bool CopyDurably(const std::string& source, const std::string& target) {
  const std::u16string from = Wide(source);
  return ReplaceDurably(target, [&from](const char16_t* file, fsplatform::WriteMode mode) {
           const FsError copied = fsplatform::CopyOver(from.c_str(), file, mode);
           if (copied == FsError::kNone) fsplatform::FlushFile(file);
           return copied;
         }) == WriteResult::kWritten;
}

}  // namespace

// ---- Tests -------------------------------------------------------------------

int PathExistsUtf8(const char* path) {
  if (path == nullptr) return 0;
  return Guarded(0, [path] { return fsplatform::CheckExists(Wide(path).c_str()) == FsError::kNone ? 1 : 0; });
}

bool FileExists(const std::string& path) {
  return Guarded(false, [&path] { return fsplatform::FileExists(Wide(path).c_str()); });
}

bool IsDirectory(const std::string& path) {
  const std::uint32_t attributes = Attributes(path);
  return attributes != fsplatform::kInvalidAttributes && (attributes & kAttributeDirectory) != 0;
}

int IsRegularFile(const std::string& path) { return FileExists(path) && !IsDirectory(path) ? 1 : 0; }

bool GetPathAttributes(const std::string& path, std::uint32_t* attributes) {
  if (attributes == nullptr) return false;
  const std::uint32_t found = Attributes(path);
  if (found == fsplatform::kInvalidAttributes) return false;
  *attributes = found;
  return true;
}

// ---- Folder creation -----------------------------------------------------------

int MakeDirectoryUtf8(const char* path) {
  // A path that is missing, or that could not be converted, never reaches the
  // platform.
  const std::u16string wide = path != nullptr ? Guarded(std::u16string(), [path] { return Wide(path); })
                                              : std::u16string();
  if (path == nullptr || (wide.empty() && *path != '\0')) {
    errno = EINVAL;
    return -1;
  }
  return Guarded(-1, [&wide] { return fsplatform::MakeFolder(wide.c_str()); });
}

bool CreateSingleFolder(const std::string& path) {
  return Succeeded([&path] { return fsplatform::CreateFolder(Wide(path).c_str()); });
}

int CreateDirectoryTree(const std::string& path) {
  if (FileExists(path)) return kCreationFailed;
  return Succeeded([&path] { return fsplatform::CreateFolderChain(Wide(path).c_str()); }) ? kCreated
                                                                                          : kCreationFailed;
}

int EnsureDirectoryPath(const std::string& path) {
  if (FileExists(path)) return IsDirectory(path) ? kCreated : kCreationFailed;
  std::string parent = path;
  GetParentPath(path, parent);
  // "." that does not exist (the working folder was removed) is its own
  // parent, and so is a path whose parent could not be formed.
  if (parent == path) return kCreationFailed;
  const int status = EnsureDirectoryPath(parent);
  return status == kCreated ? CreateDirectoryTree(path) : status;
}

// ---- File changes ----------------------------------------------------------------

int ClearFileAttributes(const std::string& path) {
  return Succeeded([&path] { return fsplatform::SetAttributesNormal(Wide(path).c_str()); }) ? 0 : 1;
}

bool CopyFileOverwrite(const std::string& source, const std::string& target) {
  return Guarded(false, [&source, &target] { return CopyDurably(source, target); });
}

bool CopyFileReplacing(const std::string& source, const std::string& target) {
  if (!CopyFileOverwrite(source, target)) return false;
  ClearFileAttributes(target);
  return true;
}

bool MoveFileReplacing(const std::string& source, const std::string& target) {
  return Guarded(false, [&source, &target] {
    if (fsplatform::MoveFileReplacing(Wide(source).c_str(), Wide(target).c_str()) != FsError::kNone) return false;
    FlushFolderOf(target);
    return true;
  });
}

void FlushFolder(const std::string& folder) {
  Guarded(true, [&folder] {
    fsplatform::FlushFolder(Wide(folder).c_str());
    return true;
  });
}

bool DeleteFileUtf8(const std::string& path) {
  return Succeeded([&path] { return fsplatform::RemoveFile(Wide(path).c_str()); });
}

void FlushFileToDisk(const std::string& path) {
  Guarded(true, [&path] {
    fsplatform::FlushFile(Wide(path).c_str());
    return true;
  });
}

// ---- Shared file access ------------------------------------------------------------

void FileCloser::operator()(std::FILE* f) const {
  if (f != nullptr) fsplatform::CloseFile(f);
}

UniqueFile OpenFileShared(const std::string& path, const char* mode) {
  if (mode == nullptr) return UniqueFile();
  return UniqueFile(
      Guarded<std::FILE*>(nullptr, [&path, mode] { return fsplatform::OpenShared(Wide(path).c_str(), mode); }));
}

WriteResult WriteFileDurably(const std::string& path, const std::string& bytes) {
  return Guarded(WriteResult::kNotWritable, [&path, &bytes] { return WriteDurably(path, bytes); });
}

// ---- Folder listing ------------------------------------------------------------------

bool ListFolder(const std::string& folder, std::vector<std::u16string>& names) {
  return Guarded(false, [&folder, &names] {
    std::vector<std::u16string> found;
    if (fsplatform::ListFolder(Wide(folder).c_str(), found) != FsError::kNone) return false;
    found.erase(std::remove_if(found.begin(), found.end(),
                               [](const std::u16string& name) { return name == u"." || name == u".."; }),
                found.end());
    names.swap(found);
    return true;
  });
}

// ---- Paths handed to libraries ----------------------------------------------------------

std::string NativePath(const std::string& path) {
  return Guarded(std::string(), [&path] { return fsplatform::NativePath(path); });
}
