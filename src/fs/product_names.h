// The names the module shares with the suite installer and with whoever
// looks at a machine: the folders and files below the common data folder,
// the record domains and keys, the session properties, and the settings
// files the French-Moroccan fix-up replaces. Everything that spells one
// of them (the layers above, the tests, the tools, the benchmarks, the fuzz
// checks, and the scripts through `samplesuite --names`) takes it from here.
#ifndef CUSTOMHOOKS_FS_PRODUCT_NAMES_H_
#define CUSTOMHOOKS_FS_PRODUCT_NAMES_H_

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

// The session properties the module reads. kMediaSignatureProperty is also
// the key of a payload's signature in payload_data.
inline constexpr char kMediaSignatureProperty[] = "mediaSignature";
inline constexpr char kInstallLanguageProperty[] = "installLanguage";

// Keys of records, payload data and configuration documents.
// A product's document path: in payload_data, in kConfigurationFile under
// the product's code, and in the document itself, which is saved there.
inline constexpr char kConfigPathKey[] = "RMTConfigPath";
// The driver's licensing code, in kConfigurationFile under the session's
// signature and in a document: the subdomain of the agreement records.
inline constexpr char kLicensingCodeKey[] = "LicensingCode";
// The driver's records the second product's run copies, in
// kConfigurationFile under the session's signature.
inline constexpr char kDefaultDriverPayloadKey[] = "DefaultDriverPayload";
inline constexpr char kInstallDateKey[] = "InstallDate";
inline constexpr char kInstalledLanguagesKey[] = "installedLanguages";
// In payload_data: the session that last installed a payload.
inline constexpr char kMostRecentSessionKey[] = "mostRecentSessionID";
// The agreement records in kCacheFile.
inline constexpr char kEulaAcceptedKey[] = "EULA_ACCEPTED";
inline constexpr char kEulaLanguageKey[] = "EULA_LANGUAGE";

// The install language whose locale files the first product's run fixes.
inline constexpr char kFrenchMoroccoLanguage[] = "fr_MA";
// Those files: the first product's settings files, in its install folder,
// which the run replaces with the driver payload's copies in
// kFrenchMoroccoSettingsFolder of the driver payload's install folder.
inline constexpr char kSettingsFile[] = "TesselStudio.ini";
inline constexpr char kSettingsFileC[] = "TesselStudioC.ini";
inline constexpr const char* kSettingsFiles[] = {kSettingsFile, kSettingsFileC};
inline constexpr char kFrenchMoroccoSettingsFolder[] = "TesselStudio_fr_MA";

}  // namespace customhooks::names

#endif  // CUSTOMHOOKS_FS_PRODUCT_NAMES_H_
