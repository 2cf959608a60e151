#include "recovery/create_table.h"

#include <cctype>
#include <string>
#include <vector>

namespace {

enum class Kind { kEnd, kWord, kName, kString, kNumber, kSymbol, kBad };

struct Token {
  Kind kind = Kind::kEnd;
  std::string_view text;  // as written
};

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

bool IsWordByte(unsigned char c) { return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80; }

// The statement's tokens, comments and blanks passed over.
class Tokens {
 public:
  explicit Tokens(std::string_view sql) : sql_(sql) { Advance(); }

  const Token& peek() const { return next_; }
  Token Take() {
    Token taken = next_;
    Advance();
    return taken;
  }
  // Whether the next token is the bare word (any case); if so, taken.
  bool TakeWord(std::string_view word) {
    if (!IsWord(next_, word)) return false;
    Advance();
    return true;
  }
  bool TakeSymbol(char symbol) {
    if (next_.kind != Kind::kSymbol || next_.text[0] != symbol) return false;
    Advance();
    return true;
  }
  static bool IsWord(const Token& token, std::string_view word) {
    return token.kind == Kind::kWord && EqualIgnoringCase(token.text, word);
  }

 private:
  void Advance() {
    SkipBlanks();
    if (at_ >= sql_.size()) {
      next_ = {Kind::kEnd, {}};
      return;
    }
    const std::size_t start = at_;
    const unsigned char c = static_cast<unsigned char>(sql_[at_]);
    Kind kind = Kind::kSymbol;
    if (c == '"' || c == '`' || c == '\'') {
      kind = QuotedTo(static_cast<char>(c)) ? (c == '\'' ? Kind::kString : Kind::kName) : Kind::kBad;
    } else if (c == '[') {
      const std::size_t close = sql_.find(']', at_);
      kind = close == std::string_view::npos ? Kind::kBad : Kind::kName;
      at_ = close == std::string_view::npos ? sql_.size() : close + 1;
    } else if (std::isdigit(c) ||
               (c == '.' && at_ + 1 < sql_.size() && std::isdigit(static_cast<unsigned char>(sql_[at_ + 1])))) {
      kind = Kind::kNumber;
      while (at_ < sql_.size() && (IsWordByte(static_cast<unsigned char>(sql_[at_])) || sql_[at_] == '.')) ++at_;
    } else if (IsWordByte(c)) {
      kind = Kind::kWord;
      while (at_ < sql_.size() && IsWordByte(static_cast<unsigned char>(sql_[at_]))) ++at_;
    } else {
      ++at_;
    }
    next_ = {kind, sql_.substr(start, at_ - start)};
  }

  // Past a quoted token whose quote, doubled, stands for itself.
  bool QuotedTo(char quote) {
    for (++at_; at_ < sql_.size(); ++at_) {
      if (sql_[at_] != quote) continue;
      if (at_ + 1 < sql_.size() && sql_[at_ + 1] == quote) {
        ++at_;
        continue;
      }
      ++at_;
      return true;
    }
    return false;
  }

  void SkipBlanks() {
    while (at_ < sql_.size()) {
      if (std::isspace(static_cast<unsigned char>(sql_[at_]))) {
        ++at_;
      } else if (sql_.substr(at_, 2) == "--") {
        const std::size_t end = sql_.find('\n', at_);
        at_ = end == std::string_view::npos ? sql_.size() : end + 1;
      } else if (sql_.substr(at_, 2) == "/*") {
        const std::size_t end = sql_.find("*/", at_ + 2);
        at_ = end == std::string_view::npos ? sql_.size() : end + 2;
      } else {
        return;
      }
    }
  }

