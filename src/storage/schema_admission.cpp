#include "storage/schema_admission.h"

#include <cstddef>

namespace customhooks::storage {

namespace {

// ---- SQL tokens, as SQLite's tokenizer splits a statement ---------------------
// The statements come from sqlite_schema, which SQLite has parsed: only the
// kind of each token matters, so that a keyword quoted as a name (or inside
// a string) is never taken for the keyword.

enum class Kind { kWord, kName, kLiteral, kPunctuation, kEnd };

struct Token {
  Kind kind = Kind::kEnd;
  std::string_view text;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsWordStart(char c) { return IsLetter(c) || c == '_' || static_cast<unsigned char>(c) >= 0x80; }
bool IsWordPart(char c) { return IsWordStart(c) || IsDigit(c) || c == '$'; }

class Tokens {
 public:
  explicit Tokens(std::string_view sql) : sql_(sql) {}

  Token Next() {
    SkipBlanksAndComments();
    if (at_ >= sql_.size()) return {Kind::kEnd, {}};
    const std::size_t start = at_;
    const char c = sql_[at_];
    if ((c == 'x' || c == 'X') && at_ + 1 < sql_.size() && sql_[at_ + 1] == '\'') {
      ++at_;
      SkipQuoted('\'');
      return Take(Kind::kLiteral, start);
    }
    if (IsWordStart(c)) {
      while (at_ < sql_.size() && IsWordPart(sql_[at_])) ++at_;
      return Take(Kind::kWord, start);
    }
    if (c == '\'') {
      SkipQuoted('\'');
      return Take(Kind::kLiteral, start);
    }
    if (c == '"' || c == '`') {
      SkipQuoted(c);
      return Take(Kind::kName, start);
    }
    if (c == '[') {
      const std::size_t end = sql_.find(']', at_);
      at_ = end == std::string_view::npos ? sql_.size() : end + 1;
      return Take(Kind::kName, start);
    }
    if (IsDigit(c) || (c == '.' && at_ + 1 < sql_.size() && IsDigit(sql_[at_ + 1]))) {
      // Digits, a point, hexadecimal letters, an exponent and its sign.
      for (++at_; at_ < sql_.size(); ++at_) {
        const char d = sql_[at_];
        const bool sign = (d == '+' || d == '-') && (sql_[at_ - 1] | 0x20) == 'e';
        if (!IsWordPart(d) && d != '.' && !sign) break;
      }
      return Take(Kind::kLiteral, start);
    }
    ++at_;
    return Take(Kind::kPunctuation, start);
  }

 private:
  void SkipBlanksAndComments() {
    for (;;) {
      while (at_ < sql_.size() && (sql_[at_] == ' ' || (sql_[at_] >= '\t' && sql_[at_] <= '\r'))) ++at_;
      if (sql_.compare(at_, 2, "--") == 0) {
        const std::size_t end = sql_.find('\n', at_);
        at_ = end == std::string_view::npos ? sql_.size() : end;
      } else if (sql_.compare(at_, 2, "/*") == 0) {
        const std::size_t end = sql_.find("*/", at_ + 2);
        at_ = end == std::string_view::npos ? sql_.size() : end + 2;
      } else {
        return;
      }
    }
  }

  // From an opening quote past its closing one; a doubled quote is one
  // quote inside.
  void SkipQuoted(char quote) {
    for (++at_; at_ < sql_.size(); ++at_) {
      if (sql_[at_] != quote) continue;
      if (at_ + 1 < sql_.size() && sql_[at_ + 1] == quote) {
        ++at_;
        continue;
      }
      ++at_;
      return;
    }
  }

  Token Take(Kind kind, std::size_t start) { return {kind, sql_.substr(start, at_ - start)}; }

  std::string_view sql_;
  std::size_t at_ = 0;
};

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && !(IsLetter(a[i]) && (a[i] | 0x20) == (b[i] | 0x20))) return false;
  }
  return true;
}

bool IsWord(const Token& token, std::string_view word) {
  return token.kind == Kind::kWord && SameName(token.text, word);
}

bool IsPunctuation(const Token& token, char c) {
  return token.kind == Kind::kPunctuation && token.text[0] == c;
}

// A name as SQLite reads it: a quoted one without its quotes.
std::string_view Unquoted(const Token& token) {
  if (token.kind != Kind::kName || token.text.size() < 2) return token.text;
  return token.text.substr(1, token.text.size() - 2);
}

// ---- What runs inside the module's statements -----------------------------------

const char kNotOrdinary[] = "not an ordinary table";
const char kCheck[] = "a CHECK constraint";
const char kGenerated[] = "a generated column";
const char kDefault[] = "a DEFAULT that is not a literal";
const char kCollation[] = "an unknown collation";
const char kForeignKeyAction[] = "a foreign-key action";
const char kExpression[] = "an index on an expression";
const char kPartial[] = "a partial index";

// Each check below reads what follows its keyword from `tokens`, and gives
// a refusal or null.

