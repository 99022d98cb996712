#include "fs/shared_folder.h"

#include "fs/guard.h"
#include "fs/platform.h"
#include "fs/text.h"

namespace fsplatform {
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

}  // namespace fsplatform

CheckedFolderScope::CheckedFolderScope(const std::string& folder)
    : folder_(fsguard::Guarded<fsplatform::CheckedFolder*>(nullptr,
                                                          [&folder] { return fsplatform::CheckFolder(folder); })) {}

CheckedFolderScope::~CheckedFolderScope() { fsplatform::UncheckFolder(folder_); }

SystemCallReplacement CheckedOpenCall() { return {fsplatform::OpenCallName(), fsplatform::CheckedOpenCall()}; }

void ForwardCheckedOpenTo(void (*original)(void)) { fsplatform::ForwardOpenCallTo(original); }

bool IsPlantedLink(const std::string& path) {
  return fsguard::Guarded(false, [&path] { return fsplatform::IsLink(Utf8ToWide(path).c_str()); });
}

bool RemovePlantedLink(const std::string& path) {
  return fsguard::Guarded(false, [&path] { return fsplatform::RemoveLink(Utf8ToWide(path).c_str()); });
}