  std::string_view sql_;
  std::size_t at_ = 0;
  Token next_;
};

// An identifier as SQLite keeps it: the quotes of "name", [name], `name` or
// 'name' removed, a doubled quote standing for one.
std::string Dequoted(const Token& token) {
  if (token.kind == Kind::kWord) return std::string(token.text);
  const std::string_view inner = token.text.substr(1, token.text.size() - 2);
  if (token.text[0] == '[') return std::string(inner);
  std::string name;
  for (std::size_t i = 0; i < inner.size(); ++i) {
    name += inner[i];
    if (inner[i] == token.text[0]) ++i;  // the second of a doubled quote
  }
  return name;
}

bool IsNameToken(const Token& token) {
  return token.kind == Kind::kWord || token.kind == Kind::kName || token.kind == Kind::kString;
}

// Words of statements, which no type name holds.
bool BeginsStatement(const Token& token) {
  for (const char* word : {"SELECT", "INSERT", "UPDATE", "DELETE", "DROP", "ATTACH", "DETACH", "PRAGMA", "WITH",
                           "VALUES", "CREATE", "ALTER", "BEGIN", "END", "VACUUM", "REPLACE"}) {
    if (Tokens::IsWord(token, word)) return true;
  }
  return false;
}

// The words that end a column's type and begin its constraints.
bool BeginsConstraint(const Token& token) {
  for (const char* word : {"CONSTRAINT", "PRIMARY", "NOT", "NULL", "UNIQUE", "CHECK", "DEFAULT", "COLLATE",
                           "REFERENCES", "GENERATED", "AS"}) {
    if (Tokens::IsWord(token, word)) return true;
  }
  return false;
}

// The words that begin a table constraint where a column definition could.
bool BeginsTableConstraint(const Token& token) {
  for (const char* word : {"CONSTRAINT", "PRIMARY", "UNIQUE", "CHECK", "FOREIGN"}) {
    if (Tokens::IsWord(token, word)) return true;
  }
  return false;
}

class Reader {
 public:
  explicit Reader(std::string_view sql) : tokens_(sql) {}

  std::optional<CreatedTable> Read() {
    if (!tokens_.TakeWord("CREATE") || !tokens_.TakeWord("TABLE")) return std::nullopt;
    if (tokens_.TakeWord("IF") && !(tokens_.TakeWord("NOT") && tokens_.TakeWord("EXISTS"))) return std::nullopt;
    if (!IsNameToken(tokens_.peek())) return std::nullopt;
    table_.schema.name = Dequoted(tokens_.Take());
    if (tokens_.TakeSymbol('.')) {
      if (!IsNameToken(tokens_.peek())) return std::nullopt;
      table_.schema.name = Dequoted(tokens_.Take());
    }
    if (!tokens_.TakeSymbol('(')) return std::nullopt;
    // Column definitions, then table constraints, which SQLite lets follow
    // one another with or without a comma.
    bool constraints = false;
    do {
      do {
        constraints = constraints || BeginsTableConstraint(tokens_.peek());
        const bool read = constraints ? TableConstraint() : ColumnDefinition();
        if (!read || table_.schema.columns.size() > kMostColumns) return std::nullopt;
      } while (constraints && BeginsTableConstraint(tokens_.peek()));
    } while (tokens_.TakeSymbol(','));
    if (!tokens_.TakeSymbol(')') || !TableOptions()) return std::nullopt;
    tokens_.TakeSymbol(';');
    if (tokens_.peek().kind != Kind::kEnd || table_.schema.columns.empty()) return std::nullopt;
    if (!table_.withoutRowid) table_.schema.rowIdColumn = RowIdColumn();
    return std::move(table_);
  }

 private:
  bool ColumnDefinition() {
    if (!IsNameToken(tokens_.peek())) return false;
    TableSchema& schema = table_.schema;
    schema.columns.push_back(Dequoted(tokens_.Take()));
    std::string type;
    while (IsNameToken(tokens_.peek()) && !BeginsConstraint(tokens_.peek())) {
      if (BeginsStatement(tokens_.peek())) return false;
      if (!type.empty()) type += ' ';
      type += Dequoted(tokens_.Take());
    }
    if (tokens_.TakeSymbol('(')) {
      if (!SignedNumber() || (tokens_.TakeSymbol(',') && !SignedNumber()) || !tokens_.TakeSymbol(')')) return false;
    }
    schema.affinities.push_back(AffinityOf(type));
    schema.notNull.push_back(false);
    integerTyped_.push_back(EqualIgnoringCase(type, "INTEGER"));
    return ColumnConstraints();
  }

