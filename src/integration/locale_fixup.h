// The French-Moroccan locale fix-up of the first product: its two settings
// files are replaced by the copies the suite's driver payload carries in its
// "TesselStudio_fr_MA\" folder.
#ifndef CUSTOMHOOKS_INTEGRATION_LOCALE_FIXUP_H_
#define CUSTOMHOOKS_INTEGRATION_LOCALE_FIXUP_H_

#include <string>

#include "integration/session.h"
#include "integration/storage_handles.h"

namespace customhooks::integration {

// Reads both payloads' "RMTConfigPath" from the payload database and copies
// "TesselStudio.ini", then "TesselStudioC.ini". Outcomes are log lines only.
void FixFrenchMoroccoLocale(const IntegrationSession& session, SessionDatabases& databases,
                            const std::string& productCode, const std::string& sessionSignature);

// Copies one settings file: from the driver's install folder +
// "TesselStudio_fr_MA\" + `fileName` over the product's install folder +
// `fileName`. An install folder is its document path cut before
// "RMT\application.xml".
void CopyLocaleSettingsFile(const IntegrationSession& session, const std::string& productDocumentPath,
                            const std::string& driverDocumentPath, const std::string& fileName);

}  // namespace customhooks::integration

#endif  // CUSTOMHOOKS_INTEGRATION_LOCALE_FIXUP_H_
