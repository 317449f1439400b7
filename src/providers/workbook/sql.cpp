#include "providers/workbook/sql.h"

#include "platform/text.h"

#include <charconv>
#include <cstdint>
#include <system_error>

namespace migrator::providers::workbook {
namespace {

// ---------------------------------------------------------------------------
// Tokens

enum class Tok {
  End,
  Word,    // a keyword or a plain name
  Quoted,  // `name` or [name]
  String,  // 'text' or "text"
  Number,
  LParen,
  RParen,
  Comma,
  Semicolon,
  Star,
  Minus,
  Plus,
  Other,  // anything else: a run of characters the grammar has no use for
};

struct Token {
  Tok kind = Tok::End;
  std::size_t pos = 0;  // byte offset of the first character
  std::string_view raw;
};

bool IsSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool IsDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}
bool IsLetter(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsWordStart(unsigned char c) {
  return IsLetter(c) || c == '_' || c >= 0x80;
}
bool IsWordChar(unsigned char c) {
  return IsWordStart(c) || IsDigit(c) || c == '$';
}
// Characters that end a run of Other.
bool IsDelimiter(unsigned char c) {
  return IsSpace(c) || c == '(' || c == ')' || c == ',' || c == ';' || c == '\'' || c == '"' ||
         c == '`' || c == '[' || c == ']';
}

bool EqualsKeyword(std::string_view word, std::string_view keyword) {
  if (word.size() != keyword.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    unsigned char a = static_cast<unsigned char>(word[i]);
    if (a >= 'a' && a <= 'z') a = static_cast<unsigned char>(a - 'a' + 'A');
    if (a != static_cast<unsigned char>(keyword[i])) return false;
  }
  return true;
}

// Splits the text into tokens one at a time. A quoted token that is not closed
// becomes an error, reported by the parser.
class Lexer {
 public:
  explicit Lexer(std::string_view text) : s_(text) {}

  // The next token; false when a quoted token is not closed (`error` tells).
  bool Next(Token& t, std::string& error) {
    while (i_ < s_.size() && IsSpace(static_cast<unsigned char>(s_[i_])))
      ++i_;
    t.pos = i_;
    if (i_ >= s_.size()) {
      t.kind = Tok::End;
      t.raw = {};
      return true;
    }
    const unsigned char c = static_cast<unsigned char>(s_[i_]);
    switch (c) {
      case '(':
        return Single(t, Tok::LParen);
      case ')':
        return Single(t, Tok::RParen);
      case ',':
        return Single(t, Tok::Comma);
      case ';':
        return Single(t, Tok::Semicolon);
      case '*':
        return Single(t, Tok::Star);
      case '-':
        return Single(t, Tok::Minus);
      case '+':
        return Single(t, Tok::Plus);
      case '\'':
      case '"':
        return Quoted(t, Tok::String, static_cast<char>(c), static_cast<char>(c), true, error);
      case '`':
        return Quoted(t, Tok::Quoted, '`', '`', true, error);
      case '[':
        return Quoted(t, Tok::Quoted, '[', ']', false, error);
      default:
        break;
    }
    const std::size_t start = i_;
    if (IsDigit(c) ||
        (c == '.' && i_ + 1 < s_.size() && IsDigit(static_cast<unsigned char>(s_[i_ + 1])))) {
      bool onlyDigits = true;
      while (i_ < s_.size() && IsDigit(static_cast<unsigned char>(s_[i_])))
        ++i_;
      if (i_ < s_.size() && s_[i_] == '.') {
        onlyDigits = false;
        ++i_;
        while (i_ < s_.size() && IsDigit(static_cast<unsigned char>(s_[i_])))
          ++i_;
      }
      if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
        std::size_t j = i_ + 1;
        if (j < s_.size() && (s_[j] == '+' || s_[j] == '-')) ++j;
        if (j < s_.size() && IsDigit(static_cast<unsigned char>(s_[j]))) {
          onlyDigits = false;
          while (j < s_.size() && IsDigit(static_cast<unsigned char>(s_[j])))
            ++j;
          i_ = j;
        }
      }
      if (i_ < s_.size() && IsWordChar(static_cast<unsigned char>(s_[i_]))) {
        // Digits that run on into letters make a name (2019_sales); any other
        // number that does is not understood.
        while (i_ < s_.size() && IsWordChar(static_cast<unsigned char>(s_[i_])))
          ++i_;
        if (!onlyDigits) return Run(t, start);
        t.kind = Tok::Word;
      } else {
        t.kind = Tok::Number;
      }
      t.raw = s_.substr(start, i_ - start);
      return true;
    }
    if (IsWordStart(c)) {
      while (i_ < s_.size() && IsWordChar(static_cast<unsigned char>(s_[i_])))
        ++i_;
      t.kind = Tok::Word;
      t.raw = s_.substr(start, i_ - start);
      return true;
    }
    return Run(t, start);
  }

 private:
  bool Single(Token& t, Tok kind) {
    t.kind = kind;
    t.raw = s_.substr(i_, 1);
    ++i_;
    return true;
  }

  // Everything up to the next delimiter, as one token of Other.
  bool Run(Token& t, std::size_t start) {
    i_ = start + 1;
    while (i_ < s_.size() && !IsDelimiter(static_cast<unsigned char>(s_[i_])))
      ++i_;
    t.kind = Tok::Other;
    t.raw = s_.substr(start, i_ - start);
    return true;
  }

  // A token between `open` and `close`; with `doubled`, two closing
  // characters in a row stand for one and do not close it.
  bool Quoted(Token& t, Tok kind, char open, char close, bool doubled, std::string& error) {
    const std::size_t start = i_;
    std::size_t j = i_ + 1;
    for (;;) {
      const std::size_t k = s_.find(close, j);
      if (k == std::string_view::npos) {
        error = "Syntax error at position " + std::to_string(start + 1) + ": the " +
                (kind == Tok::String ? std::string("text") : std::string("name")) +
                " that starts with " + open + " is not closed.";
        return false;
      }
      if (doubled && k + 1 < s_.size() && s_[k + 1] == close) {
        j = k + 2;
        continue;
      }
      i_ = k + 1;
      break;
    }
    t.kind = kind;
    t.raw = s_.substr(start, i_ - start);
    return true;
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

// The inside of a quoted token, with doubled closing characters made single.
void Unquote(std::string_view raw, std::string& out) {
  out.clear();
  const char open = raw.front();
  const char close = open == '[' ? ']' : open;
  std::string_view inner = raw.substr(1, raw.size() - 2);
  if (open == '[') {
    out.assign(inner);
    return;
  }
  std::size_t from = 0;
  for (;;) {
    const std::size_t k = inner.find(close, from);
    if (k == std::string_view::npos) {
      out.append(inner.substr(from));
      return;
    }
    out.append(inner.substr(from, k + 1 - from));  // keeps one of the pair
    from = k + 2;
  }
}

// At most 40 bytes of a token for a message, never half a character.
std::string Shown(std::string_view raw) {
  constexpr std::size_t kShown = 40;
  std::size_t cut = raw.size() < kShown ? raw.size() : kShown;
  while (cut > 0 && cut < raw.size() && (static_cast<unsigned char>(raw[cut]) & 0xC0) == 0x80)
    --cut;
  std::string out(raw.substr(0, cut));
  if (cut < raw.size()) out += "...";
  return out;
}

// ---------------------------------------------------------------------------
// Column types

struct TypeName {
  std::string_view name;
  ColumnType type;
};

constexpr TypeName kTypes[] = {
    {"TEXT", ColumnType::Text},
    {"CHAR", ColumnType::Text},
    {"CHARACTER", ColumnType::Text},
    {"VARCHAR", ColumnType::Text},
    {"VARCHAR2", ColumnType::Text},
    {"NCHAR", ColumnType::Text},
    {"NVARCHAR", ColumnType::Text},
    {"NTEXT", ColumnType::Text},
    {"STRING", ColumnType::Text},
    {"ALPHANUMERIC", ColumnType::Text},
    {"LONGTEXT", ColumnType::Text},
    {"LONGCHAR", ColumnType::Text},
    {"MEDIUMTEXT", ColumnType::Text},
    {"TINYTEXT", ColumnType::Text},
    {"MEMO", ColumnType::Text},
    {"NOTE", ColumnType::Text},
    {"NUMERIC", ColumnType::Number},
    {"NUMBER", ColumnType::Number},
    {"DECIMAL", ColumnType::Number},
    {"DEC", ColumnType::Number},
    {"DOUBLE", ColumnType::Number},
    {"FLOAT", ColumnType::Number},
    {"FLOAT4", ColumnType::Number},
    {"FLOAT8", ColumnType::Number},
    {"REAL", ColumnType::Number},
    {"SINGLE", ColumnType::Number},
    {"IEEESINGLE", ColumnType::Number},
    {"IEEEDOUBLE", ColumnType::Number},
    {"INT", ColumnType::Number},
    {"INTEGER", ColumnType::Number},
    {"INTEGER1", ColumnType::Number},
    {"INTEGER2", ColumnType::Number},
    {"INTEGER4", ColumnType::Number},
    {"LONG", ColumnType::Number},
    {"SHORT", ColumnType::Number},
    {"SMALLINT", ColumnType::Number},
    {"TINYINT", ColumnType::Number},
    {"BIGINT", ColumnType::Number},
    {"BYTE", ColumnType::Number},
    {"CURRENCY", ColumnType::Number},
    {"MONEY", ColumnType::Number},
    {"COUNTER", ColumnType::Number},
    {"AUTOINCREMENT", ColumnType::Number},
    {"DATETIME", ColumnType::Date},
    {"DATE", ColumnType::Date},
    {"TIME", ColumnType::Time},
    {"TIMESTAMP", ColumnType::Date},
    {"BIT", ColumnType::Boolean},
    {"YESNO", ColumnType::Boolean},
    {"LOGICAL", ColumnType::Boolean},
    {"LOGICAL1", ColumnType::Boolean},
    {"BOOLEAN", ColumnType::Boolean},
    {"BOOL", ColumnType::Boolean},
};

bool FindType(std::string_view word, ColumnType& type) {
  for (const auto& t : kTypes) {
    if (EqualsKeyword(word, t.name)) {
      type = t.type;
      return true;
    }
  }
  return false;
}

// Compares names as the workbook does: ASCII letters without regard to case.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// The parser

class Parser {
 public:
  Parser(std::string_view text, Statement& out) : lexer_(text), out_(out) {}

  Status Run() {
    const bool ok = Advance() && ParseStatementBody();
    // The lists end at the elements this statement filled. Elements left by
    // an earlier statement are filled again with their buffers, so a run of
    // similar statements allocates nothing.
    out_.columns.resize(columns_);
    out_.insertColumns.resize(insertColumns_);
    out_.values.resize(values_);
    if (!ok) return Fail(error_);
    return {};
  }

 private:
  bool Advance() { return lexer_.Next(tok_, error_); }

  // Describes the current token for a message.
  std::string Found() const {
    if (tok_.kind == Tok::End) return "the end of the statement";
    return "\"" + Shown(tok_.raw) + "\"";
  }

  bool Expected(std::string_view what) {
    error_ = "Syntax error at position " + std::to_string(tok_.pos + 1) + ": expected " +
             std::string(what) + ", found " + Found() + ".";
    return false;
  }
  bool Refuse(const std::string& message) {
    error_ = "Syntax error at position " + std::to_string(tok_.pos + 1) + ": " + message;
    return false;
  }

  bool IsKeyword(std::string_view keyword) const {
    return tok_.kind == Tok::Word && EqualsKeyword(tok_.raw, keyword);
  }
  bool Keyword(std::string_view keyword, std::string_view context) {
    if (!IsKeyword(keyword)) return Expected(std::string(keyword) + std::string(context));
    return Advance();
  }
  bool Punct(Tok kind, std::string_view what) {
    if (tok_.kind != kind) return Expected(what);
    return Advance();
  }

  bool ParseStatementBody() {
    if (IsKeyword("CREATE")) {
      out_.kind = Statement::Kind::CreateTable;
      return Advance() && Keyword("TABLE", " after CREATE") && Name(out_.table, "a table name") &&
             ColumnDefs() && EndOfStatement();
    }
    if (IsKeyword("INSERT")) {
      out_.kind = Statement::Kind::Insert;
      return Advance() && Keyword("INTO", " after INSERT") && Name(out_.table, "a table name") &&
             InsertBody() && EndOfStatement();
    }
    if (IsKeyword("SELECT")) {
      out_.kind = Statement::Kind::Select;
      if (!Advance()) return false;
      if (tok_.kind != Tok::Star)
        return Expected("* after SELECT (only SELECT * FROM a table is understood)");
      return Advance() && Keyword("FROM", " after SELECT *") && Name(out_.table, "a table name") &&
             EndOfStatement();
    }
    if (IsKeyword("DROP")) {
      out_.kind = Statement::Kind::DropTable;
      return Advance() && Keyword("TABLE", " after DROP") && Name(out_.table, "a table name") &&
             EndOfStatement();
    }
    return Expected("CREATE TABLE, INSERT INTO, SELECT or DROP TABLE");
  }

  bool EndOfStatement() {
    if (tok_.kind == Tok::Semicolon && !Advance()) return false;
    if (tok_.kind != Tok::End) {
      if (out_.kind == Statement::Kind::Select && IsKeyword("WHERE"))
        return Refuse("WHERE is not understood; only SELECT * FROM a table is.");
      return Expected("the end of the statement");
    }
    return true;
  }

  // A plain, back-quoted or bracketed name.
  bool Name(std::string& into, std::string_view what) {
    if (tok_.kind == Tok::Word) {
      into.assign(tok_.raw);
      return Advance();
    }
    if (tok_.kind == Tok::Quoted) {
      Unquote(tok_.raw, into);
      if (into.empty()) return Refuse("a name cannot be empty.");
      return Advance();
    }
    return Expected(what);
  }

  bool ColumnDefs() {
    if (!Punct(Tok::LParen, "( and the column definitions")) return false;
    for (;;) {
      if (columns_ >= kMaxStatementColumns) return Refuse("a table can have at most 256 columns.");
      ColumnDef& def = Next(out_.columns, columns_);
      const std::size_t namePos = tok_.pos;
      if (!Name(def.name, "a column name")) return false;
      for (std::size_t i = 0; i + 1 < columns_; ++i) {
        if (SameName(out_.columns[i].name, def.name)) {
          error_ = "Syntax error at position " + std::to_string(namePos + 1) + ": the column \"" +
                   def.name + "\" is declared twice.";
          return false;
        }
      }
      if (tok_.kind != Tok::Word) return Expected("a column type for \"" + def.name + "\"");
      if (!FindType(tok_.raw, def.type))
        return Refuse("\"" + Shown(tok_.raw) +
                      "\" is not a column type a workbook can hold (column \"" + def.name + "\").");
      if (!Advance()) return false;
      if (tok_.kind == Tok::LParen) {  // a size, or a precision and scale: taken and not used
        if (!Advance()) return false;
        if (tok_.kind != Tok::Number) return Expected("a size");
        if (!Advance()) return false;
        if (tok_.kind == Tok::Comma) {
          if (!Advance()) return false;
          if (tok_.kind != Tok::Number) return Expected("a scale");
          if (!Advance()) return false;
        }
        if (!Punct(Tok::RParen, ") after the size")) return false;
      }
      if (IsKeyword("NOT")) {
        if (!Advance() || !Keyword("NULL", " after NOT")) return false;
      } else if (IsKeyword("NULL")) {
        if (!Advance()) return false;
      }
      if (tok_.kind == Tok::Comma) {
        if (!Advance()) return false;
        continue;
      }
      return Punct(Tok::RParen, ", or ) after the column \"" + def.name + "\"");
    }
  }

  bool InsertBody() {
    if (tok_.kind == Tok::LParen) {
      out_.hasColumnList = true;
      if (!Advance()) return false;
      for (;;) {
        if (insertColumns_ >= kMaxStatementColumns)
          return Refuse("a row can have at most 256 columns.");
        std::string& name = Next(out_.insertColumns, insertColumns_);
        const std::size_t namePos = tok_.pos;
        if (!Name(name, "a column name")) return false;
        for (std::size_t i = 0; i + 1 < insertColumns_; ++i) {
          if (SameName(out_.insertColumns[i], name)) {
            error_ = "Syntax error at position " + std::to_string(namePos + 1) + ": the column \"" +
                     name + "\" is named twice.";
            return false;
          }
        }
        if (tok_.kind == Tok::Comma) {
          if (!Advance()) return false;
          continue;
        }
        if (!Punct(Tok::RParen, ", or ) in the column list")) return false;
        break;
      }
    }
    if (!Keyword("VALUES", out_.hasColumnList ? " after the column list" : " after the table name"))
      return false;
    if (!Punct(Tok::LParen, "( after VALUES")) return false;
    for (;;) {
      if (values_ >= kMaxStatementColumns) return Refuse("a row can have at most 256 values.");
      if (!Value(Next(out_.values, values_))) return false;
      if (tok_.kind == Tok::Comma) {
        if (!Advance()) return false;
        continue;
      }
      return Punct(Tok::RParen, ", or ) after a value");
    }
  }

  bool Value(Literal& v) {
    v.text.clear();
    v.number = 0;
    v.boolean = false;
    bool negative = false;
    bool sign = false;
    if (tok_.kind == Tok::Minus || tok_.kind == Tok::Plus) {
      negative = tok_.kind == Tok::Minus;
      sign = true;
      if (!Advance()) return false;
      if (tok_.kind != Tok::Number) return Expected("a number after the sign");
    }
    switch (tok_.kind) {
      case Tok::Number: {
        double d = 0;
        const char* first = tok_.raw.data();
        const char* last = first + tok_.raw.size();
        const auto r = std::from_chars(first, last, d);
        if (r.ec != std::errc() || r.ptr != last)
          return Refuse("the number " + Shown(tok_.raw) + " is out of range.");
        v.kind = Literal::Kind::Number;
        v.number = negative ? -d : d;
        if (sign) v.text.push_back(negative ? '-' : '+');
        v.text.append(tok_.raw);
        return Advance();
      }
      case Tok::String:
        v.kind = Literal::Kind::Text;
        Unquote(tok_.raw, v.text);
        return Advance();
      case Tok::Word:
        if (IsKeyword("TEXT")) {
          if (!Advance()) return false;
          if (tok_.kind != Tok::String) return Expected("a quoted text after TEXT");
          v.kind = Literal::Kind::FixedText;
          Unquote(tok_.raw, v.text);
          return Advance();
        }
        if (IsKeyword("NULL")) {
          v.kind = Literal::Kind::Null;
          return Advance();
        }
        if (IsKeyword("TRUE") || IsKeyword("FALSE")) {
          v.kind = Literal::Kind::Boolean;
          v.boolean = IsKeyword("TRUE");
          return Advance();
        }
        [[fallthrough]];
      default:
        return Expected("a value ('text', a number, NULL, TRUE or FALSE)");
    }
  }

  // The next element of a list: one left from an earlier statement (its
  // buffers reused) or a new one.
  template <class T>
  static T& Next(std::vector<T>& list, std::size_t& used) {
    if (used == list.size()) list.emplace_back();
    return list[used++];
  }

  Lexer lexer_;
  Statement& out_;
  Token tok_;
  std::string error_;
  std::size_t columns_ = 0, insertColumns_ = 0, values_ = 0;  // elements filled
};

}  // namespace

void Statement::Reset() {
  kind = Kind::Select;
  table.clear();
  columns.clear();
  hasColumnList = false;
  insertColumns.clear();
  values.clear();
}

namespace {
// Empties a statement for the parser, which fills its lists from the start.
void Restart(Statement& s) {
  s.kind = Statement::Kind::Select;
  s.table.clear();
  s.hasColumnList = false;
}
}  // namespace

Status ParseStatement(std::string_view text, Statement& out) {
  Restart(out);
  if (text.size() > kMaxStatementBytes) {
    out.Reset();
    return Fail("The statement is too long: " + std::to_string(text.size()) +
                " bytes, of at most " + std::to_string(kMaxStatementBytes) + ".");
  }
  if (const std::size_t bad = InvalidUtf8At(text); bad != std::string_view::npos) {
    out.Reset();
    return Fail("The statement is not valid UTF-8 text (at byte " + std::to_string(bad + 1) + ").");
  }
  Parser parser(text, out);
  return parser.Run();
}

const char* StatementName(Statement::Kind kind) {
  switch (kind) {
    case Statement::Kind::CreateTable:
      return "CREATE TABLE";
    case Statement::Kind::Insert:
      return "INSERT INTO";
    case Statement::Kind::Select:
      return "SELECT";
    case Statement::Kind::DropTable:
      return "DROP TABLE";
  }
  return "";
}

}  // namespace migrator::providers::workbook