  bool ColumnConstraints() {
    const std::size_t column = table_.schema.columns.size() - 1;
    while (true) {
      if (tokens_.TakeWord("CONSTRAINT")) {
        if (!IsNameToken(tokens_.Take())) return false;
      } else if (tokens_.TakeWord("PRIMARY")) {
        if (!tokens_.TakeWord("KEY")) return false;
        const bool descending = tokens_.TakeWord("DESC");
        if (!descending) tokens_.TakeWord("ASC");
        if (!ConflictClause()) return false;
        tokens_.TakeWord("AUTOINCREMENT");
        ++primaryKeys_;
        // SQLite's quirk: INTEGER PRIMARY KEY DESC is no row id.
        if (integerTyped_[column] && !descending) integerKey_ = static_cast<int>(column);
      } else if (tokens_.TakeWord("NOT")) {
        if (!tokens_.TakeWord("NULL") || !ConflictClause()) return false;
        table_.schema.notNull[column] = true;
      } else if (tokens_.TakeWord("NULL")) {
        if (!ConflictClause()) return false;
      } else if (tokens_.TakeWord("UNIQUE")) {
        if (!ConflictClause()) return false;
      } else if (tokens_.TakeWord("CHECK")) {
        if (!Parenthesised()) return false;
      } else if (tokens_.TakeWord("DEFAULT")) {
        if (!DefaultValue()) return false;
      } else if (tokens_.TakeWord("COLLATE")) {
        if (!IsNameToken(tokens_.Take())) return false;
      } else if (tokens_.TakeWord("REFERENCES")) {
        if (!ForeignKeyClause()) return false;
      } else {
        // GENERATED ... AS and AS: a generated column, which a record may
        // not store; anything else is no column constraint.
        return tokens_.peek().kind == Kind::kSymbol && (tokens_.peek().text == "," || tokens_.peek().text == ")");
      }
    }
  }

  bool TableConstraint() {
    if (tokens_.TakeWord("CONSTRAINT") && !IsNameToken(tokens_.Take())) return false;
    if (tokens_.TakeWord("PRIMARY")) {
      if (!tokens_.TakeWord("KEY")) return false;
      std::vector<std::string> names;
      if (!IndexedColumns(&names) || !ConflictClause()) return false;
      primaryKeys_ += static_cast<int>(names.size());
      tableKey_ = names.size() == 1 ? names.front() : std::string();
      return true;
    }
    if (tokens_.TakeWord("UNIQUE")) return IndexedColumns(nullptr) && ConflictClause();
    if (tokens_.TakeWord("CHECK")) return Parenthesised();
    if (tokens_.TakeWord("FOREIGN")) {
      return tokens_.TakeWord("KEY") && NameList() && tokens_.TakeWord("REFERENCES") && ForeignKeyClause();
    }
    return false;
  }

  // ( name [COLLATE name] [ASC | DESC], ... )
  bool IndexedColumns(std::vector<std::string>* names) {
    if (!tokens_.TakeSymbol('(')) return false;
    do {
      if (!IsNameToken(tokens_.peek())) return false;
      const std::string name = Dequoted(tokens_.Take());
      if (names != nullptr) names->push_back(name);
      if (tokens_.TakeWord("COLLATE") && !IsNameToken(tokens_.Take())) return false;
      if (!tokens_.TakeWord("ASC")) tokens_.TakeWord("DESC");
    } while (tokens_.TakeSymbol(','));
    return tokens_.TakeSymbol(')');
  }

  // ( name, ... )
  bool NameList() {
    if (!tokens_.TakeSymbol('(')) return false;
    do {
      if (!IsNameToken(tokens_.Take())) return false;
    } while (tokens_.TakeSymbol(','));
    return tokens_.TakeSymbol(')');
  }

  // [ON CONFLICT ROLLBACK | ABORT | FAIL | IGNORE | REPLACE]
  bool ConflictClause() {
    if (!tokens_.TakeWord("ON")) return true;
    if (!tokens_.TakeWord("CONFLICT")) return false;
    for (const char* resolution : {"ROLLBACK", "ABORT", "FAIL", "IGNORE", "REPLACE"}) {
      if (tokens_.TakeWord(resolution)) return true;
    }
    return false;
  }

