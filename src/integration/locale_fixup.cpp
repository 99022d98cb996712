#include "integration/locale_fixup.h"

#include <string>

#include "fs/files.h"
#include "integration/storage_handles.h"
#include "fs/product_names.h"

namespace customhooks::integration {

using fs::CopyFileOver;

namespace {

using names::kPayloadDataDomain;
const char kDocumentTail[] = "RMT\\application.xml";

// The folder that holds a payload's "RMT" folder, with its trailing
// backslash: the document path cut before the first "RMT\application.xml"
// (case-sensitive), or the whole path when it has none.
std::string InstallFolderOf(const std::string& documentPath) {
  return documentPath.substr(0, documentPath.find(kDocumentTail));
}

}  // namespace

void CopyLocaleSettingsFile(const IntegrationSession& session, const std::string& productDocumentPath,
                            const std::string& driverDocumentPath, const std::string& fileName) {
  const std::string target = InstallFolderOf(productDocumentPath) + fileName;
  const std::string source =
      InstallFolderOf(driverDocumentPath) + names::kFrenchMoroccoSettingsFolder + "\\" + fileName;

  session.LogPrefixed({"Replacing en_US to fr_FR in ", fileName});
  if (CopyFileOver(source, target).ok()) {
    session.LogPrefixed({"Successfully Updated fr_FR in ", fileName});
  } else {
    session.LogPrefixed({"could not update en_US to fr_FR in ", fileName});
  }
}

void FixFrenchMoroccoLocale(const IntegrationSession& session, SessionDatabases& databases,
                            const std::string& productCode, const std::string& sessionSignature) {
  PayloadConnection pdb(databases);
  if (!pdb.Open()) return;

  std::string productPath;
  std::string driverPath;
  // Both paths are read in one snapshot under one shared lock, which ends
  // before the copies. An empty path names no install folder: the copies
  // would land in the installer's working folder.
  storage::Transaction snapshot = pdb->BeginRead();
  const bool haveProduct =
      pdb->PayloadData(productCode, kPayloadDataDomain, names::kConfigPathKey, &productPath).ok() &&
      !productPath.empty();
  const bool haveDriver =
      pdb->PayloadData(sessionSignature, kPayloadDataDomain, names::kConfigPathKey, &driverPath).ok() &&
      !driverPath.empty();
  static_cast<void>(snapshot.Commit());
  if (!haveProduct || !haveDriver) {
    // Without both install folders there is nothing safe to copy.
    session.LogPrefixed({"Could not read RMTConfigPath of the ",
                              haveProduct ? "driver payload" : "product",
                              " from pdb.db: TesselStudio.ini and TesselStudioC.ini left as they are"});
    return;
  }
  for (const char* name : names::kSettingsFiles) {
    CopyLocaleSettingsFile(session, productPath, driverPath, name);
  }
}

}  // namespace customhooks::integration
