// Loading a hook library and resolving its exports, one implementation per OS.
#ifndef CUSTOMHOOKS_TOOLS_KXHOST_LIBRARY_LOADER_H_
#define CUSTOMHOOKS_TOOLS_KXHOST_LIBRARY_LOADER_H_

#include <memory>
#include <string>

class LoadedLibrary {
 public:
  // Loads the library at `utf8Path`. Null with `error` set on failure.
  static std::unique_ptr<LoadedLibrary> Load(const std::string& utf8Path, std::string& error);
  virtual ~LoadedLibrary() = default;
  // The address of an exported name, or null.
  virtual void* Find(const char* name) const = 0;
};

#endif  // CUSTOMHOOKS_TOOLS_KXHOST_LIBRARY_LOADER_H_
