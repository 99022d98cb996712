#include "fs/files.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>

#include "fs/paths.h"
#include "fs/platform.h"
#include "fs/text.h"

namespace customhooks::fs {
namespace {

// Attribute bits that forbid writing a file's content.
constexpr std::uint32_t kNotWritableAttributes = kAttributeReadOnly | kAttributeDirectory;

std::u16string Wide(const std::string& path) { return Utf8ToWide(path); }

// Runs an operation of this header; running out of memory is its failure.
template <typename Body>
Status Run(Body&& body) {
  return UnlessOutOfMemory(Code::kNoMemory, std::forward<Body>(body));
}

// The folder part of `path` with its final separator ("" when there is
// none), cut off without any platform call.
std::string FolderPart(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// The folder of `path` as the Env takes it: "." for a bare name.
std::u16string WideFolderOf(const std::string& path) {
  const std::string folder = FolderPart(path);
  return Wide(folder.empty() ? std::string(".") : folder);
}

constexpr char kTemporaryPrefix[] = "~ch";
constexpr char kTemporarySuffix[] = ".tmp";
constexpr std::size_t kPidDigits = 8;

// The name of a temporary file of this process in the folder of `path`:
// "~ch" + the process id `pid` in 8 hexadecimal digits + "-" + attempt + ".tmp". It
// does not contain the target's name, so a listing that looks for names
// containing a code never picks it up.
std::string TemporaryName(const std::string& path, std::uint32_t pid, unsigned attempt) {
  std::string name = FolderPart(path);
  static const char kHex[] = "0123456789abcdef";
  name += kTemporaryPrefix;
  for (int shift = 28; shift >= 0; shift -= 4) name += kHex[(pid >> shift) & 0xF];
  name += '-';
  name += std::to_string(attempt);
  name += kTemporarySuffix;
  return name;
}

// The process id in a temporary file's name; nothing for any other name.
std::optional<std::uint32_t> WriterOfTemporary(const std::u16string& name) {
  const std::size_t prefix = sizeof kTemporaryPrefix - 1;
  const std::size_t suffix = sizeof kTemporarySuffix - 1;
  if (name.size() < prefix + kPidDigits + 2 + suffix || name.compare(0, prefix, u"~ch") != 0 ||
      name.compare(name.size() - suffix, suffix, u".tmp") != 0 || name[prefix + kPidDigits] != u'-') {
    return std::nullopt;
  }
  std::uint32_t pid = 0;
  for (std::size_t i = prefix; i < prefix + kPidDigits; ++i) {
    const char16_t c = name[i];
    const int digit = c >= u'0' && c <= u'9' ? c - u'0' : c >= u'a' && c <= u'f' ? c - u'a' + 10 : -1;
    if (digit < 0) return std::nullopt;
    pid = (pid << 4) | static_cast<std::uint32_t>(digit);
  }
  for (std::size_t i = prefix + kPidDigits + 1; i < name.size() - suffix; ++i) {
    if (name[i] < u'0' || name[i] > u'9') return std::nullopt;
  }
  if (name.size() - suffix <= prefix + kPidDigits + 1) return std::nullopt;
  return pid;
}

// A writer killed in the middle of a write leaves its temporary file behind;
// the next write into the folder removes those of writers that no longer
// run. A name that has become a link, or that can't be looked at, is left
// alone. `self` is this process's id.
void RemoveStaleTemporaries(Env* env, const std::string& path, std::uint32_t self) {
  std::vector<std::u16string> names;
  if (!env->ListFolder(WideFolderOf(path), &names).ok()) return;
  const std::u16string folder = Wide(FolderPart(path));
  for (const std::u16string& name : names) {
    const std::optional<std::uint32_t> pid = WriterOfTemporary(name);
    if (!pid || *pid == self) continue;
    bool running = true;
    if (!env->ProcessRunning(*pid, &running).ok() || running) continue;
    const std::u16string stale = folder + name;
    bool link = true;
    if (env->IsLink(stale, &link).ok() && !link) static_cast<void>(env->RemoveFile(stale));
  }
}

// Makes the folder's new entry durable where the platform needs that.
void FlushFolderOf(Env* env, const std::string& path) { static_cast<void>(env->FlushFolder(WideFolderOf(path))); }

// Gives a file its new content: fresh, under a name that must not exist yet
// (kCreateNew: Code::kExists when it does), or in place over an existing
// file (kReplaceContent).
using ContentWriter = std::function<Status(Env* env, const std::u16string& path, WriteMode mode)>;

// Puts new content in place of `path` without ever leaving it half-written:
// the content goes to a temporary file in the same folder, which then
// replaces the target in one step, and the folder is flushed. When the
// folder forbids new files, or the platform refuses the replacement because
// another process holds the target open, the content is written in place
// instead, unless `whenNotReplaceable` says to leave the target. A read-only
// target is never touched.
Status ReplaceDurably(const std::string& path, const ContentWriter& write,
                      WhenNotReplaceable whenNotReplaceable = WhenNotReplaceable::kWriteInPlace) {
  Env* env = CurrentEnv();
  const std::u16string target = Wide(path);
  if (target.empty()) return Status(Code::kBadPath, path);
  std::uint32_t attributes = 0;
  if (env->GetAttributes(target, &attributes).ok() && (attributes & kNotWritableAttributes) != 0) {
    return Status(Code::kAccessDenied, path);
  }
  const std::uint32_t pid = env->ProcessId();
  RemoveStaleTemporaries(env, path, pid);

  // A fresh temporary file in the target's folder; names left behind by a
  // crashed writer that still runs are skipped.
  constexpr unsigned kAttempts = 100;
  std::u16string temporary;
  Status written(Code::kExists);
  for (unsigned attempt = 0; attempt < kAttempts && written.Is(Code::kExists); ++attempt) {
    temporary = Wide(TemporaryName(path, pid, attempt));
    written = write(env, temporary, WriteMode::kCreateNew);
  }
  Status failure;
  if (written.ok()) {
    failure = env->MoveFileReplacing(temporary, target);
    if (failure.ok()) {
      FlushFolderOf(env, path);
      return Status();
    }
    static_cast<void>(env->RemoveFile(temporary));
    // Another process holds the target open, so it cannot be replaced; its
    // content can still be rewritten in place.
    if (!failure.Is(Code::kSharingViolation) && !failure.Is(Code::kAccessDenied)) return failure;
  } else {
    if (!written.Is(Code::kExists)) static_cast<void>(env->RemoveFile(temporary));
    // The folder forbids new files, while the target itself may be writable.
    if (!written.Is(Code::kAccessDenied)) return written;
    failure = written;
  }
  // Only an existing target that may still be written is rewritten in place.
  if (whenNotReplaceable == WhenNotReplaceable::kLeaveTarget) return failure;
  if (!env->GetAttributes(target, &attributes).ok() || (attributes & kNotWritableAttributes) != 0) return failure;
  return write(env, target, WriteMode::kReplaceContent);
}

// A copy is made whole before it takes the target's place, so that a process
// killed in the middle of it leaves the old target.
Status CopyDurably(const std::string& source, const std::string& target, WhenNotReplaceable whenNotReplaceable) {
  const std::u16string from = Wide(source);
  return ReplaceDurably(
      target,
      [&from](Env* env, const std::u16string& file, WriteMode mode) {
        Status copied = env->CopyOver(from, file, mode);
        if (copied.ok()) static_cast<void>(env->FlushFile(file));
        return copied;
      },
      whenNotReplaceable);
}

// The attributes of `path`; nothing when they can't be had.
std::optional<std::uint32_t> AttributesOf(const std::string& path) {
  return UnlessOutOfMemory(std::nullopt, [&path]() -> std::optional<std::uint32_t> {
    std::uint32_t attributes = 0;
    if (!CurrentEnv()->GetAttributes(Wide(path), &attributes).ok()) return std::nullopt;
    return attributes;
  });
}

Status EnsureFolderIn(Env* env, const std::string& path) {
  std::uint32_t attributes = 0;
  if (env->GetAttributes(Wide(path), &attributes).ok()) {
    return (attributes & kAttributeDirectory) != 0 ? Status() : Status(Code::kExists, path);
  }
  const std::string parent = ParentPath(path);
  // "." that does not exist (the working folder was removed) is its own
  // parent; a parent that could not be formed is none.
  if (parent.empty() || parent == path) return Status(Code::kNotFound, path);
  Status parentMade = EnsureFolderIn(env, parent);
  if (!parentMade.ok()) return parentMade;
  return env->CreateFolderChain(Wide(path));
}

}  // namespace

bool platform::RacyStamp(std::int64_t lastWriteTime, std::int64_t changeTime, std::int64_t takenAt,
                         std::int64_t ticksPerSecond, std::int64_t clockStep) {
  // A file system that records whole seconds (FAT: two) shows it in every
  // time it records; any other records the clock as it stood, one step at
  // a time. A write sets both times, so the last-write time tells how close
  // the stamp came to the last write.
  const bool wholeSeconds = lastWriteTime % ticksPerSecond == 0 && changeTime % ticksPerSecond == 0;
  const std::int64_t granularity = wholeSeconds ? 2 * ticksPerSecond : clockStep;
  return takenAt - lastWriteTime <= granularity;
}

// ---- Tests -------------------------------------------------------------------

bool PathExists(const std::string& path) { return AttributesOf(path).has_value(); }

bool IsDirectory(const std::string& path) {
  const std::optional<std::uint32_t> attributes = AttributesOf(path);
  return attributes && (*attributes & kAttributeDirectory) != 0;
}

bool IsRegularFile(const std::string& path) {
  const std::optional<std::uint32_t> attributes = AttributesOf(path);
  return attributes && (*attributes & kAttributeDirectory) == 0;
}

Status DescribePath(const std::string& path, PathFacts* facts) {
  if (facts == nullptr) return Code::kBadPath;
  return Run([&path, facts] {
    PathFacts found;
    Status status = CurrentEnv()->DescribePath(Wide(path), &found);
    if (status.ok()) *facts = std::move(found);
    return status;
  });
}

Status GetPathAttributes(const std::string& path, std::uint32_t* attributes) {
  if (attributes == nullptr) return Code::kBadPath;
  return Run([&path, attributes] {
    std::uint32_t found = 0;
    Status status = CurrentEnv()->GetAttributes(Wide(path), &found);
    if (status.ok()) *attributes = found;
    return status;
  });
}

Status StampFile(const std::string& path, FileStamp* stamp, Links links) {
  if (stamp == nullptr) return Code::kBadPath;
  return Run([&path, stamp, links] {
    FileStamp found;
    Status status = CurrentEnv()->GetFileStamp(Wide(path), links, &found);
    if (status.ok()) *stamp = found;
    return status;
  });
}

Status StampAfterChange(const std::string& path, FileStamp* stamp, Links links) {
  Status status = StampFile(path, stamp, links);
  if (status.ok()) stamp->racy = true;
  return status;
}

// ---- Folder creation -----------------------------------------------------------

Status CreateFolder(const std::string& path) {
  return Run([&path]() -> Status {
    const std::u16string wide = Wide(path);
    // A path that could not be converted never reaches the platform.
    if (wide.empty() && !path.empty()) return Status(Code::kBadPath, path);
    return CurrentEnv()->CreateFolder(wide);
  });
}

Status EnsureFolder(const std::string& path) {
  return Run([&path] { return EnsureFolderIn(CurrentEnv(), path); });
}

// ---- File changes ----------------------------------------------------------------

Status ClearFileAttributes(const std::string& path) {
  return Run([&path] { return CurrentEnv()->SetAttributesNormal(Wide(path)); });
}

Status CopyFileOver(const std::string& source, const std::string& target, CopiedAttributes attributes,
                    WhenNotReplaceable whenNotReplaceable) {
  return Run([&source, &target, attributes, whenNotReplaceable] {
    Status copied = CopyDurably(source, target, whenNotReplaceable);
    if (copied.ok() && attributes == CopiedAttributes::kNormal) static_cast<void>(ClearFileAttributes(target));
    return copied;
  });
}

Status MoveFileReplacing(const std::string& source, const std::string& target) {
  return Run([&source, &target] {
    Env* env = CurrentEnv();
    Status moved = env->MoveFileReplacing(Wide(source), Wide(target));
    if (moved.ok()) FlushFolderOf(env, target);
    return moved;
  });
}

Status RemoveFile(const std::string& path) {
  return Run([&path] { return CurrentEnv()->RemoveFile(Wide(path)); });
}

void FlushFolder(const std::string& folder) {
  UnlessOutOfMemory(true, [&folder] { return CurrentEnv()->FlushFolder(Wide(folder)).ok(); });
}

Status WriteFileDurably(const std::string& path, const std::string& bytes) {
  return Run([&path, &bytes] {
    const std::u16string target = Wide(path);
    return ReplaceDurably(path, [&bytes, &target](Env* env, const std::u16string& file, WriteMode mode) {
      Status written = env->WriteWholeFile(file, bytes, mode);
      // A file rewritten through a new one keeps its owner and mode: the
      // product that reads it may not be the process that rewrites it.
      if (!written.ok() || mode != WriteMode::kCreateNew) return written;
      return env->TakeOwnerAndMode(file, target);
    });
  });
}

// ---- Shared file access ------------------------------------------------------------

void FileCloser::operator()(std::FILE* f) const {
  if (f != nullptr) std::fclose(f);
}

Status OpenFileShared(const std::string& path, const char* mode, UniqueFile* file) {
  if (mode == nullptr) return Code::kBadPath;
  return Run([&path, mode, file] {
    std::FILE* opened = nullptr;
    Status status = CurrentEnv()->OpenShared(Wide(path), mode, &opened);
    if (status.ok()) file->reset(opened);
    return status;
  });
}

Status OpenForReading(const std::string& path, OpenedForReading* opened) {
  return Run([&path, opened] {
    Found found = Found::kNothing;
    std::FILE* file = nullptr;
    const Status status = CurrentEnv()->OpenForReading(Wide(path), &found, &file);
    UniqueFile owned(file);
    // A name that cannot be looked up has nothing standing at it either.
    if (status.Is(Code::kNotFound) || status.Is(Code::kBadPath)) {
      found = Found::kNothing;
    } else if (!status.ok()) {
      return status;
    }
    opened->found = found;
    opened->file = std::move(owned);
    return Status();
  });
}

// ---- Folder listing ------------------------------------------------------------------

Status ListFolder(const std::string& folder, std::vector<std::u16string>* names) {
  return Run([&folder, names] {
    std::vector<std::u16string> found;
    Status status = CurrentEnv()->ListFolder(Wide(folder), &found);
    if (!status.ok()) return status;
    found.erase(std::remove_if(found.begin(), found.end(),
                               [](const std::u16string& name) { return name == u"." || name == u".."; }),
                found.end());
    names->swap(found);
    return Status();
  });
}

// ---- Paths handed to libraries ----------------------------------------------------------

std::string NativePath(const std::string& path) {
  return UnlessOutOfMemory(std::string(), [&path] { return platform::NativePath(path); });
}

}  // namespace customhooks::fs
