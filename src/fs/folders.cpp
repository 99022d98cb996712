#include "fs/folders.h"

#include <optional>

#include "fs/env.h"
#include "fs/files.h"
#include "fs/text.h"

namespace customhooks::fs {

Status FindSpecialFolder(SpecialFolder folder, std::string* path) {
  return UnlessOutOfMemory(Code::kNoMemory, [&] {
    std::u16string wide;
    Status found = CurrentEnv()->GetSpecialFolder(folder, MissingFolder::kCreate, &wide);
    if (!found.ok()) {
      if (folder == SpecialFolder::kCommonFilesX86) return FindSpecialFolder(SpecialFolder::kCommonFiles, path);
      return found;
    }
    std::string utf8 = WideToUtf8(wide);
    if (utf8.empty() || utf8.size() >= kPathBufferSize) return Status(Code::kBadPath, utf8);
    path->swap(utf8);
    return Status();
  });
}

Status LocateCommonFilesFolder(std::string* path) {
  return UnlessOutOfMemory(Code::kNoMemory, [&] {
    Env* env = CurrentEnv();
    std::optional<std::u16string> located;
    std::u16string wide;
    if (env->LocateSpecialFolder(SpecialFolder::kCommonFiles, &located).ok()) {
      // Located without a path: nothing to build on.
      if (!located) return Status(Code::kNotFound, "Common Files");
      wide = std::move(*located);
    } else {
      Status found = env->GetSpecialFolder(SpecialFolder::kCommonFiles, MissingFolder::kLeave, &wide);
      if (!found.ok()) return found;
    }
    if (!wide.empty() && wide.back() == u'\\') wide.pop_back();
    std::string folder = WideToUtf8(wide);
    // An empty answer names no folder: nothing to build on.
    if (folder.empty()) return Status(Code::kNotFound, "Common Files");
    path->swap(folder);
    return Status();
  });
}

}  // namespace customhooks::fs
