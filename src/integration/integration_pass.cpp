#include "integration/integration_pass.h"

#include <cstddef>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "integration/driver_records.h"
#include "integration/locale_fixup.h"
#include "integration/storage_handles.h"
#include "integration/suite_products.h"
#include "fs/product_names.h"

namespace customhooks::integration {

namespace {

using names::kConfigDomain;
constexpr int kInstalledState = 2;

// How a product's run ended; the pass reports anything but kCompleted as a
// failed product.
enum class ProductOutcome {
  kCompleted,                   // searched (found or not); each step logged its outcome
  kMissingProperty,             // a session property is missing
  kPayloadDatabaseUnavailable,  // the payload database can't be opened
};

storage::ProductKey KeyOf(const SuiteProduct& product) { return {product.family, product.name, product.version}; }

// What the search met, in the order it met it; logged once the search's
// snapshot has ended.
enum class SearchStep : unsigned char {
  kReadFailed,             // a payload's row could not be read
  kLocatedWithoutSignature,  // the product's row, whose signature could not be read
};

struct SearchResult {
  std::vector<SearchStep> steps;
  // The product's payload and its signature, when found.
  std::optional<storage::PayloadRecord> product;
  std::string productSignature;
};

// The run of the table's product `index`: its header and the values it
// carries from step to step.
class ProductRun {
 public:
  ProductRun(std::size_t index, const IntegrationSession& session, SessionDatabases& databases)
      : index_(index), product_(kSuiteProducts[index]), session_(session), databases_(databases) {}

  // Runs the product's steps, then tells the session what they found.
  ProductOutcome Run();

 private:
  ProductOutcome RunSteps();
  // Logs the product header followed by the pieces.
  void Log(std::initializer_list<LogPiece> pieces) const;
  // The session property `name`; nothing, after `missingLine`, when the
  // host has none.
  std::optional<std::string> ReadProperty(const char* name, const char* missingLine) const;
  // The payloads the product meets, in the open snapshot of `pdb`.
  Status FindPayloads(storage::PayloadDatabase& pdb, std::vector<storage::ProductPayload>* met) const;
  // Goes through the payloads the search met until the product's that has
  // a signature.
  SearchResult Search(PayloadConnection& pdb, const std::vector<storage::ProductPayload>& met) const;
  void LogSearch(const SearchResult& result) const;
  void LogLocated() const;
  void RunExtraStep(const std::string& payloadId) const;
  void CompareSignatures(PayloadConnection& pdb, const std::string& payloadId,
                         const std::string& productSignature) const;
  void WriteEulaRecords(const std::optional<std::string>& eulaSubdomain) const;

