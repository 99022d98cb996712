#include "support/transcripts.h"

#include <fstream>

namespace {

const char kProgramFiles[] = "PROGRAM_FILES";
const char kHostPrefix[] = "kxhost: ";

std::string TranscriptPath(const std::string& name) {
  std::string path = std::string(CH_TRANSCRIPTS_DIR) + "/" + name + ".txt";
#if defined(_WIN32)
  // Wine shows the POSIX root as drive Z:.
  if (path[0] == '/') path = "Z:" + path;
#endif
  return path;
}

}  // namespace

EntryTranscript ReadTranscriptEntry(const std::string& name, const std::string& entry,
                                    const std::string& programFiles, std::string* error) {
  EntryTranscript transcript;
  std::ifstream in(TranscriptPath(name), std::ios::binary);
  if (!in) {
    *error = "no transcript " + TranscriptPath(name);
    return transcript;
  }
  const std::string returned = kHostPrefix + entry + " returned ";
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(returned, 0) == 0) {
      transcript.lines = lines;
      transcript.status = std::stoi(line.substr(returned.size()));
      return transcript;
    }
    if (line.rfind(kHostPrefix, 0) == 0) {
      lines.clear();
      continue;
    }
    for (size_t at = line.find(kProgramFiles); at != std::string::npos;
         at = line.find(kProgramFiles, at + programFiles.size())) {
      line.replace(at, sizeof(kProgramFiles) - 1, programFiles);
    }
    lines.push_back(line);
  }
  *error = "transcript " + name + " has no entry " + entry;
  return transcript;
}
