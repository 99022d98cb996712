#include "fs/shared_folder.h"

#include "fs/env.h"
#include "fs/platform.h"
#include "fs/text.h"

namespace customhooks::fs {
namespace platform {
namespace {

char16_t UpperAscii(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

// Final paths name the same file whatever the case of their letters; only
// ASCII letters are folded, which is all a difference can be made of between
// a name the module built and the name the system kept.
bool SamePathIgnoringCase(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

bool IsOwnFolder(const OpenedFacts& folder) { return !folder.regular && !folder.reparsePoint; }

bool IsOwnFile(const OpenedFacts& file, const OpenedFacts& folder, const std::u16string& name) {
  if (!file.regular || file.reparsePoint || file.links != 1 || file.volume != folder.volume) return false;
  return SamePathIgnoringCase(file.finalPath, folder.finalPath.empty() ? std::u16string() : folder.finalPath + u'\\' + name);
}

}  // namespace platform

namespace {

// The checked folder of each thread; the library's opens on that thread
// are checked against it.
thread_local platform::CheckedFolder* activeFolder = nullptr;

}  // namespace

platform::CheckedFolder* platform::ActiveCheckedFolder() { return activeFolder; }

HeldFolder::HeldFolder(const std::string& folder)
    : folder_(UnlessOutOfMemory(nullptr, [&folder] { return platform::OpenCheckedFolder(folder); })) {}

HeldFolder::~HeldFolder() { platform::CloseCheckedFolder(folder_); }

Status HeldFolder::Remove(const std::string& name, bool flush) const {
  if (folder_ == nullptr || name.empty() || name.find_first_of("\\/") != std::string::npos) {
    return Code::kAccessDenied;
  }
  return UnlessOutOfMemory(Code::kNoMemory, [&] { return platform::RemoveFromCheckedFolder(*folder_, name, flush); });
}

CheckedFolderScope::CheckedFolderScope(const HeldFolder& folder) : previous_(activeFolder) {
  activeFolder = folder.folder_;
}

CheckedFolderScope::~CheckedFolderScope() { activeFolder = previous_; }

SystemCallReplacement CheckedOpenCall() { return {platform::OpenCallName(), platform::CheckedOpenCall()}; }

void ForwardCheckedOpenTo(void (*original)(void)) { platform::ForwardOpenCallTo(original); }

bool IsPlantedLink(const std::string& path) {
  return UnlessOutOfMemory(false, [&path] {
    bool link = false;
    return CurrentEnv()->IsLink(Utf8ToWide(path), &link).ok() && link;
  });
}

Status RemovePlantedLink(const std::string& path) {
  return UnlessOutOfMemory(Code::kNoMemory, [&path] { return CurrentEnv()->RemoveLink(Utf8ToWide(path)); });
}

}  // namespace customhooks::fs
