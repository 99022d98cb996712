#include "storage/schema_steps.h"

namespace customhooks::storage {

const char kPayloadsTableSql[] =
    "CREATE TABLE payloads( PayloadID TEXT NOT NULL, productFamily TEXT ,productName TEXT ,"
    " version TEXT , signature TEXT ,\tinstallState INT NOT NULL DEFAULT 0, installTime"
    " INT, PRIMARY KEY (PayloadID) )";

namespace {

const char* const kNoStatements[] = {nullptr};

// Configuration database, version 1: the installer's payload and collection
// records, the domain records and their checks.
const char* const kConfigurationStep1[] = {
    "CREATE TABLE pcd_meta ( key TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY (key) );",
    "CREATE TABLE vane_payload ( payloadID TEXT NOT NULL, productFamily TEXT NOT NULL,"
    " productName TEXT NOT NULL, version TEXT NOT NULL, PRIMARY KEY (payloadID) );",
    "CREATE TABLE vane_collection ( collectionID TEXT NOT NULL, collectionPayloadID TEXT"
    " NOT NULL REFERENCES vane_payload (payloadID) ON DELETE RESTRICT, tsInstalled INT,"
    " tsModified INT, PRIMARY KEY (collectionID) );",
    "CREATE TABLE vane_collection_payload ( collectionID TEXT NOT NULL REFERENCES"
    " vane_collection (collectionID) ON DELETE CASCADE, payloadID TEXT NOT NULL REFERENCES"
    " vane_payload (payloadID) ON DELETE RESTRICT, installState INT NOT NULL DEFAULT 0,"
    " tsInstalled INTEGER, PRIMARY KEY (collectionID, payloadID) );",
    "CREATE TABLE vane_payload_constraint ( payloadID TEXT NOT NULL REFERENCES vane_payload"
    " (payloadID) ON DELETE CASCADE, payloadIDb TEXT NOT NULL, constraintType INTEGER NOT"
    " NULL, PRIMARY KEY (payloadID, payloadIDb, constraintType) );",
    "CREATE TABLE collection_data ( collectionID TEXT NOT NULL REFERENCES vane_collection"
    " (collectionID), domain TEXT NOT NULL, key TEXT NOT NULL, value TEXT, PRIMARY KEY"
    " (collectionID, domain, key) );",
    "CREATE TABLE payload_data ( payloadID TEXT NOT NULL REFERENCES vane_payload"
    " (payloadID), domain TEXT NOT NULL, key TEXT NOT NULL, value TEXT, PRIMARY KEY"
    " (payloadID, domain, key) );",
    "CREATE TABLE domain_data ( domain TEXT NOT NULL, subDomain TEXT NOT NULL, key TEXT NOT"
    " NULL, value TEXT, PRIMARY KEY (domain, subDomain, key) );",
    "CREATE TRIGGER ctd_vane_payload BEFORE DELETE ON vane_payload FOR EACH ROW BEGIN"
    " DELETE FROM vane_collection_payload WHERE payloadID = OLD.payloadID; DELETE FROM"
    " vane_payload_constraint WHERE payloadID = OLD.payloadID; DELETE FROM payload_data"
    " WHERE payloadID = OLD.payloadID; END;",
    "CREATE TRIGGER cti_collection_data BEFORE INSERT ON collection_data FOR EACH ROW BEGIN"
    " SELECT RAISE(ABORT, 'cti_collection_data: collectionID is invalid.') WHERE (SELECT"
    " collectionID FROM vane_collection WHERE collectionID = NEW.collectionID) IS NULL;"
    " END;",
    "CREATE TRIGGER ctu_collection_data BEFORE UPDATE ON collection_data FOR EACH ROW BEGIN"
    " SELECT RAISE(ABORT, 'ctu_collection_data: collectionID is invalid.') WHERE (SELECT"
    " collectionID FROM vane_collection WHERE collectionID = NEW.collectionID) IS NULL;"
    " END;",
    "CREATE TRIGGER cti_payload_data BEFORE INSERT ON payload_data FOR EACH ROW BEGIN"
    " SELECT RAISE(ABORT, 'cti_payload_data: payloadID is invalid.') WHERE (SELECT"
    " payloadID FROM vane_payload WHERE payloadID = NEW.payloadID) IS NULL; END;",
    "CREATE TRIGGER ctu_payload_data BEFORE UPDATE ON payload_data FOR EACH ROW BEGIN"
    " SELECT RAISE(ABORT, 'ctu_payload_data: payloadID is invalid.') WHERE (SELECT"
    " payloadID FROM vane_payload WHERE payloadID = NEW.payloadID) IS NULL; END;",
    "CREATE TRIGGER ctd_vane_collection BEFORE DELETE ON vane_collection FOR EACH ROW BEGIN"
    " DELETE FROM vane_collection_payload WHERE collectionID = OLD.collectionID;  DELETE"
    " FROM vane_payload WHERE payloadID IN ( SELECT p.payloadID FROM vane_payload p LEFT"
    " JOIN vane_collection_payload pc ON (p.payloadID = pc.payloadID) WHERE pc.payloadID IS"
    " NULL); DELETE FROM collection_data WHERE collectionID = OLD.collectionID; END;",
    "CREATE TRIGGER cti_vane_collection_payload BEFORE INSERT ON vane_collection_payload"
    " FOR EACH ROW BEGIN SELECT RAISE(ABORT, 'cti_vane_collection_payload: collectionID is"
    " invalid.') WHERE (SELECT collectionID FROM vane_collection WHERE collectionID ="
    " NEW.collectionID) IS NULL; SELECT RAISE(ABORT, 'cti_vane_collection_payload:"
    " payloadID is invalid.') WHERE (SELECT payloadID FROM vane_payload WHERE payloadID ="
    " NEW.payloadID) IS NULL; END;",
    "CREATE TRIGGER ctu_vane_collection_payload BEFORE UPDATE ON vane_collection_payload"
    " FOR EACH ROW BEGIN SELECT RAISE(ABORT, 'ctu_vane_collection_payload: collectionID is"
    " invalid.') WHERE (SELECT collectionID FROM vane_collection WHERE collectionID ="
    " NEW.collectionID) IS NULL; SELECT RAISE(ABORT, 'ctu_vane_collection_payload:"
    " payloadID is invalid.') WHERE (SELECT payloadID FROM vane_payload WHERE payloadID ="
    " NEW.payloadID) IS NULL; END;",
    "CREATE TRIGGER ctd_vane_collection_payload BEFORE DELETE ON vane_collection_payload"
    " FOR EACH ROW WHEN OLD.installState != 0 BEGIN SELECT RAISE(ABORT,"
    " 'ctd_vane_collection_payload: Payload must be marked as uninstalled before"
    " removing'); END;",
    "CREATE TRIGGER cti_vane_payload_constraint BEFORE INSERT ON vane_payload_constraint"
    " FOR EACH ROW BEGIN SELECT RAISE(ABORT, 'cti_vane_payload_constraint: payloadID is"
    " invalid.') WHERE (SELECT payloadID FROM vane_payload WHERE payloadID = NEW.payloadID)"
    " IS NULL; END;",
    "CREATE TRIGGER ctu_vane_payload_constraint BEFORE UPDATE ON vane_payload_constraint"
    " FOR EACH ROW BEGIN SELECT RAISE(ABORT, 'ctu_vane_payload_constraint: payloadID is"
    " invalid.') WHERE (SELECT payloadID FROM vane_payload WHERE payloadID = NEW.payloadID)"
    " IS NULL; END;",
    "INSERT INTO pcd_meta (key, value) VALUES ('schema_version', 1);",
    "INSERT INTO pcd_meta (key, value) VALUES ('schema_compatibility_version', 1);",
    nullptr,
};

// Cache database, version 1: the domain records only.
const char* const kCacheStep1[] = {
    "CREATE TABLE pcd_meta ( key TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY (key) );",
    "CREATE TABLE domain_data ( domain TEXT NOT NULL, subDomain TEXT NOT NULL, key TEXT NOT"
    " NULL, value TEXT, PRIMARY KEY (domain, subDomain, key) );",
    "INSERT INTO pcd_meta (key, value) VALUES ('schema_version', 1);",
    "INSERT INTO pcd_meta (key, value) VALUES ('schema_compatibility_version', 1);",
    nullptr,
};

// Payload database, version 1, as the installer creates it.
const char* const kPayloadStep1[] = {
    "CREATE TABLE pcd_meta ( key TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY (key) );",
    kPayloadsTableSql,
    "CREATE TABLE dependencies( PayloadID TEXT NOT NULL REFERENCES payloads(PayloadID) ON"
    " DELETE CASCADE, PayloadIDb TEXT NOT NULL, type INTEGER NOT NULL REFERENCES"
    " dependency_types(type), PRIMARY KEY (PayloadID, PayloadIDb) );",
    "CREATE TABLE dependency_type( type INTEGER NOT NULL, description TEXT NOT NULL,"
    " PRIMARY KEY (type) );",
    "CREATE TABLE payload_data ( PayloadID TEXT NOT NULL REFERENCES payloads (PayloadID),"
    " domain TEXT NOT NULL, key TEXT NOT NULL, value TEXT, PRIMARY KEY (PayloadID, domain,"
    " key) );",
    "CREATE TABLE upgraded_payloads ( payloadIDOriginal TEXT NOT NULL , payloadIDUpgraded"
    " TEXT NOT NULL REFERENCES payloads (PayloadID), PRIMARY KEY (payloadIDOriginal,"
    " payloadIDUpgraded) );",
    "CREATE TABLE user_actions ( product_id TEXT NOT NULL, actor TEXT , time_action TEXT"
    " NOT NULL);",
    "CREATE TRIGGER ctd_payloads BEFORE DELETE ON payloads FOR EACH ROW BEGIN DELETE FROM"
    " dependencies WHERE PayloadID = OLD.PayloadID;DELETE FROM payload_data WHERE PayloadID"
    " = OLD.PayloadID; END;",
    "CREATE TRIGGER cti_dependencies BEFORE INSERT ON dependencies FOR EACH ROW BEGIN"
    " SELECT RAISE(ABORT, 'cti_dependencies: PayloadID is invalid.') WHERE (SELECT"
    " PayloadID FROM payloads WHERE PayloadID = NEW.PayloadID) IS NULL; END;",
    "CREATE TRIGGER ctu_dependencies BEFORE UPDATE ON dependencies FOR EACH ROW BEGIN"
    " SELECT RAISE(ABORT, 'ctu_dependencies: PayloadID is invalid.') WHERE (SELECT"
    " PayloadID FROM payloads WHERE PayloadID = NEW.PayloadID) IS NULL; END;",
    "CREATE TRIGGER cti_payload_data BEFORE INSERT ON payload_data FOR EACH ROW BEGIN"
    " SELECT RAISE(ABORT, 'cti_payload_data: PayloadID is invalid.') WHERE (SELECT"
    " PayloadID FROM payloads WHERE PayloadID = NEW.PayloadID) IS NULL; END;",
    "CREATE TRIGGER ctu_payload_data BEFORE UPDATE ON payload_data FOR EACH ROW BEGIN"
    " SELECT RAISE(ABORT, 'ctu_payload_data: PayloadID is invalid.') WHERE (SELECT"
    " PayloadID FROM payloads WHERE PayloadID = NEW.PayloadID) IS NULL; END;",
    "INSERT INTO pcd_meta (key, value) VALUES ('schema_version', 1);",
    "INSERT INTO pcd_meta (key, value) VALUES ('schema_compatibility_version', 1);",
    "INSERT INTO dependency_type VALUES (0,'Conflicts')",
    "INSERT INTO dependency_type VALUES (1,'Upgrades')",
    "INSERT INTO dependency_type VALUES (2,'Requires')",
    "INSERT INTO dependency_type VALUES (3,'Required')",
    "INSERT INTO dependency_type VALUES (4,'Critical')",
    "INSERT INTO dependency_type VALUES (5,'Recommended')",
    "INSERT INTO dependency_type VALUES (6,'loadPatch')",
    "INSERT INTO dependency_type VALUES (7,'loadLangPack')",
    nullptr,
};

}  // namespace

// Step 2 of both configuration-store tables is empty: it records no version,
// so it is applied again at every open of a version-1 file.
const SchemaStep kConfigurationSchemaSteps[] = {kConfigurationStep1, kNoStatements, nullptr};
const SchemaStep kCacheSchemaSteps[] = {kCacheStep1, kNoStatements, nullptr};
const SchemaStep kPayloadSchemaSteps[] = {kPayloadStep1, nullptr};

}  // namespace customhooks::storage