  const std::size_t index_;
  const SuiteProduct& product_;
  const IntegrationSession& session_;
  SessionDatabases& databases_;
  ProductFindings findings_;
  std::string header_;
  std::string sessionSignature_;
  std::string installLanguage_;
};

void ProductRun::Log(std::initializer_list<LogPiece> pieces) const { session_.LogPrefixed(pieces, header_); }

std::optional<std::string> ProductRun::ReadProperty(const char* name, const char* missingLine) const {
  std::optional<std::string> value = session_.Property(name);
  if (!value) Log({missingLine});
  return value;
}

ProductOutcome ProductRun::Run() {
  findings_.product = product_.name;
  const ProductOutcome outcome = RunSteps();
  session_.Observe(findings_);
  return outcome;
}

ProductOutcome ProductRun::RunSteps() {
  header_ = std::string(product_.name) + " :";
  Log({});

  std::optional<std::string> signature =
      ReadProperty(names::kMediaSignatureProperty, "Failed to get mediaSignature.");
  if (!signature) return ProductOutcome::kMissingProperty;
  sessionSignature_ = std::move(*signature);
  Log({"Successfully retreived the mediaSignature: ", sessionSignature_});
  std::optional<std::string> language = ReadProperty(names::kInstallLanguageProperty, "Failed to get installLanguage.");
  if (!language) return ProductOutcome::kMissingProperty;
  installLanguage_ = std::move(*language);
  Log({"Successfully retreived the installLanguage: ", installLanguage_});

  PayloadConnection pdb(databases_);
  if (!pdb.Open()) {
    Log({"Failed to open pdb.db"});
    return ProductOutcome::kPayloadDatabaseUnavailable;
  }
  Log({"Getting payloads from pdb.db"});

  // The list and every read of the search see one snapshot under one shared
  // lock, which ends before anything else of the product runs: the
  // installer's writers wait for the search alone. Its lines are logged
  // afterwards, in the order the search met them.
  SearchResult search;
  {
    storage::Transaction snapshot = pdb->BeginRead();
    std::vector<storage::ProductPayload> met;
    if (!FindPayloads(*pdb, &met).ok()) {
      static_cast<void>(snapshot.Commit());
      Log({"Can not find valid primary session for pdb.db"});
      return ProductOutcome::kCompleted;
    }
    search = Search(pdb, met);
    static_cast<void>(snapshot.Commit());
  }
  findings_.searched = true;

  StoreConnection pcd;
  // A failure that still hands out the store is the cache database's alone
  // (see OpenConfigurationStore): the failure is logged, and the
  // configuration records are read through the store all the same.
  if (!OpenConfigurationDatabase(databases_, &pcd)) {
    Log({"PCDOpen failed"});
  } else {
    Log({"Opened PCD session"});
  }

  // A record whose value is NULL or empty counts as absent: no product looks
  // for agreement records under an empty subdomain.
  std::optional<std::string> eulaSubdomain;
  std::string licensingCode;
  if (pcd && pcd->Get(kConfigDomain, sessionSignature_, names::kLicensingCodeKey, &licensingCode).ok() &&
      !licensingCode.empty()) {
    Log({"Succesfully retrieved the LEID of the Driver Payload"});
    findings_.licensingCode = licensingCode;
    eulaSubdomain = std::move(licensingCode);
  } else {
    Log({"Fail to retrieve the LEID of the Driver Payload"});
  }
  // The store has served its one read; giving it back now lets the driver
  // records reuse its connection.
  pcd.reset();

  Log({"iterating through the payload_data table to retreive the matching payload family, name "
       "and version for ",
       product_.name});
  LogSearch(search);
  if (search.product) {
    findings_.located = true;
    findings_.payloadId = search.product->payloadID;
    findings_.version = search.product->version;
    findings_.productSignature = search.productSignature;
    findings_.signatureMatches = search.productSignature == sessionSignature_;
    const std::string& code = search.product->payloadID;
    RunExtraStep(code);
    CompareSignatures(pdb, code, search.productSignature);
    WriteEulaRecords(eulaSubdomain);
  }

  // The backup of caps.db comes with this close.
  pdb.Close();
  return ProductOutcome::kCompleted;
}

// The pass searches once for all its products: the first run asks for every
// product of the table. A later run recalls its part of that answer while
// pdb.db reads unchanged since; otherwise it searches at its own time, for
// itself and the products after it.
Status ProductRun::FindPayloads(storage::PayloadDatabase& pdb, std::vector<storage::ProductPayload>* met) const {
  Status status;
  if (pdb.RecallProductPayloads(kInstalledState, KeyOf(product_), &status, met)) return status;
  std::vector<storage::ProductKey> products;
  for (std::size_t i = index_; i < std::size(kSuiteProducts); ++i) products.push_back(KeyOf(kSuiteProducts[i]));
  storage::ProductSearch found;
  status = pdb.FindProductPayloads(kInstalledState, products, &found);
  if (status.ok()) *met = std::move(found.payloads.front());
  return status;
}

SearchResult ProductRun::Search(PayloadConnection& pdb, const std::vector<storage::ProductPayload>& met) const {
  SearchResult result;
  for (const storage::ProductPayload& payload : met) {
    if (payload.readFailed) {
      result.steps.push_back(SearchStep::kReadFailed);
      continue;
    }
    if (!pdb->PayloadData(payload.record.payloadID, product_.signatureDomain, names::kMediaSignatureProperty,
                          &result.productSignature)
             .ok()) {
      result.steps.push_back(SearchStep::kLocatedWithoutSignature);
      continue;
    }
    result.product = payload.record;
    break;
  }
  return result;
}

void ProductRun::LogSearch(const SearchResult& result) const {
  for (SearchStep step : result.steps) {
    if (step == SearchStep::kReadFailed) {
      Log({"pdbGetPayload unsuccessful!"});
    } else {
      LogLocated();
      Log({" : pdbGetPayloadData unsuccessful"});
    }
  }
  if (!result.product) return;
  LogLocated();
  Log({product_.name, " : pdbGetPayloadData Successful. Orvik Code retrieved: ",
       FileValue{result.productSignature}});
}

void ProductRun::LogLocated() const {
  Log({product_.name, " is successfully located for the family ", product_.family, " and version ",
       product_.version});
}

void ProductRun::RunExtraStep(const std::string& payloadId) const {
  switch (product_.extraStep) {
    case ProductStep::kFrenchMoroccoLocale:
      if (installLanguage_ == names::kFrenchMoroccoLanguage) {
        FixFrenchMoroccoLocale(session_, databases_, payloadId, sessionSignature_);
      }
      break;
    case ProductStep::kDriverRecords:
      UpdateDriverPayloadEntry(payloadId, session_, databases_);
      break;
  }
}

void ProductRun::CompareSignatures(PayloadConnection& pdb, const std::string& payloadId,
                                   const std::string& productSignature) const {
  if (productSignature == sessionSignature_) {
    Log({product_.name, " has mediaSignature matching Suite driver payload.", sessionSignature_});
    return;
  }
  Log({product_.name,
       " does not have mediaSignature matching Suite driver payload. Will query for "
       "mostRecentSessionID",
       sessionSignature_});
  std::string sessionId;
  if (!pdb->PayloadData(payloadId, names::kPayloadDataDomain, names::kMostRecentSessionKey, &sessionId).ok()) {
    Log({" : pdbGetPayloadData unsuccessful for mostRecentSessionID"});
    return;
  }
  Log({product_.name, " : pdbGetPayloadData Successful for mostRecentSessionID. Orvik Code retrieved: ",
       FileValue{sessionId}});
  if (sessionId == sessionSignature_) {
    Log({product_.name, " has mostRecentSessionID matching Suite driver payload.", sessionSignature_});
  }
}

void ProductRun::WriteEulaRecords(const std::optional<std::string>& eulaSubdomain) const {
  StoreConnection cache;
  if (!OpenCacheDatabase(databases_, &cache) || !eulaSubdomain) {
    Log({"PCDOpen Session failed : Can't update EULA_ACCEPTED & EULA_LANGUAGE"});
    return;
  }
  // Both records or neither. They are committed before their lines are
  // logged, so that a line that cannot be logged loses no record, and a
  // record whose commit failed (another process kept reading the file) is
  // reported as failed rather than as written. Records that already hold
  // these values are not written again: a cache that is current stays as
  // it is, without a commit to force.
  storage::Transaction agreement = cache->Begin();
  bool accepted = cache->SetIfChanged(kConfigDomain, *eulaSubdomain, names::kEulaAcceptedKey, "1").ok();
  bool language =
      cache->SetIfChanged(kConfigDomain, *eulaSubdomain, names::kEulaLanguageKey, installLanguage_).ok();
  if (!agreement.Commit().ok()) accepted = language = false;
  Log({accepted ? "EULA_ACCEPTED success" : "EULA_ACCEPTED failed"});
  Log({language ? "EULA_LANGUAGE success" : "EULA_LANGUAGE failed"});
}

}  // namespace

void IntegrateSuiteProducts(const IntegrationSession& session, const PassShortcuts& shortcuts) {
  SessionDatabases databases(shortcuts);
  for (std::size_t index = 0; index < std::size(kSuiteProducts); ++index) {
    const char* outcome = "Successfully Updated PCFClientFile and cache.db for ";
    try {
      if (ProductRun(index, session, databases).Run() != ProductOutcome::kCompleted) {
        outcome = "Failed to Update PCFClientFile and cache.db for ";
      }
    } catch (const std::exception&) {
      // Memory ran out mid-run: the handles are closed by now; report it as a
      // failed product and go on with the next one.
      outcome = "Failed to Update PCFClientFile and cache.db for ";
    }
    session.LogPrefixed({outcome, kSuiteProducts[index].summaryName});
  }
}

}  // namespace customhooks::integration
