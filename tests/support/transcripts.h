// The transcripts of session scenarios: tests/transcripts/NAME.txt holds
// what kxhost prints when it drives the library through the scenario's whole
// session (or, for a scenario only a suite sets up, through SessionClose
// alone), with the machine's program files folder written as PROGRAM_FILES.
// The kxhost checks compare kxhost's output with the file whole; the suites
// here compare the lines the library logs at one entry with the file's
// lines for that entry. The lines of a whole entry are written in src and in
// its transcript, nowhere else; a check of one step or of one line that a
// fault changes (the driver records, the locale fix-up, the reliability and
// fuzz checks) spells only the lines it checks.
#ifndef CUSTOMHOOKS_TESTS_SUPPORT_TRANSCRIPTS_H_
#define CUSTOMHOOKS_TESTS_SUPPORT_TRANSCRIPTS_H_

#include <string>
#include <vector>

// What the library did at one entry of a transcript's session.
struct EntryTranscript {
  std::vector<std::string> lines;  // logged through the host's callback, in order
  int status = -1;                 // returned to the host
};

// The lines the library logged at `entry` (as kxhost names it:
// "SessionClose", "PrePayload", ...) in the transcript `name`, with
// PROGRAM_FILES replaced by `programFiles`: those after kxhost's line of the
// entry before it, up to "kxhost: <entry> returned <status>". Gives no
// lines, and says why in `error`, when the file or the entry is missing.
// Defined in transcript_file.cpp, which needs no test framework: the
// benchmarks read the transcripts too.
EntryTranscript ReadTranscriptEntry(const std::string& name, const std::string& entry,
                                    const std::string& programFiles, std::string* error);

// ReadTranscriptEntry, adding a test failure when the file or the entry is
// missing.
EntryTranscript TranscriptOfEntry(const std::string& name, const std::string& entry,
                                  const std::string& programFiles = std::string());

// The lines of `lines` from the first one equal to `first` up to, not
// including, the next one that starts with `stop` (to the end when none
// does); none when no line equals `first`.
std::vector<std::string> LinesFrom(const std::vector<std::string>& lines, const std::string& first,
                                   const std::string& stop);

#endif  // CUSTOMHOOKS_TESTS_SUPPORT_TRANSCRIPTS_H_