// After COLLATE: only SQLite's own collations exist on these connections.
const char* CollationRefusal(Tokens& tokens) {
  const Token name = tokens.Next();
  for (const char* known : {"BINARY", "NOCASE", "RTRIM"}) {
    if ((name.kind == Kind::kWord || name.kind == Kind::kName) && SameName(Unquoted(name), known)) return nullptr;
  }
  return kCollation;
}

bool IsLiteralWord(const Token& token) {
  for (const char* word : {"NULL", "TRUE", "FALSE", "CURRENT_TIME", "CURRENT_DATE", "CURRENT_TIMESTAMP"}) {
    if (IsWord(token, word)) return true;
  }
  return false;
}

// After DEFAULT: SQLite's grammar takes a literal, a signed number or a name
// as they are; only a parenthesised expression can compute, so it must hold
// a literal alone.
const char* DefaultRefusal(Tokens& tokens) {
  Token token = tokens.Next();
  if (!IsPunctuation(token, '(')) return nullptr;
  int open = 1;
  for (token = tokens.Next(); IsPunctuation(token, '('); token = tokens.Next()) ++open;
  if (IsPunctuation(token, '+') || IsPunctuation(token, '-')) token = tokens.Next();
  if (token.kind != Kind::kLiteral && !IsLiteralWord(token)) return kDefault;
  for (; open > 0; --open) {
    if (!IsPunctuation(tokens.Next(), ')')) return kDefault;
  }
  return nullptr;
}

// After ON: a foreign key's ON DELETE or ON UPDATE names an action, and NO
// ACTION is the absence of one; ON CONFLICT chooses how the module's own
// statement ends.
const char* ActionRefusal(Tokens& tokens) {
  const Token event = tokens.Next();
  if (!IsWord(event, "DELETE") && !IsWord(event, "UPDATE")) return nullptr;
  return IsWord(tokens.Next(), "NO") ? nullptr : kForeignKeyAction;
}

const char* TableRefusal(std::string_view sql) {
  Tokens tokens(sql);
  Token token = tokens.Next();
  if (!IsWord(token, "CREATE")) return kNotOrdinary;
  token = tokens.Next();
  if (IsWord(token, "TEMP") || IsWord(token, "TEMPORARY")) token = tokens.Next();
  if (!IsWord(token, "TABLE")) return kNotOrdinary;
  for (token = tokens.Next(); token.kind != Kind::kEnd; token = tokens.Next()) {
    const char* refusal = nullptr;
    if (IsWord(token, "CHECK")) {
      refusal = kCheck;
    } else if (IsWord(token, "AS")) {
      // A column's "AS (...)" and "GENERATED ALWAYS AS (...)" alike.
      refusal = kGenerated;
    } else if (IsWord(token, "DEFAULT")) {
      refusal = DefaultRefusal(tokens);
    } else if (IsWord(token, "COLLATE")) {
      refusal = CollationRefusal(tokens);
    } else if (IsWord(token, "ON")) {
      refusal = ActionRefusal(tokens);
    }
    if (refusal != nullptr) return refusal;
  }
  return nullptr;
}

// CREATE [UNIQUE] INDEX [IF NOT EXISTS] name ON table (column [COLLATE c]
// [ASC|DESC], ...) [WHERE ...].
const char* IndexRefusal(std::string_view sql) {
  Tokens tokens(sql);
  Token token = tokens.Next();
  while (token.kind != Kind::kEnd && !IsWord(token, "ON")) token = tokens.Next();
  tokens.Next();  // the table
  if (!IsPunctuation(tokens.Next(), '(')) return kExpression;
  for (;;) {
    token = tokens.Next();
    if (token.kind != Kind::kWord && token.kind != Kind::kName) return kExpression;
    token = tokens.Next();
    if (IsWord(token, "COLLATE")) {
      if (const char* refusal = CollationRefusal(tokens)) return refusal;
      token = tokens.Next();
    }
    if (IsWord(token, "ASC") || IsWord(token, "DESC")) token = tokens.Next();
    if (IsPunctuation(token, ')')) break;
    if (!IsPunctuation(token, ',')) return kExpression;
  }
  return IsWord(tokens.Next(), "WHERE") ? kPartial : nullptr;
}

}  // namespace

std::vector<std::string> TablesCreatedBy(SchemaStepTable steps) {
  std::vector<std::string> tables;
  for (const SchemaStep* step = steps; step != nullptr && *step != nullptr; ++step) {
    for (SchemaStep statement = *step; *statement != nullptr; ++statement) {
      Tokens tokens(*statement);
      if (!IsWord(tokens.Next(), "CREATE") || !IsWord(tokens.Next(), "TABLE")) continue;
      tables.emplace_back(Unquoted(tokens.Next()));
    }
  }
  return tables;
}

const char* RefusalOf(std::string_view type, std::string_view table, std::string_view sql,
                      const std::vector<std::string>& own) {
  bool owned = false;
  for (const std::string& name : own) owned = owned || SameName(table, name);
  if (!owned) return nullptr;
  if (SameName(type, "table")) return TableRefusal(sql);
  if (SameName(type, "index") && !sql.empty()) return IndexRefusal(sql);
  return nullptr;
}

}  // namespace customhooks::storage
