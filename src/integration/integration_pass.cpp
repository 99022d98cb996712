#include "integration/integration_pass.h"

#include <cstring>
#include <string>

#include "integration/driver_records.h"
#include "integration/locale_fixup.h"
#include "integration/storage_handles.h"
#include "integration/suite_products.h"

namespace customhooks::integration {

const SuiteProduct kFirstSuiteProduct = {
    "Weft", "4.6.1", "Orvik Tessel Studio 4.6", 0, "Orvik Tessel Studio 4.6",
    ProductStep::kFrenchMoroccoLocale,
};

const SuiteProduct kSecondSuiteProduct = {
    "NonOrvikPayload", "10.0", "Pelican X Pro", 5, "Pelican Professional 10.0",
    ProductStep::kDriverRecords,
};

namespace {

constexpr int kConfigDomain = 1;
constexpr int kInstalledState = 2;
constexpr int kSessionDataDomain = 0;

bool SameText(const char* a, const char* b) {
  return std::strcmp(TextOrEmpty(a), TextOrEmpty(b)) == 0;
}

// One product run: its header and the values it carries from step to step.
class ProductRun {
 public:
  ProductRun(const SuiteProduct& product, const IntegrationSession& session)
      : product_(product), session_(session) {}

  ProductOutcome Run();

 private:
  // Logs the product header followed by the pieces.
  void Log(std::initializer_list<LogPiece> pieces) const;
  bool ReadProperty(const char* name, std::string& value, const char* missingLine);
  // Examines one payload; true when it was the product and the search ends.
  bool ProcessPayload(storage::pdbHandle* pdb, const char* payloadId, const char* eulaSubdomain);
  void RunExtraStep(const char* payloadId) const;
  void CompareSignatures(storage::pdbHandle* pdb, const char* payloadId, const char* productSignature) const;
  void WriteEulaRecords(const char* eulaSubdomain);

