// An Env for tests that makes chosen calls of the file-system layer fail and
// records every call made, in order. It forwards to another Env (the
// platform's by default); install it for the whole process with
// customhooks::fs::ScopedEnv. Test support only: no shipped binary holds it.
#ifndef CUSTOMHOOKS_TESTS_SUPPORT_FAULT_ENV_H_
#define CUSTOMHOOKS_TESTS_SUPPORT_FAULT_ENV_H_

#include <string>
#include <vector>

#include "fs/env.h"

namespace customhooks::fs {

// The calls of an Env, named as its methods; kAny stands for every one.
enum class EnvCall {
  kAny,
  kGetSpecialFolder,
  kLocateSpecialFolder,
  kGetAttributes,
  kGetFileStamp,
  kIsLink,
  kListFolder,
  kOpenShared,
  kOpenForReading,
  kCreateFolder,
  kCreateFolderChain,
  kSetAttributesNormal,
  kMoveFileReplacing,
  kCopyOver,
  kWriteWholeFile,
  kTakeOwnerAndMode,
  kRemoveFile,
  kRemoveLink,
  kFlushFile,
  kFlushFolder,
  kSetFolderAccess,
  kProcessId,
  kProcessRunning,
};

// The method's name ("MoveFileReplacing"); "any" for kAny.
const char* NameOf(EnvCall call);

class FaultEnv : public EnvWrapper {
 public:
  // Forwards to the platform's Env.
  FaultEnv();
  explicit FaultEnv(Env* target);

  // Restarts the count and the record of calls: the `n`-th call of `call`
  // from now on (1: the next one; of any call for kAny) fails with `code`
  // without reaching the Env below. 0 lets every call through. ProcessId
  // cannot fail; chosen, it is only counted.
  void FailNth(EnvCall call, unsigned long n, Code code = Code::kFailed);

  // Calls of the chosen kind made since FailNth.
  unsigned long CallsSinceArmed() const { return counted_; }
  // Every call made since FailNth, by name, in order.
  const std::vector<std::string>& CallsMade() const { return made_; }

  Status GetSpecialFolder(SpecialFolder folder, MissingFolder missing, std::u16string* path) override;
  Status LocateSpecialFolder(SpecialFolder folder, std::optional<std::u16string>* path) override;
  Status GetAttributes(const std::u16string& path, std::uint32_t* attributes) override;
  Status GetFileStamp(const std::u16string& path, Links links, FileStamp* stamp) override;
  Status IsLink(const std::u16string& path, bool* link) override;
  Status ListFolder(const std::u16string& folder, std::vector<std::u16string>* names) override;
  Status OpenShared(const std::u16string& path, const char* mode, std::FILE** file) override;
  Status OpenForReading(const std::u16string& path, Found* found, std::FILE** file) override;
  Status CreateFolder(const std::u16string& path) override;
  Status CreateFolderChain(const std::u16string& path) override;
  Status SetAttributesNormal(const std::u16string& path) override;
  Status MoveFileReplacing(const std::u16string& source, const std::u16string& target) override;
  Status CopyOver(const std::u16string& source, const std::u16string& target, WriteMode mode) override;
  Status WriteWholeFile(const std::u16string& path, std::string_view bytes, WriteMode mode) override;
  Status TakeOwnerAndMode(const std::u16string& path, const std::u16string& model) override;
  Status RemoveFile(const std::u16string& path) override;
  Status RemoveLink(const std::u16string& path) override;
  Status FlushFile(const std::u16string& path) override;
  Status FlushFolder(const std::u16string& folder) override;
  Status SetFolderAccess(const std::u16string& folder, const std::vector<AccessEntry>& entries) override;
  std::uint32_t ProcessId() override;
  Status ProcessRunning(std::uint32_t pid, bool* running) override;

 private:
  // Records the call; the failure it must give, or success to go on.
  Status Enter(EnvCall call);
  // The injected failure, or what `forward` (the call to the Env below)
  // gives.
  template <typename Forward>
  Status Through(EnvCall call, Forward&& forward) {
    Status entered = Enter(call);
    return entered.ok() ? forward() : entered;
  }

  EnvCall chosen_ = EnvCall::kAny;
  unsigned long failing_ = 0;
  Code code_ = Code::kFailed;
  unsigned long counted_ = 0;
  std::vector<std::string> made_;
};

}  // namespace customhooks::fs

#endif  // CUSTOMHOOKS_TESTS_SUPPORT_FAULT_ENV_H_