  // table [(names)], then ON DELETE | UPDATE actions, MATCH name, and
  // [NOT] DEFERRABLE [INITIALLY DEFERRED | IMMEDIATE].
  bool ForeignKeyClause() {
    if (!IsNameToken(tokens_.Take())) return false;
    if (tokens_.peek().kind == Kind::kSymbol && tokens_.peek().text == "(" && !NameList()) return false;
    while (true) {
      if (tokens_.TakeWord("ON")) {
        if (!tokens_.TakeWord("DELETE") && !tokens_.TakeWord("UPDATE")) return false;
        if (tokens_.TakeWord("SET")) {
          if (!tokens_.TakeWord("NULL") && !tokens_.TakeWord("DEFAULT")) return false;
        } else if (tokens_.TakeWord("NO")) {
          if (!tokens_.TakeWord("ACTION")) return false;
        } else if (!tokens_.TakeWord("CASCADE") && !tokens_.TakeWord("RESTRICT")) {
          return false;
        }
      } else if (tokens_.TakeWord("MATCH")) {
        if (!IsNameToken(tokens_.Take())) return false;
      } else if (tokens_.TakeWord("NOT") || Tokens::IsWord(tokens_.peek(), "DEFERRABLE")) {
        if (!tokens_.TakeWord("DEFERRABLE")) return false;
        if (tokens_.TakeWord("INITIALLY") && !tokens_.TakeWord("DEFERRED") && !tokens_.TakeWord("IMMEDIATE")) {
          return false;
        }
      } else {
        return true;
      }
    }
  }

  // DEFAULT ( expression ), a signed number, a string, a BLOB literal, or a
  // word (NULL, TRUE, CURRENT_TIME, an identifier SQLite takes as a string).
  bool DefaultValue() {
    if (tokens_.peek().kind == Kind::kSymbol && tokens_.peek().text == "(") return Parenthesised();
    if (tokens_.peek().kind == Kind::kSymbol && (tokens_.peek().text == "+" || tokens_.peek().text == "-")) {
      return SignedNumber();
    }
    const Token value = tokens_.Take();
    if (Tokens::IsWord(value, "X") && tokens_.peek().kind == Kind::kString) tokens_.Take();  // X'...'
    return value.kind == Kind::kNumber || IsNameToken(value);
  }

  bool SignedNumber() {
    if (!tokens_.TakeSymbol('+')) tokens_.TakeSymbol('-');
    return tokens_.Take().kind == Kind::kNumber;
  }

  // A parenthesised expression, passed over by counting its parentheses:
  // its depth costs nothing but its length.
  bool Parenthesised() {
    if (!tokens_.TakeSymbol('(')) return false;
    for (std::size_t depth = 1; depth > 0;) {
      const Token token = tokens_.Take();
      if (token.kind == Kind::kEnd || token.kind == Kind::kBad) return false;
      if (token.kind != Kind::kSymbol) continue;
      if (token.text == "(") ++depth;
      if (token.text == ")") --depth;
      if (token.text == ";") return false;  // no statement ends inside a column list
    }
    return true;
  }

  // WITHOUT ROWID and STRICT, separated by commas.
  bool TableOptions() {
    if (tokens_.peek().kind != Kind::kWord) return true;
    do {
      if (tokens_.TakeWord("WITHOUT")) {
        if (!tokens_.TakeWord("ROWID")) return false;
        table_.withoutRowid = true;
      } else if (!tokens_.TakeWord("STRICT")) {
        return false;
      }
    } while (tokens_.TakeSymbol(','));
    return true;
  }

 // The row id column: the one column of the PRIMARY KEY, declared exactly
  // INTEGER; -1 when there is none.
  int RowIdColumn() const {
    if (primaryKeys_ != 1) return -1;
    if (integerKey_ >= 0) return integerKey_;
    for (std::size_t column = 0; column < table_.schema.columns.size(); ++column) {
      if (integerTyped_[column] && EqualIgnoringCase(table_.schema.columns[column], tableKey_)) {
        return static_cast<int>(column);
      }
    }
    return -1;
  }

  Tokens tokens_;
  CreatedTable table_;
  std::vector<bool> integerTyped_;  // by column: declared exactly INTEGER
  int primaryKeys_ = 0;    // columns of the PRIMARY KEY, however declared
  int integerKey_ = -1;    // a column declared INTEGER PRIMARY KEY
  std::string tableKey_;   // the one column a table's PRIMARY KEY names
};

}  // namespace

std::optional<CreatedTable> ReadCreateTable(std::string_view sql) {
  return Reader(sql).Read();
}
