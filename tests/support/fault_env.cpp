#include "support/fault_env.h"

namespace customhooks::fs {

const char* NameOf(EnvCall call) {
  static const char* const kNames[] = {
      "any",           "GetSpecialFolder",  "LocateSpecialFolder", "GetAttributes",       "GetFileStamp",        "IsLink",
      "ListFolder",    "OpenShared",        "OpenForReading",      "CreateFolder",        "CreateFolderChain",   "SetAttributesNormal",
      "MoveFileReplacing", "CopyOver",      "WriteWholeFile",      "TakeOwnerAndMode",    "RemoveFile",          "RemoveLink",
      "FlushFile",     "FlushFolder",       "SetFolderAccess",     "ProcessId",           "ProcessRunning",
  };
  static_assert(sizeof kNames / sizeof kNames[0] == static_cast<std::size_t>(EnvCall::kProcessRunning) + 1,
                "a name for every call");
  return kNames[static_cast<std::size_t>(call)];
}

FaultEnv::FaultEnv() : FaultEnv(Env::Default()) {}

FaultEnv::FaultEnv(Env* target) : EnvWrapper(target) {}

void FaultEnv::FailNth(EnvCall call, unsigned long n, Code code) {
  chosen_ = call;
  failing_ = n;
  code_ = code;
  counted_ = 0;
  made_.clear();
}

Status FaultEnv::Enter(EnvCall call) {
  made_.emplace_back(NameOf(call));
  if (chosen_ != EnvCall::kAny && chosen_ != call) return Status();
  if (++counted_ != failing_) return Status();
  return Status(code_, std::string("injected into ") + NameOf(call));
}

Status FaultEnv::GetSpecialFolder(SpecialFolder folder, MissingFolder missing, std::u16string* path) {
  return Through(EnvCall::kGetSpecialFolder, [&] { return EnvWrapper::GetSpecialFolder(folder, missing, path); });
}

Status FaultEnv::LocateSpecialFolder(SpecialFolder folder, std::optional<std::u16string>* path) {
  return Through(EnvCall::kLocateSpecialFolder, [&] { return EnvWrapper::LocateSpecialFolder(folder, path); });
}

Status FaultEnv::GetAttributes(const std::u16string& path, std::uint32_t* attributes) {
  return Through(EnvCall::kGetAttributes, [&] { return EnvWrapper::GetAttributes(path, attributes); });
}

Status FaultEnv::GetFileStamp(const std::u16string& path, Links links, FileStamp* stamp) {
  return Through(EnvCall::kGetFileStamp, [&] { return EnvWrapper::GetFileStamp(path, links, stamp); });
}

Status FaultEnv::IsLink(const std::u16string& path, bool* link) {
  return Through(EnvCall::kIsLink, [&] { return EnvWrapper::IsLink(path, link); });
}

Status FaultEnv::ListFolder(const std::u16string& folder, std::vector<std::u16string>* names) {
  return Through(EnvCall::kListFolder, [&] { return EnvWrapper::ListFolder(folder, names); });
}

Status FaultEnv::OpenShared(const std::u16string& path, const char* mode, std::FILE** file) {
  return Through(EnvCall::kOpenShared, [&] { return EnvWrapper::OpenShared(path, mode, file); });
}

Status FaultEnv::OpenForReading(const std::u16string& path, Found* found, std::FILE** file) {
  return Through(EnvCall::kOpenForReading, [&] { return EnvWrapper::OpenForReading(path, found, file); });
}

Status FaultEnv::CreateFolder(const std::u16string& path) {
  return Through(EnvCall::kCreateFolder, [&] { return EnvWrapper::CreateFolder(path); });
}

Status FaultEnv::CreateFolderChain(const std::u16string& path) {
  return Through(EnvCall::kCreateFolderChain, [&] { return EnvWrapper::CreateFolderChain(path); });
}

Status FaultEnv::SetAttributesNormal(const std::u16string& path) {
  return Through(EnvCall::kSetAttributesNormal, [&] { return EnvWrapper::SetAttributesNormal(path); });
}

Status FaultEnv::MoveFileReplacing(const std::u16string& source, const std::u16string& target) {
  return Through(EnvCall::kMoveFileReplacing, [&] { return EnvWrapper::MoveFileReplacing(source, target); });
}

Status FaultEnv::CopyOver(const std::u16string& source, const std::u16string& target, WriteMode mode) {
  return Through(EnvCall::kCopyOver, [&] { return EnvWrapper::CopyOver(source, target, mode); });
}

Status FaultEnv::WriteWholeFile(const std::u16string& path, std::string_view bytes, WriteMode mode) {
  return Through(EnvCall::kWriteWholeFile, [&] { return EnvWrapper::WriteWholeFile(path, bytes, mode); });
}

Status FaultEnv::TakeOwnerAndMode(const std::u16string& path, const std::u16string& model) {
  return Through(EnvCall::kTakeOwnerAndMode, [&] { return EnvWrapper::TakeOwnerAndMode(path, model); });
}

Status FaultEnv::RemoveFile(const std::u16string& path) {
  return Through(EnvCall::kRemoveFile, [&] { return EnvWrapper::RemoveFile(path); });
}

Status FaultEnv::RemoveLink(const std::u16string& path) {
  return Through(EnvCall::kRemoveLink, [&] { return EnvWrapper::RemoveLink(path); });
}

Status FaultEnv::FlushFile(const std::u16string& path) {
  return Through(EnvCall::kFlushFile, [&] { return EnvWrapper::FlushFile(path); });
}

Status FaultEnv::FlushFolder(const std::u16string& folder) {
  return Through(EnvCall::kFlushFolder, [&] { return EnvWrapper::FlushFolder(folder); });
}

Status FaultEnv::SetFolderAccess(const std::u16string& folder, const std::vector<AccessEntry>& entries) {
  return Through(EnvCall::kSetFolderAccess, [&] { return EnvWrapper::SetFolderAccess(folder, entries); });
}

std::uint32_t FaultEnv::ProcessId() {
  static_cast<void>(Enter(EnvCall::kProcessId));
  return EnvWrapper::ProcessId();
}

Status FaultEnv::ProcessRunning(std::uint32_t pid, bool* running) {
  return Through(EnvCall::kProcessRunning, [&] { return EnvWrapper::ProcessRunning(pid, running); });
}

}  // namespace customhooks::fs
