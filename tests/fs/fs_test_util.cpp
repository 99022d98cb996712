#include "fs_test_util.h"

#include "fs/folders.h"

using namespace customhooks::fs;

std::string Special(SpecialFolder folder) {
  std::string found;
  return FindSpecialFolder(folder, &found).ok() ? found : std::string("<failed>");
}
