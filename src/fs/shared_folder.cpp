#include "fs/shared_folder.h"

#include "fs/guard.h"
#include "fs/platform.h"
#include "fs/text.h"

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
