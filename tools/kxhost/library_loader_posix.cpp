#include <dlfcn.h>

#include "library_loader.h"

namespace {
class PosixLibrary : public LoadedLibrary {
 public:
  explicit PosixLibrary(void* handle) : handle_(handle) {}
  ~PosixLibrary() override { dlclose(handle_); }
  void* Find(const char* name) const override { return dlsym(handle_, name); }

 private:
  void* handle_;
};
}  // namespace

std::unique_ptr<LoadedLibrary> LoadedLibrary::Load(const std::string& utf8Path, std::string& error) {
  // A bare name would be searched on the library path; the user means a file.
  std::string path = utf8Path.find('/') == std::string::npos ? "./" + utf8Path : utf8Path;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    error = why ? why : "unknown error";
    return nullptr;
  }
  return std::make_unique<PosixLibrary>(handle);
}
