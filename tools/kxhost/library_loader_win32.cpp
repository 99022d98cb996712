#include <windows.h>

#include <string>

#include "library_loader.h"

namespace {
class Win32Library : public LoadedLibrary {
 public:
  explicit Win32Library(HMODULE module) : module_(module) {}
  ~Win32Library() override { FreeLibrary(module_); }
  void* Find(const char* name) const override {
    return reinterpret_cast<void*>(GetProcAddress(module_, name));
  }

 private:
  HMODULE module_;
};

std::wstring Widen(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
  return wide;
}
}  // namespace

std::unique_ptr<LoadedLibrary> LoadedLibrary::Load(const std::string& utf8Path, std::string& error) {
  HMODULE module = LoadLibraryW(Widen(utf8Path).c_str());
  if (module == nullptr) {
    error = "LoadLibraryW failed with error " + std::to_string(GetLastError());
    return nullptr;
  }
  return std::make_unique<Win32Library>(module);
}