  const SuiteProduct& product_;
  const IntegrationSession& session_;
  std::string header_;
  std::string sessionSignature_;
  std::string installLanguage_;
  PcdConnection cache_;
};

void ProductRun::Log(std::initializer_list<LogPiece> pieces) const {
  std::string message;
  message.append(header_);
  for (const LogPiece& piece : pieces) message.append(piece.view());
  session_.LogPrefixed({message});
}

bool ProductRun::ReadProperty(const char* name, std::string& value, const char* missingLine) {
  if (!session_.Property(name, value)) {
    Log({missingLine});
    return false;
  }
  return true;
}

ProductOutcome ProductRun::Run() {
  header_ = std::string(product_.name) + " :";
  Log({});

  if (!ReadProperty("mediaSignature", sessionSignature_, "Failed to get mediaSignature.")) {
    return ProductOutcome::kMissingProperty;
  }
  Log({"Successfully retreived the mediaSignature: ", sessionSignature_});
  if (!ReadProperty("installLanguage", installLanguage_, "Failed to get installLanguage.")) {
    return ProductOutcome::kMissingProperty;
  }
  Log({"Successfully retreived the installLanguage: ", installLanguage_});

  PdbConnection pdb;
  if (!OpenPayloadDatabase(pdb)) {
    Log({"Failed to open pdb.db"});
    return ProductOutcome::kPayloadDatabaseUnavailable;
  }
  Log({"Getting payloads from pdb.db"});

  char** payloadIds = nullptr;
  if (!storage::pdbGetPayloadIDs(pdb.get(), kInstalledState, &payloadIds).ok() || payloadIds == nullptr) {
    Log({"Can not find valid primary session for pdb.db"});
    return ProductOutcome::kCompleted;
  }

  PcdConnection pcd;
  // A failure that still hands out the handle is the cache database's alone
  // (see PCDOpen): the failure is logged, and the configuration records are
  // read through the handle all the same.
  if (!OpenConfigurationDatabase(pcd)) {
    Log({"PCDOpen failed"});
  } else {
    Log({"Opened PCD session"});
  }

  // Absent (null) unless read; it belongs to the configuration handle. A
  // record whose value is NULL or empty counts as absent: no product looks
  // for agreement records under an empty subdomain.
  const char* eulaSubdomain = nullptr;
  char* licensingCode = nullptr;
  if (pcd &&
      storage::PCDGetDomain(pcd.get(), kConfigDomain, sessionSignature_.c_str(), "LicensingCode", &licensingCode).ok() &&
      licensingCode != nullptr && licensingCode[0] != '\0') {
    Log({"Succesfully retrieved the LEID of the Driver Payload"});
    eulaSubdomain = licensingCode;
  } else {
    Log({"Fail to retrieve the LEID of the Driver Payload"});
  }

  Log({"iterating through the payload_data table to retreive the matching payload family, name "
       "and version for ",
       product_.name});
  for (char** id = payloadIds; *id != nullptr; ++id) {
    if (ProcessPayload(pdb.get(), *id, eulaSubdomain)) break;
  }

  // Payload database first, then the cache (which commits the agreement
  // records), then the configuration database.
  pdb.reset();
  cache_.reset();
  pcd.reset();
  return ProductOutcome::kCompleted;
}

bool ProductRun::ProcessPayload(storage::pdbHandle* pdb, const char* payloadId, const char* eulaSubdomain) {
  storage::pdbPayload record{};
  if (!storage::pdbGetPayload(pdb, payloadId, &record).ok()) {
    Log({"pdbGetPayload unsuccessful!"});
    return false;
  }
  if (!SameText(record.productName, product_.name) ||
      !SameText(record.productFamily, product_.family) ||
      !SameText(record.version, product_.version)) {
    return false;
  }
  Log({product_.name, " is successfully located for the family ", product_.family,
       " and version ", product_.version});

  const char* code = TextOrEmpty(record.payloadID);
  char* productSignature = nullptr;
  if (!storage::pdbGetPayloadData(pdb, code, product_.signatureDomain, "mediaSignature", &productSignature).ok()) {
    Log({" : pdbGetPayloadData unsuccessful"});
    return false;
  }
  Log({product_.name, " : pdbGetPayloadData Successful. Orvik Code retrieved: ", productSignature});

  RunExtraStep(code);
  CompareSignatures(pdb, code, productSignature);
  WriteEulaRecords(eulaSubdomain);
  return true;
}

void ProductRun::RunExtraStep(const char* payloadId) const {
  switch (product_.extraStep) {
    case ProductStep::kFrenchMoroccoLocale:
      if (installLanguage_ == "fr_MA") {
        FixFrenchMoroccoLocale(session_, payloadId, sessionSignature_.c_str());
      }
      break;
    case ProductStep::kDriverRecords:
      UpdateDriverPayloadEntry(payloadId, session_);
      break;
  }
}

void ProductRun::CompareSignatures(storage::pdbHandle* pdb, const char* payloadId,
                                   const char* productSignature) const {
  if (SameText(productSignature, sessionSignature_.c_str())) {
    Log({product_.name, " has mediaSignature matching Suite driver payload.", sessionSignature_});
    return;
  }
  Log({product_.name,
       " does not have mediaSignature matching Suite driver payload. Will query for "
       "mostRecentSessionID",
       sessionSignature_});
  char* sessionId = nullptr;
  if (!storage::pdbGetPayloadData(pdb, payloadId, kSessionDataDomain, "mostRecentSessionID", &sessionId).ok()) {
    Log({" : pdbGetPayloadData unsuccessful for mostRecentSessionID"});
    return;
  }
  Log({product_.name, " : pdbGetPayloadData Successful for mostRecentSessionID. Orvik Code retrieved: ",
       sessionId});
  if (SameText(sessionId, sessionSignature_.c_str())) {
    Log({product_.name, " has mostRecentSessionID matching Suite driver payload.", sessionSignature_});
  }
}

void ProductRun::WriteEulaRecords(const char* eulaSubdomain) {
  if (!OpenCacheDatabase(cache_) || eulaSubdomain == nullptr) {
    Log({"PCDOpen Session failed : Can't update EULA_ACCEPTED & EULA_LANGUAGE"});
    return;
  }
  if (storage::PCDSetDomain(cache_.get(), kConfigDomain, eulaSubdomain, "EULA_ACCEPTED", "1").ok()) {
    Log({"EULA_ACCEPTED success"});
  } else {
    Log({"EULA_ACCEPTED failed"});
  }
  if (storage::PCDSetDomain(cache_.get(), kConfigDomain, eulaSubdomain, "EULA_LANGUAGE",
                            installLanguage_.c_str()).ok()) {
    Log({"EULA_LANGUAGE success"});
  } else {
    Log({"EULA_LANGUAGE failed"});
  }
}

}  // namespace

ProductOutcome IntegrateProduct(const SuiteProduct& product, const IntegrationSession& session) {
  return ProductRun(product, session).Run();
}

void IntegrateSuiteProducts(const IntegrationSession& session) {
  for (const SuiteProduct* product : {&kFirstSuiteProduct, &kSecondSuiteProduct}) {
    const char* outcome = "Successfully Updated PCFClientFile and cache.db for ";
    try {
      if (IntegrateProduct(*product, session) != ProductOutcome::kCompleted) {
        outcome = "Failed to Update PCFClientFile and cache.db for ";
      }
    } catch (const std::exception&) {
      // Memory ran out mid-run: the handles are closed by now; report it as a
      // failed product and go on with the next one.
      outcome = "Failed to Update PCFClientFile and cache.db for ";
    }
    session.LogPrefixed({outcome, product->summaryName});
  }
}

}  // namespace customhooks::integration
