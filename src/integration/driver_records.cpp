#include "integration/driver_records.h"

#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "integration/product_folders.h"
#include "integration/storage_handles.h"
#include "pcf/pcf_client.h"
#include "fs/product_names.h"

namespace customhooks::integration {

namespace {

using pcf::DocumentSession;
using pcf::SaveProblem;
using pcf::UnsavedDocument;

using names::kConfigDomain;

// Driver language -> the product's language list. Built for each run.
std::map<std::string, std::string> BuildLanguageListTable() {
  return {
      {"en_US", "en_US"},       {"en_GB", "en_US,en_GB"}, {"fr_FR", "fr_FR"},
      {"fr_CA", "fr_FR,fr_CA"}, {"de_DE", "de_DE"},       {"ja_JP", "ja_JP"},
      {"ko_KR", "ko_KR"},       {"cs_CZ", "cs_CZ"},       {"hr_HR", "hr_HR"},
      {"hu_HU", "hu_HU"},       {"pl_PL", "pl_PL"},       {"sk_SK", "sk_SK"},
      {"sl_SI", "sl_SI"},       {"es_ES", "es_ES"},       {"es_MX", "es_ES,es_MX"},
      {"it_IT", "it_IT"},       {"nl_NL", "nl_NL"},       {"pt_BR", "pt_BR"},
      {"ro_RO", "ro_RO"},       {"ru_RU", "ru_RU"},       {"tr_TR", "tr_TR"},
      {"uk_UA", "uk_UA"},       {"da_DK", "da_DK"},       {"sv_SE", "sv_SE"},
      {"fi_FI", "fi_FI"},       {"nb_NO", "nb_NO"},       {"zh_CN", "zh_CN"},
      {"zh_TW", "zh_TW"},       {"en_AE", "en_AE,en_US"}, {"en_IL", "en_IL,en_US"},
      {"fr_MA", "fr_MA,fr_FR"},
  };
}

// Why a document was not saved, as its line tells it.
std::string SaveProblemText(const UnsavedDocument& document) {
  const std::string target = document.target == document.path ? "the file" : document.target;
  switch (document.problem) {
    case SaveProblem::kWouldNotReadBack:
      return "its text would not read back";
    case SaveProblem::kReadOnly:
      return target + " is read-only";
    case SaveProblem::kNotWritable:
      return target + " cannot be written";
    case SaveProblem::kNoConfigPath:
      return "it has no RMTConfigPath";
    case SaveProblem::kConfigPathTooLong:
      return "its RMTConfigPath is too long";
  }
  return std::string();
}

// The document phase and the final commit or rollback of one run.
class DriverRecordsRun {
 public:
  DriverRecordsRun(const IntegrationSession& session, const std::string& productCode, const std::string& signature,
                   StoreConnection pcd)
      : session_(session),
        productCode_(productCode),
        signature_(signature),
        pcd_(std::move(pcd)),
        records_(pcd_->Begin()) {}

  // Runs from the product's driver entry to the end; closes the database.
  void Run();

 private:
  void Log(std::initializer_list<LogPiece> pieces) const { session_.LogPrefixed(pieces); }
  // Opens the session and loads the document; false when the phase is skipped.
  bool PrepareDocument(const char* documentPath);
  // Sets one value in the product's section; clears the mark on failure.
  bool SetDocumentValue(const char* key, const char* value, const char* successLine);
  // Copies one of the driver's records into the document.
  void CopyDriverValue(const char* key, const char* successLine, const char* missingLine);
  void CopyDriverLanguages();
  void Finish();
  // Saves the document session; every document it did not write gets a line.
  void SaveDocument();

