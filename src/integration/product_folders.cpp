#include "integration/product_folders.h"

#include "fs/folders.h"

bool LocatePcfFolder(std::string& folder) {
  char buffer[kPathBufferSize];
  if (EnsureCommonDataFolder(buffer) == nullptr) return false;
  folder = std::string(buffer) + "\\PCF";
  return true;
}
