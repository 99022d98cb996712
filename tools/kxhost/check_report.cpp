// The check's report as plain text and as JSON.
#include <cstdio>
#include <string>

#include "machine_check.h"

namespace customhooks::check {

namespace {

const char* KindName(fs::PathFacts::Kind kind) {
  switch (kind) {
    case fs::PathFacts::Kind::kNothing: return "missing";
    case fs::PathFacts::Kind::kFile: return "file";
    case fs::PathFacts::Kind::kFolder: return "folder";
    case fs::PathFacts::Kind::kLink: return "link";
    case fs::PathFacts::Kind::kOther: return "other";
  }
  return "";
}

std::string OrNone(const std::optional<std::string>& value) { return value ? "\"" + *value + "\"" : "(none)"; }

// ---- JSON ---------------------------------------------------------------------

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Optional(const std::optional<std::string>& value) { return value ? Quoted(*value) : "null"; }

// Joins the members (each "\"name\": value") into an object.
std::string Object(std::initializer_list<std::string> members) {
  std::string out = "{";
  for (const std::string& member : members) out += (out.size() > 1 ? ", " : "") + member;
  return out + "}";
}

std::string Member(const char* name, const std::string& value) { return Quoted(name) + ": " + value; }
std::string Flag(bool value) { return value ? "true" : "false"; }

template <typename Items, typename Format>
std::string Array(const Items& items, Format format) {
  std::string out = "[";
  for (const auto& item : items) out += (out.size() > 1 ? ",\n    " : "\n    ") + format(item);
  return out + (out.size() > 1 ? "\n  ]" : "]");
}

}  // namespace

std::string ReportText(const CheckReport& report) {
  std::string out = "CustomHooks check: what a close with mediaSignature=" + report.mediaSignature +
                    " installLanguage=" + report.installLanguage + " would find and change\n\nWhere things are:\n";
  for (const Place& place : report.places) {
    out += "  " + place.what + ": " + (place.path.empty() ? "(not located)" : place.path) + "\n";
    if (place.path.empty()) continue;
    out += std::string("      ") + KindName(place.facts.kind);
    if (place.facts.kind != fs::PathFacts::Kind::kNothing) {
      out += ", owner " + place.facts.owner + ", access " + place.facts.access + ", " +
             std::to_string(place.facts.size) + " bytes, " + std::to_string(place.facts.links) + " link(s)";
    }
    out += "\n";
  }
  out += "\nDatabases:\n";
  for (const DatabaseReport& database : report.databases) {
    out += "  " + database.name + ": " + database.verdict;
    if (!database.reason.empty()) out += ": " + database.reason;
    out += "\n      schema_version " + OrNone(database.schemaVersion) + ", compatibility " +
           OrNone(database.compatibilityVersion) + ", after the close " + OrNone(database.schemaVersionAfter) +
           ", quick check " + (database.quickCheck.empty() ? "(not read)" : database.quickCheck) +
           (database.lockedForWriting ? ", locked for writing by another process" : "") + "\n";
  }
  out += "\nProducts:\n";
  for (const ProductReport& product : report.products) {
    out += "  " + product.name + ": ";
    if (!product.reached) {
      out += "not searched\n";
      continue;
    }
    if (product.located) {
      out += "located, payload " + product.payloadId + " version " + product.version + ", signature " +
             product.productSignature + (product.signatureMatches ? " (matches the session's)" : " (not the session's)");
    } else {
      out += "not located";
    }
    out += "\n      LEID " + OrNone(product.licensingCode) + ", driver payload " + product.driverPayload + "\n";
  }
  out += "\nWhat a close would change:\n";
  if (report.changes.empty()) out += "  nothing\n";
  for (const Change& change : report.changes) {
    out += "  " + change.kind + " " + change.path + (change.key.empty() ? "" : " [" + change.key + "]") + ": " +
           OrNone(change.before) + " -> " + OrNone(change.after) + "\n";
  }
  for (const std::string& folder : report.accessApplied) out += "  access list applied to " + folder + "\n";
  out += "\n";
  if (report.problems.empty()) out += "Verdict: a close would do all its work.\n";
  for (const Problem& problem : report.problems) {
    out += "Problem: " + problem.text + "\n    What to do: " + problem.advice + "\n";
  }
  if (!report.problems.empty()) {
    out += report.exitStatus == 2 ? "Verdict: the check could not run.\n"
                                  : "Verdict: a close would skip or be refused some of its work.\n";
  }
  return out;
}

std::string ReportJson(const CheckReport& report) {
  const std::string places = Array(report.places, [](const Place& place) {
    return Object({Member("what", Quoted(place.what)), Member("path", Quoted(place.path)),
                   Member("kind", Quoted(KindName(place.facts.kind))), Member("owner", Quoted(place.facts.owner)),
                   Member("access", Quoted(place.facts.access)), Member("size", std::to_string(place.facts.size)),
                   Member("links", std::to_string(place.facts.links))});
  });
  const std::string databases = Array(report.databases, [](const DatabaseReport& database) {
    return Object({Member("name", Quoted(database.name)), Member("path", Quoted(database.path)),
                   Member("verdict", Quoted(database.verdict)), Member("reason", Quoted(database.reason)),
                   Member("schemaVersion", Optional(database.schemaVersion)),
                   Member("compatibilityVersion", Optional(database.compatibilityVersion)),
                   Member("schemaVersionAfter", Optional(database.schemaVersionAfter)),
                   Member("quickCheck", Quoted(database.quickCheck)),
                   Member("lockedForWriting", Flag(database.lockedForWriting))});
  });
  const std::string products = Array(report.products, [](const ProductReport& product) {
    return Object({Member("name", Quoted(product.name)), Member("searched", Flag(product.reached)),
                   Member("located", Flag(product.located)), Member("payloadId", Quoted(product.payloadId)),
                   Member("version", Quoted(product.version)),
                   Member("signature", Quoted(product.productSignature)),
                   Member("signatureMatches", Flag(product.signatureMatches)),
                   Member("licensingCode", Optional(product.licensingCode)),
                   Member("driverPayload", Quoted(product.driverPayload))});
  });
  const std::string changes = Array(report.changes, [](const Change& change) {
    return Object({Member("kind", Quoted(change.kind)), Member("path", Quoted(change.path)),
                   Member("key", Quoted(change.key)), Member("before", Optional(change.before)),
                   Member("after", Optional(change.after))});
  });
  const std::string access = Array(report.accessApplied, [](const std::string& folder) { return Quoted(folder); });
  const std::string log = Array(report.closeLog, [](const std::string& line) { return Quoted(line); });
  const std::string problems = Array(report.problems, [](const Problem& problem) {
    return Object({Member("text", Quoted(problem.text)), Member("advice", Quoted(problem.advice))});
  });
  return "{\n  " + Member("version", std::to_string(kCheckJsonVersion)) + ",\n  " +
         Member("exitStatus", std::to_string(report.exitStatus)) + ",\n  " +
         Member("mediaSignature", Quoted(report.mediaSignature)) + ",\n  " +
         Member("installLanguage", Quoted(report.installLanguage)) + ",\n  " + Member("places", places) + ",\n  " +
         Member("databases", databases) + ",\n  " + Member("products", products) + ",\n  " +
         Member("changes", changes) + ",\n  " + Member("accessApplied", access) + ",\n  " +
         Member("closeLog", log) + ",\n  " + Member("problems", problems) + "\n}\n";
}

}  // namespace customhooks::check
