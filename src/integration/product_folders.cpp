#include "integration/product_folders.h"

#include "fs/folders.h"

bool LocatePcfFolder(std::string& folder) {
  char buffer[customhooks::fs::kPathBufferSize];
  if (customhooks::fs::EnsureCommonDataFolder(buffer) == nullptr) return false;
  folder = std::string(buffer) + "\\PCF";
  return true;
}
