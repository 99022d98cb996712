#include "support/transcripts.h"

#include <algorithm>

#include <gtest/gtest.h>

EntryTranscript TranscriptOfEntry(const std::string& name, const std::string& entry,
                                  const std::string& programFiles) {
  std::string error;
  EntryTranscript transcript = ReadTranscriptEntry(name, entry, programFiles, &error);
  if (!error.empty()) ADD_FAILURE() << error;
  return transcript;
}

std::vector<std::string> LinesFrom(const std::vector<std::string>& lines, const std::string& first,
                                   const std::string& stop) {
  const auto begin = std::find(lines.begin(), lines.end(), first);
  const auto end = std::find_if(begin == lines.end() ? begin : begin + 1, lines.end(),
                                [&stop](const std::string& line) { return line.rfind(stop, 0) == 0; });
  return std::vector<std::string>(begin, end);
}
