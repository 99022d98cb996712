// samplesuite: lays out the sample suite machine.
//
//   samplesuite PROGRAM_FILES
//
// The databases and shared documents go to the module's common data folder
// (on POSIX: below $CommonProgramFiles); the payloads are installed below
// PROGRAM_FILES. Prints the session properties of an install session of the
// suite, one NAME=VALUE a line, ready for kxhost --props-file.
//
//   samplesuite --names
//
// Prints the names of fs/product_names.h, one KEY=VALUE a line (folders
// relative to the common data folder, "\" separated), for the scripts and
// checks that look at a machine.
#include <cstdio>
#include <cstring>
#include <string>

#include "samplesuite/sample_machine.h"
#include "fs/product_names.h"

namespace {

void PrintNames() {
  namespace names = customhooks::names;
  const struct {
    const char* key;
    std::string value;
  } printed[] = {
      {"common_data_folder", names::kCommonDataFolder},
      {"pcf_folder", names::kPcfFolder},
      {"configuration_folder", names::kConfigurationFolder},
      {"cache_folder", names::kCacheFolder},
      {"payloads_folder", names::kPayloadsFolder},
      {"backup_folder", names::kBackupFolder},
      {"configuration_file", names::kConfigurationFile},
      {"cache_file", names::kCacheFile},
      {"payloads_file", names::kPayloadsFile},
      {"installer_file", names::kInstallerFile},
      {"config_domain", std::to_string(names::kConfigDomain)},
      {"media_signature_property", names::kMediaSignatureProperty},
      {"install_language_property", names::kInstallLanguageProperty},
      {"default_driver_payload_key", names::kDefaultDriverPayloadKey},
      {"eula_accepted_key", names::kEulaAcceptedKey},
      {"eula_language_key", names::kEulaLanguageKey},
      {"french_morocco_language", names::kFrenchMoroccoLanguage},
      {"settings_file", names::kSettingsFile},
      {"settings_file_c", names::kSettingsFileC},
  };
  for (const auto& name : printed) std::printf("%s=%s\n", name.key, name.value.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--names") == 0) {
    PrintNames();
    return 0;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: samplesuite PROGRAM_FILES | samplesuite --names\n");
    return 2;
  }
  SampleSuite suite;
  if (!LayOutSampleSuite(argv[1], suite)) {
    std::fprintf(stderr, "samplesuite: the sample suite could not be laid out\n");
    return 1;
  }
  std::printf("# driver payload (Orvik Creative Suite 6 Design)\n");
  std::printf("%s=%s\n", customhooks::names::kMediaSignatureProperty, suite.driverCode.c_str());
  std::printf("%s=fr_MA\n", customhooks::names::kInstallLanguageProperty);
  std::printf("# Orvik Tessel Studio 4.6: %s\n", suite.firstProductCode.c_str());
  std::printf("# Pelican X Pro: %s\n", suite.secondProductCode.c_str());
  return 0;
}
