#include "fs/folders.h"

#include <cstdlib>
#include <cstring>

#include "fs/files.h"
#include "fs/guard.h"
#include "fs/platform.h"
#include "fs/text.h"

namespace {

int CsidlOfKind(unsigned kind) {
  switch (kind) {
    case 1:
    case 3:
      return fsplatform::kCsidlProgramFilesCommon;
    case 255:
      return fsplatform::kCsidlCommonAppData;
    default:
      return fsplatform::kCsidlProgramFilesCommonX86;
  }
}

// Appends as strncat_s does with the buffer's size: false when the result
// and its terminator don't fit, the buffer then left as it was.
bool AppendToBuffer(char* buffer, const char* text) {
  const std::size_t used = strnlen(buffer, kPathBufferSize);
  const std::size_t extra = std::strlen(text);
  if (used >= kPathBufferSize || extra >= kPathBufferSize - used) return false;
  std::memcpy(buffer + used, text, extra + 1);
  return true;
}

}  // namespace

char* GetSpecialFolderPath(char* buffer, unsigned kind) {
  if (buffer == nullptr) return nullptr;
  const int csidl = CsidlOfKind(kind);
  std::u16string wide;
  const fsplatform::FsError found = fsguard::Guarded(fsplatform::FsError::kFailed, [csidl, &wide] {
    return fsplatform::GetFolderPath(csidl | fsplatform::kCsidlFlagCreate, wide);
  });
  if (found != fsplatform::FsError::kNone) {
    if (csidl == fsplatform::kCsidlProgramFilesCommonX86) return GetSpecialFolderPath(buffer, kFolderCommonFiles);
    return nullptr;
  }
  char* utf8 = WideToUtf8Alloc(wide.c_str());
  if (utf8 == nullptr) return nullptr;
  char* result = CopyStringPadded(buffer, utf8, kPathBufferSize, kPathBufferSize);
  std::free(utf8);
  return result;
}

char* EnsureCommonDataFolder(char* buffer) {
  if (GetSpecialFolderPath(buffer, kFolderCommonFilesX86) == nullptr) return nullptr;
  if (!AppendToBuffer(buffer, "\\") || !AppendToBuffer(buffer, "Orvik")) return nullptr;
  if (PathExistsUtf8(buffer) == 0 && MakeDirectoryUtf8(buffer) != 0) return nullptr;
  return buffer;
}

bool GetCommonDataFolder(std::string& out) {
  return fsguard::Guarded(false, [&out] {
    std::u16string wide;
    bool taken = false;
    switch (fsplatform::LocateFolder(fsplatform::kCsidlProgramFilesCommon, wide)) {
      case fsplatform::FolderLocation::kLocated:
        taken = true;
        break;
      case fsplatform::FolderLocation::kLocatedWithoutPath:
        break;
      case fsplatform::FolderLocation::kNotLocated:
        taken = fsplatform::GetFolderPath(fsplatform::kCsidlProgramFilesCommon, wide) == fsplatform::FsError::kNone;
        break;
    }
    // An empty answer names no folder: nothing to build on.
    if (!taken || wide.empty()) return false;
    if (wide.back() == u'\\') wide.pop_back();
    std::string folder = WideToUtf8(wide);
    if (folder.empty()) return false;
    folder += "\\Orvik";
    out.swap(folder);
    return true;
  });
}
