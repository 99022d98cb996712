// Second process of the configuration-document tests: keeps a file open for
// reading and writing until told to let go.
//   file_holder <file> <ready marker> <release marker>
// Creates the ready marker once the file is open, then waits (at most a
// minute) for the release marker to appear. Exit status 0, or 1 when the
// file cannot be opened.
#include <chrono>
#include <cstdio>
#include <thread>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  std::FILE* held = std::fopen(argv[1], "r+b");
  if (held == nullptr) return 1;
  if (std::FILE* ready = std::fopen(argv[2], "wb")) std::fclose(ready);
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(60)) {
    if (std::FILE* release = std::fopen(argv[3], "rb")) {
      std::fclose(release);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::fclose(held);
  return 0;
}
