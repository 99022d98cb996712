#include "fs/folders.h"

#include <cstdlib>
#include <cstring>
#include <optional>

#include "fs/env.h"
#include "fs/files.h"
#include "fs/guard.h"
#include "fs/text.h"

namespace customhooks::fs {
namespace {

SpecialFolder FolderOfKind(unsigned kind) {
  switch (kind) {
    case kFolderCommonFiles:
    case 3:
      return SpecialFolder::kCommonFiles;
    case kFolderCommonAppData:
      return SpecialFolder::kCommonAppData;
    default:
      return SpecialFolder::kCommonFilesX86;
  }
}

}  // namespace

char* GetSpecialFolderPath(char* buffer, unsigned kind) {
  if (buffer == nullptr) return nullptr;
  const SpecialFolder folder = FolderOfKind(kind);
  std::u16string wide;
  const bool found =
      Guarded(false, [folder, &wide] { return CurrentEnv()->GetSpecialFolder(folder, true, &wide).ok(); });
  if (!found) {
    if (folder == SpecialFolder::kCommonFilesX86) return GetSpecialFolderPath(buffer, kFolderCommonFiles);
    return nullptr;
  }
  char* utf8 = WideToUtf8Alloc(wide.c_str());
  if (utf8 == nullptr) return nullptr;
  char* result = CopyStringPadded(buffer, utf8, kPathBufferSize, kPathBufferSize);
  std::free(utf8);
  return result;
}

bool LocateCommonFilesFolder(std::string& out) {
  return Guarded(false, [&out] {
    Env* env = CurrentEnv();
    std::optional<std::u16string> located;
    std::u16string wide;
    if (env->LocateSpecialFolder(SpecialFolder::kCommonFiles, &located).ok()) {
      // Located without a path: nothing to build on.
      if (!located) return false;
      wide = std::move(*located);
    } else if (!env->GetSpecialFolder(SpecialFolder::kCommonFiles, false, &wide).ok()) {
      return false;
    }
    // An empty answer names no folder: nothing to build on.
    if (wide.empty()) return false;
    if (wide.back() == u'\\') wide.pop_back();
    std::string folder = WideToUtf8(wide);
    if (folder.empty()) return false;
    out.swap(folder);
    return true;
  });
}

}  // namespace customhooks::fs