  const IntegrationSession& session_;
  const std::string& productCode_;
  const std::string& signature_;
  StoreConnection pcd_;
  // The run's records: committed at its end, or rolled back.
  std::optional<storage::Transaction> records_;
  std::unique_ptr<DocumentSession> document_;
  bool success_ = true;
};

void DriverRecordsRun::Run() {
  if (pcd_->Set(kConfigDomain, productCode_, names::kDefaultDriverPayloadKey, signature_).ok()) {
    Log({"Succesfully updated driver payload entry for Pelican X Installer OrvikCode"});
  } else {
    Log({"Error in updating driver payload entry for Pelican X Installer OrvikCode"});
  }

  std::string documentPath;
  if (pcd_->Get(kConfigDomain, productCode_, names::kConfigPathKey, &documentPath).ok()) {
    Log({"Retreived the path to Application xml: ", FileValue{documentPath}});
    if (PrepareDocument(documentPath.c_str())) {
      SetDocumentValue(names::kConfigPathKey, documentPath.c_str(),
                       "Update to PCF client is successful for 'RMTConfigPath'!");
      CopyDriverValue(names::kDefaultDriverPayloadKey,
                      "Update to PCF client is successful for 'DefaultDriverPayload'!",
                      "Couldn't retrieve the value for 'DefaultDriverPayload' from pcd");
      CopyDriverValue(names::kInstallDateKey, "Update to PCF client is successful for 'InstallDate'!",
                      "Couldn't retrieve the value for 'InstallDate' from pcd");
      CopyDriverLanguages();
    }
  }
  Finish();
}

bool DriverRecordsRun::PrepareDocument(const char* documentPath) {
  document_.reset(new (std::nothrow) DocumentSession(LocatePcfFolder));
  if (!document_) {
    Log({"Not able to create PCF client session"});
    return false;
  }
  if (documentPath[0] == '\0') {
    Log({"Path to application.xml is Empty"});
    return false;
  }
  if (!document_->Load(documentPath).ok()) {
    Log({"Failed to load application.xml at the time of init."});
    return false;
  }
  return true;
}

bool DriverRecordsRun::SetDocumentValue(const char* key, const char* value, const char* successLine) {
  if (!document_->SetValue(productCode_, key, value).ok()) {
    success_ = false;
    Log({"PCFClientSetValueForKeyInSubDomain failed"});
    return false;
  }
  Log({successLine});
  return true;
}

void DriverRecordsRun::CopyDriverValue(const char* key, const char* successLine,
                                       const char* missingLine) {
  std::string value;
  if (!pcd_->Get(kConfigDomain, signature_, key, &value).ok()) {
    success_ = false;
    Log({missingLine});
    return;
  }
  SetDocumentValue(key, value.c_str(), successLine);
}

void DriverRecordsRun::CopyDriverLanguages() {
  std::string driverLanguage;
  if (!pcd_->Get(kConfigDomain, signature_, names::kInstalledLanguagesKey, &driverLanguage).ok()) {
    success_ = false;
    Log({"Couldn't retrieve the value for 'installedLanguages' from pcd"});
    return;
  }
  const std::string list = LanguageListFor(driverLanguage);
  if (!SetDocumentValue(names::kInstalledLanguagesKey, list.c_str(),
                        "Update to PCF client is successful for 'installedLanguages' ")) {
    return;
  }
  if (pcd_->Set(kConfigDomain, productCode_, names::kInstalledLanguagesKey, list).ok()) {
    Log({"and updated the pcd as well with the language(s): !", list});
  } else {
    Log({"Failed to update the pcd"});
  }
}

void DriverRecordsRun::Finish() {
  if (!success_) {
    // Nothing of the run may stay: neither record, nor any document edit.
    // No line reports how the rollback went; the failure that led here has
    // been logged already.
    records_.reset();
    pcd_.reset();
    document_.reset();
    return;
  }
  // The database is committed and closed before the document is saved. No
  // line reports how the commit went; a commit that found the file locked is
  // tried once more before the records are given up.
  if (!records_->Commit().ok()) static_cast<void>(records_->Commit());
  records_.reset();
  pcd_.reset();
  if (document_) SaveDocument();
  document_.reset();
}

void DriverRecordsRun::SaveDocument() {
  std::vector<UnsavedDocument> unsaved;
  if (document_->Save(&unsaved) == pcf::Code::kNoMemory) {
    // Which documents were written is not known.
    Log({"Failed to save application.xml: memory ran out"});
    return;
  }
  for (const UnsavedDocument& document : unsaved) {
    Log({"Failed to save ", FileValue{document.path}, ": ", FileValue{SaveProblemText(document)}});
  }
}

}  // namespace

std::string LanguageListFor(const std::string& driverLanguage) {
  const std::map<std::string, std::string> table = BuildLanguageListTable();
  auto it = table.find(driverLanguage);
  return it != table.end() ? it->second : std::string();
}

void UpdateDriverPayloadEntry(const std::string& productCode, const IntegrationSession& session,
                              SessionDatabases& databases) {
  session.LogPrefixed({"Updating DriverPayload entry for Pelican X"});
  session.LogPrefixed({"Orvikcode retrieved: ", FileValue{productCode}});

  const std::optional<std::string> signature = session.Property(names::kMediaSignatureProperty);
  if (!signature) {
    session.LogPrefixed({"Failed to get mediaSignature."});
    return;
  }
  const std::optional<std::string> installLanguage = session.Property(names::kInstallLanguageProperty);
  if (!installLanguage) {
    session.LogPrefixed({"Failed to get installLanguage."});
    return;
  }
  session.LogPrefixed({"Successfully retreived the installLanguage: ", *installLanguage});

  StoreConnection pcd;
  // A failure that still hands out the store is the cache database's alone
  // (see OpenConfigurationDatabase); the driver records live in the
  // configuration database, so only a failure without a handle stops this
  // step.
  if (!OpenConfigurationDatabase(databases, &pcd) && !pcd) {
    session.LogPrefixed({"Error opening pcd session"});
    return;
  }
  DriverRecordsRun(session, productCode, *signature, std::move(pcd)).Run();
}

}  // namespace customhooks::integration
