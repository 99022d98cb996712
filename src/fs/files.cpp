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

// The name of a temporary file of this process in the folder of `path`, cut
// off at its last separator without any platform call. It does not contain
// the target's name, so a listing that looks for names containing a code
// never picks it up.
std::string TemporaryName(const std::string& path, unsigned attempt) {
  const std::size_t separator = path.find_last_of("\\/");
  std::string name = separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
  static const char kHex[] = "0123456789abcdef";
  name += "~ch";
  const std::uint32_t pid = fsplatform::ProcessId();
  for (int shift = 28; shift >= 0; shift -= 4) name += kHex[(pid >> shift) & 0xF];
  name += '-';
  name += std::to_string(attempt);
  name += ".tmp";
  return name;
}

// Gives a file its new content: fresh, under a name that must not exist yet
// (kCreateNew: FsError::kExists when it does), or in place over an existing
// file (kReplaceContent).
using ContentWriter = std::function<FsError(const char16_t* path, fsplatform::WriteMode mode)>;

// Puts new content in place of `path` without ever leaving it half-written:
// the content goes to a temporary file in the same folder, which then
// replaces the target in one step. When the platform refuses the replacement
// because another process holds the target open, the content is written in
// place instead. A read-only target is never touched.
WriteResult ReplaceDurably(const std::string& path, const ContentWriter& write) {
  const std::u16string target = Wide(path);
  if (target.empty() || !WritableFile(fsplatform::GetAttributes(target.c_str()))) return WriteResult::kNotWritable;

  // A fresh temporary file in the target's folder; names left behind by a
  // crashed writer are skipped.
  constexpr unsigned kAttempts = 100;
  std::u16string temporary;
  FsError written = FsError::kExists;
  for (unsigned attempt = 0; attempt < kAttempts && written == FsError::kExists; ++attempt) {
    temporary = Wide(TemporaryName(path, attempt));
    written = write(temporary.c_str(), fsplatform::WriteMode::kCreateNew);
  }
  if (written != FsError::kNone) {
    if (written != FsError::kExists) fsplatform::RemoveFile(temporary.c_str());
    return WriteResult::kNotWritable;
  }

  const FsError moved = fsplatform::MoveFileReplacing(temporary.c_str(), target.c_str());
  if (moved == FsError::kNone) return WriteResult::kWritten;
  fsplatform::RemoveFile(temporary.c_str());

  // Another process holds the target open, so it cannot be replaced; its
  // content can still be rewritten in place.
  const bool busy = moved == FsError::kSharingViolation || moved == FsError::kAccessDenied;
  const std::uint32_t attributes = fsplatform::GetAttributes(target.c_str());
  if (busy && attributes != fsplatform::kInvalidAttributes && WritableFile(attributes) &&
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
  return Succeeded(
      [&source, &target] { return fsplatform::MoveFileReplacing(Wide(source).c_str(), Wide(target).c_str()); });
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
