// samplesuite: lays out the sample suite machine.
//
//   samplesuite PROGRAM_FILES
//
// The databases and shared documents go to the module's common data folder
// (on POSIX: below $CommonProgramFiles); the payloads are installed below
// PROGRAM_FILES. Prints the session properties of an install session of the
// suite, one NAME=VALUE a line, ready for kxhost --props-file.
#include <cstdio>
#include <string>

#include "samplesuite/sample_machine.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: samplesuite PROGRAM_FILES\n");
    return 2;
  }
  SampleSuite suite;
  if (!LayOutSampleSuite(argv[1], suite)) {
    std::fprintf(stderr, "samplesuite: the sample suite could not be laid out\n");
    return 1;
  }
  std::printf("# driver payload (Orvik Creative Suite 6 Design)\n");
  std::printf("mediaSignature=%s\n", suite.driverCode.c_str());
  std::printf("installLanguage=fr_MA\n");
  std::printf("# Orvik Tessel Studio 4.6: %s\n", suite.firstProductCode.c_str());
  std::printf("# Pelican X Pro: %s\n", suite.secondProductCode.c_str());
  return 0;
}
