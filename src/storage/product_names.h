// The names the module shares with the suite installer and with whoever
// looks at a machine: the folders and files below the common data folder,
// the record domains and the session properties. Everything that spells one
// of them (the layers above, the tests, the tools, the benchmarks, the fuzz
// checks, and the scripts through `samplesuite --names`) takes it from here.
#ifndef CUSTOMHOOKS_STORAGE_PRODUCT_NAMES_H_
#define CUSTOMHOOKS_STORAGE_PRODUCT_NAMES_H_

namespace customhooks::names {

// The common data folder, in a Common Files folder.
inline constexpr char kCommonDataFolder[] = "Orvik";

// Folders below the common data folder, as paths relative to it.
inline constexpr char kPcfFolder[] = "PCF";                  // shared copies of configuration documents
inline constexpr char kConfigurationFolder[] = "Orvik PCD";  // holds kConfigurationFile
inline constexpr char kCacheFolder[] = "Orvik PCD\\cache";   // holds kCacheFile; every user may write it
inline constexpr char kPayloadsFolder[] = "caps";            // holds kPayloadsFile and kInstallerFile
inline constexpr char kBackupFolder[] = "backup";            // holds the copy of kInstallerFile

// The files in those folders.
inline constexpr char kConfigurationFile[] = "pcd.db";  // configuration records
inline constexpr char kCacheFile[] = "cache.db";        // agreement records
inline constexpr char kPayloadsFile[] = "pdb.db";       // the installer's payload records
inline constexpr char kInstallerFile[] = "caps.db";     // the installer's own database

// The domain of every record the module reads or writes in kConfigurationFile
// and kCacheFile.
inline constexpr int kConfigDomain = 1;
// Domains of payload_data in kPayloadsFile: the installer's data of every
// payload (its document path, its signature, its session) and the data the
// second product keeps its signature in.
inline constexpr int kPayloadDataDomain = 0;
inline constexpr int kSecondProductDataDomain = 5;

// The session properties the module reads.
inline constexpr char kMediaSignatureProperty[] = "mediaSignature";
inline constexpr char kInstallLanguageProperty[] = "installLanguage";

}  // namespace customhooks::names

#endif  // CUSTOMHOOKS_STORAGE_PRODUCT_NAMES_H_
