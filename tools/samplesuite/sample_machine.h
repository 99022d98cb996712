// Lays out a suite machine in the module's own folders: installed payloads in
// "pdb.db", records in "pcd.db", the installer's "caps.db", configuration
// documents and settings files. Used by the samplesuite tool and by the
// end-to-end tests to build the machines they run sessions on.
//
// Files are written with the module's own storage code where it writes them
// and with SQLite directly where only the installer writes (payload rows).
// Every function returns true on success.
#ifndef CUSTOMHOOKS_TOOLS_SAMPLESUITE_SAMPLE_MACHINE_H_
#define CUSTOMHOOKS_TOOLS_SAMPLESUITE_SAMPLE_MACHINE_H_

#include <optional>
#include <string>
#include <utility>
#include <vector>

// One row of the installer's payloads table. A missing install time is NULL.
struct SamplePayload {
  std::string id;
  std::string family;
  std::string name;
  std::string version;
  int installState = 2;
  std::optional<int> installTime;
};

struct sqlite3;

// One of the machine's databases opened with SQLite directly, for many
// changes in one transaction. Commit makes them durable in the file without
// forcing it to disk (the module's own commits do); changes not committed
// are dropped when the object goes. For callers that lay out one machine
// after another (the fuzz checks). Every operation is false when the
// database could not be opened.
class SampleDatabase {
 public:
  enum class Which {
    kPayloads,       // the payload database, created with its schema when missing
    kConfiguration,  // the configuration database, which must exist
  };
  explicit SampleDatabase(Which which);
  ~SampleDatabase();
  SampleDatabase(const SampleDatabase&) = delete;
  SampleDatabase& operator=(const SampleDatabase&) = delete;

  // The row of `payload` in "pdb.db".
  bool AddPayload(const SamplePayload& payload);
  // A payload's data value (`domain`, `key`) in "pdb.db".
  bool SetPayloadData(const std::string& payloadId, int domain, const std::string& key,
                      const std::string& value);
  // A record of domain 1 in "pcd.db", stored as the module stores it.
  bool SetConfigRecord(const std::string& subdomain, const std::string& key,
                       const std::string& value);
  bool DeleteConfigRecord(const std::string& subdomain, const std::string& key);
  bool Commit();

 private:
  bool Run(char* sql);

  sqlite3* db_ = nullptr;
};

// Inserts payload rows into "pdb.db", creating the file with its schema.
bool AddPayloads(const std::vector<SamplePayload>& payloads);

// Stores a payload's data value (`domain`, `key`) in "pdb.db".
bool SetPayloadData(const std::string& payloadId, int domain, const std::string& key,
                    const std::string& value);

// Stores a record of domain 1 in "pcd.db" (or, with `cache`, "cache.db").
bool SetConfigRecord(const std::string& subdomain, const std::string& key,
                     const std::string& value, bool cache = false);

// Deletes a record of domain 1 from "pcd.db".
bool DeleteConfigRecord(const std::string& subdomain, const std::string& key);

// Writes an SQLite file at "caps\caps.db" standing for the installer's own
// database, with `rows` rows of sample content.
bool WriteCapsDatabase(int rows);

// Writes a configuration document whose Payload section `payloadCode` holds
// `entries`, creating its folder.
bool WriteConfigurationDocument(const std::string& path, const std::string& payloadCode,
                                const std::vector<std::pair<std::string, std::string>>& entries);

// Writes a text file, creating its folder.
bool WriteTextFile(const std::string& path, const std::string& text);

// The sample suite: a driver payload, both products, unrelated payloads in
// several install states, the driver's records, documents and settings files.
struct SampleSuite {
  std::string driverCode;         // the session's "mediaSignature"
  std::string firstProductCode;   // "Orvik Tessel Studio 4.6"
  std::string secondProductCode;  // "Pelican X Pro"
  std::string licensingCode;      // the driver's "LicensingCode"
  std::string programFiles;       // where the payloads are installed
  std::string firstProductFolder;
  std::string driverFolder;
  std::string secondProductDocument;  // "...\RMT\application.xml"
};

// Lays the sample suite out, with the payloads installed under
// `programFiles`. The common data folder comes from the module's own lookup.
bool LayOutSampleSuite(const std::string& programFiles, SampleSuite& suite);

#endif  // CUSTOMHOOKS_TOOLS_SAMPLESUITE_SAMPLE_MACHINE_H_
