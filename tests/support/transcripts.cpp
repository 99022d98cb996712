#include "support/transcripts.h"

#include <algorithm>
#include <fstream>

#include <gtest/gtest.h>

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

EntryTranscript TranscriptOfEntry(const std::string& name, const std::string& entry,
                                  const std::string& programFiles) {
  EntryTranscript transcript;
  std::ifstream in(TranscriptPath(name), std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "no transcript " << TranscriptPath(name);
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
  ADD_FAILURE() << "transcript " << name << " has no entry " << entry;
  return transcript;
}

std::vector<std::string> LinesFrom(const std::vector<std::string>& lines, const std::string& first,
                                   const std::string& stop) {
  const auto begin = std::find(lines.begin(), lines.end(), first);
  const auto end = std::find_if(begin == lines.end() ? begin : begin + 1, lines.end(),
                                [&stop](const std::string& line) { return line.rfind(stop, 0) == 0; });
  return std::vector<std::string>(begin, end);
}
