// tools/textform/parse.cpp - reading the text form into a Listing.
#include "tools/textform/parse.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

#include "icode/interchange_ops.h"
#include "icode/reader.h"
#include "icode/record_tags.h"
#include "ir/opcodes.h"
#include "tools/textform/context.h"
#include "tools/textform/decode.h"
#include "tools/textform/defaults.h"
#include "tools/textform/encode.h"
#include "tools/textform/forms.h"

namespace zor::text {
namespace {

// ------------------------------------------------------------------ lexer

enum class Tok : uint8_t { Word, String, QLabel, LParen, RParen, Newline, End };

struct Token {
  Tok kind = Tok::End;
  std::string text;   // a word, a string's bytes, a quoted label's canonical form
  uint32_t line = 0;
  uint32_t column = 0;
};

bool is_word_char(char c) {
  return !(c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '(' || c == ')' ||
           c == '"' || c == ';' || c == '\f' || c == '\v');
}

class Lexer {
public:
  explicit Lexer(const std::string &s) : s_(s) {}

  std::vector<Token> run() {
    std::vector<Token> out;
    while (i_ < s_.size()) {
      char c = s_[i_];
      if (c == '\n') {
        out.push_back(token(Tok::Newline));
        advance();
        continue;
      }
      if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
        advance();
        continue;
      }
      if (c == ';') {
        while (i_ < s_.size() && s_[i_] != '\n')
          advance();
        continue;
      }
      if (c == '(' || c == ')') {
        out.push_back(token(c == '(' ? Tok::LParen : Tok::RParen));
        advance();
        continue;
      }
      if (c == '"') {
        Token t = token(Tok::String);
        t.text = string_body();
        out.push_back(t);
        continue;
      }
      if ((c == '@' || c == '%') && i_ + 1 < s_.size() && s_[i_ + 1] == '"') {
        Token t = token(Tok::QLabel);
        advance();
        t.text = symbol_label(c, string_body());
        out.push_back(t);
        continue;
      }
      Token t = token(Tok::Word);
      while (i_ < s_.size() && is_word_char(s_[i_])) {
        t.text += s_[i_];
        advance();
      }
      out.push_back(t);
    }
    out.push_back(token(Tok::Newline));
    out.push_back(token(Tok::End));
    return out;
  }

private:
  Token token(Tok k) const {
    Token t;
    t.kind = k;
    t.line = line_;
    t.column = col_;
    return t;
  }

  void advance() {
    if (s_[i_] == '\n') {
      ++line_;
      col_ = 1;
    } else {
      ++col_;
    }
    ++i_;
  }

  [[noreturn]] void fail(const std::string &msg) const { throw ParseError(line_, col_, msg); }

  // The bytes of a string literal; the opening quote is at i_.
  std::string string_body() {
    std::string out;
    const uint32_t line = line_;
    const uint32_t col = col_;
    advance();
    for (;;) {
      if (i_ >= s_.size() || s_[i_] == '\n')
        throw ParseError(line, col, "missing closing quote");
      char c = s_[i_];
      if (c == '"') {
        advance();
        return out;
      }
      if (c != '\\') {
        out += c;
        advance();
        continue;
      }
      const uint32_t esc_col = col_;
      advance();
      if (i_ >= s_.size())
        throw ParseError(line, col, "missing closing quote");
      char e = s_[i_];
      switch (e) {
      case 'n': out += '\n'; advance(); break;
      case 't': out += '\t'; advance(); break;
      case 'r': out += '\r'; advance(); break;
      case 'a': out += '\a'; advance(); break;
      case 'b': out += '\b'; advance(); break;
      case 'f': out += '\f'; advance(); break;
      case 'v': out += '\v'; advance(); break;
      case '\\': case '"': case '\'': case '?': out += e; advance(); break;
      case 'x': {
        advance();
        int v = 0;
        int n = 0;
        for (; n < 2 && i_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[i_])); ++n) {
          char h = s_[i_];
          v = v * 16 + (h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
          advance();
        }
        if (n == 0)
          fail("\\x needs hexadecimal digits");
        out += static_cast<char>(v);
        break;
      }
      default:
        if (e >= '0' && e <= '7') {
          int v = 0;
          for (int n = 0; n < 3 && i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '7'; ++n) {
            v = v * 8 + (s_[i_] - '0');
            advance();
          }
          if (v > 255)
            fail("octal escape above \\377");
          out += static_cast<char>(v);
          break;
        }
        throw ParseError(line_, esc_col, std::string("unknown escape \\") + e);
      }
    }
  }

  const std::string &s_;
  size_t i_ = 0;
  uint32_t line_ = 1;
  uint32_t col_ = 1;
};

// ----------------------------------------------------------------- parser

enum Stage : uint8_t { ST_START, ST_OPTIONS, ST_FILES, ST_TYPES, ST_GLOBALS, ST_INITS, ST_STREAM };

class Parser {
public:
  explicit Parser(std::vector<Token> toks) : t_(std::move(toks)) {}
  Listing run();

private:
  // ---- tokens
  const Token &peek(size_t k = 0) const { return t_[std::min(p_ + k, t_.size() - 1)]; }
  const Token &next() {
    const Token &t = peek();
    if (p_ < t_.size() - 1)
      ++p_;
    return t;
  }
  bool line_end() const { return peek().kind == Tok::Newline || peek().kind == Tok::End; }
  void end_line() {
    if (!line_end())
      fail(peek(), "unexpected '" + describe(peek()) + "'");
    next();
  }
  void skip_blank() {
    while (peek().kind == Tok::Newline)
      next();
  }
  static std::string describe(const Token &t) {
    switch (t.kind) {
    case Tok::LParen: return "(";
    case Tok::RParen: return ")";
    case Tok::Newline: return "end of line";
    case Tok::End: return "end of text";
    case Tok::String: return "\"" + t.text + "\"";
    default: return t.text;
    }
  }
  [[noreturn]] static void fail(const Token &t, const std::string &msg) {
    throw ParseError(t.line, t.column, msg);
  }
  const Token &word(const char *what) {
    const Token &t = next();
    if (t.kind != Tok::Word)
      fail(t, std::string("expected ") + what + ", found '" + describe(t) + "'");
    return t;
  }
  // Whether the next non-blank line is a raw record of tag `tag`.
  bool raw_tag_is(uint8_t tag) {
    size_t k = 0;
    while (peek(k).kind == Tok::Newline)
      ++k;
    const Token &b = peek(k + 1);
    if (peek(k).text != "raw" || b.kind != Tok::Word || b.text.size() != 2 ||
        !std::isxdigit(static_cast<unsigned char>(b.text[0])) ||
        !std::isxdigit(static_cast<unsigned char>(b.text[1])))
      return false;
    return std::stoi(b.text, nullptr, 16) == tag;
  }
  // The first token of the next non-blank line, without moving.
  const Token &line_start() {
    size_t k = 0;
    while (peek(k).kind == Tok::Newline)
      ++k;
    return peek(k);
  }

  // ---- values
  uint64_t number(const Token &t, int64_t lo, uint64_t hi, const char *what);
  uint32_t unsigned32(const Token &t) {
    return static_cast<uint32_t>(number(t, 0, 0xFFFFFFFFull, "an unsigned 32-bit number"));
  }
  uint32_t signed32(const Token &t) {
    return static_cast<uint32_t>(number(t, INT32_MIN, INT32_MAX, "a signed 32-bit number"));
  }
  std::string string_token(const char *what, bool word_ok, bool zero_ok);
  RawPos position(const Token &t);
  uint32_t type_ref(const Token &t);
  uint32_t global_ref(const Token &t);
  std::vector<uint8_t> hex_bytes(bool in_tree);
  void value(FT ft, const Form *form, bool signed_val, Field &f);

  // ---- records
  // Parses a record's fields by its form (the keyword has been read).
  // `extra` handles keywords outside the form; `first` fields precede it.
  struct Extra {
    std::string name_text;   // symbol: `name "..."`
    bool have_name = false;
    std::optional<uint32_t> owner;   // type members: `of T`
    std::vector<bool> given;         // by form field: written in the text
  };
  Record form_record(const Form &form, Role role, std::vector<Field> first, Extra &extra,
                     const Token &at);
  void push(Record rec) { cur_->records.push_back(std::move(rec)); }
  Record raw_record(Role role, uint32_t handlers, const Token &at);

  void header(const Token &at);
  void default_header();
  void section(const Token &at);
  void record_line();
  void raw_line(const Token &kw, Role role);
  void type_line(const Token &kw, Role role);
  void symbol_line(const Token &kw, Role role);
  void attrs(uint32_t announced, bool explicit_count, size_t count_slot);
  void init_line(const Token &kw, Role role);
  void eht_line(const Token &kw);
  void eht_entries(size_t table_at, uint32_t announced, bool count_given);
  void tree();
  Record node(const Token &at);

  // Auto-defined types and file names.
  std::optional<uint32_t> auto_type(const std::string &name, const Token &at);
  uint32_t auto_file(const std::string &name);
  Region &ensure(Section s) {
    Region &r = l_.sections[s];
    r.present = true;
    return r;
  }

  std::vector<Token> t_;
  size_t p_ = 0;
  Listing l_;
  Context ctx_;
  Stage stage_ = ST_START;
  Region *cur_ = &l_.stream;
  std::map<uint32_t, uint32_t> type_line_of_;   // type identifier -> line, for messages
  std::vector<bool> in_type_section_;           // by type identifier
};

uint64_t Parser::number(const Token &t, int64_t lo, uint64_t hi, const char *what) {
  if (t.kind != Tok::Word)
    fail(t, std::string("expected ") + what + ", found '" + describe(t) + "'");
  const std::string &s = t.text;
  size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+'))
    neg = s[i++] == '-';
  int base = 10;
  if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size())
    fail(t, std::string("expected ") + what + ", found '" + s + "'");
  unsigned __int128 v = 0;
  for (; i < s.size(); ++i) {
    int d = -1;
    char c = s[i];
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c)))
      d = (c | 0x20) - 'a' + 10;
    if (d < 0 || d >= base)
      fail(t, std::string("expected ") + what + ", found '" + s + "'");
    v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    if (v > (static_cast<unsigned __int128>(1) << 64))
      fail(t, "'" + s + "' is out of range for " + what);
  }
  if (neg) {
    if (v > static_cast<unsigned __int128>(-(lo + 1)) + 1)
      fail(t, "'" + s + "' is out of range for " + what);
    return static_cast<uint64_t>(-static_cast<int64_t>(static_cast<uint64_t>(v)));
  }
  if (v > hi)
    fail(t, "'" + s + "' is out of range for " + what);
  return static_cast<uint64_t>(v);
}

std::string Parser::string_token(const char *what, bool word_ok, bool zero_ok) {
  const Token &t = next();
  if (t.kind != Tok::String && !(word_ok && t.kind == Tok::Word))
    fail(t, std::string("expected ") + what + ", found '" + describe(t) + "'");
  if (!zero_ok && t.text.find('\0') != std::string::npos)
    fail(t, std::string(what) + " cannot hold a zero byte");
  return t.text;
}

RawPos Parser::position(const Token &t) {
  RawPos p;
  if (t.kind != Tok::Word)
    fail(t, "expected a position FILE:LINE:COLUMN or -, found '" + describe(t) + "'");
  if (t.text == "-")
    return p;
  size_t c2 = t.text.rfind(':');
  size_t c1 = c2 == std::string::npos || c2 == 0 ? std::string::npos : t.text.rfind(':', c2 - 1);
  if (c1 == std::string::npos || c1 == 0)
    fail(t, "expected a position FILE:LINE:COLUMN or -, found '" + t.text + "'");
  Token line = t;
  line.text = t.text.substr(c1 + 1, c2 - c1 - 1);
  Token col = t;
  col.text = t.text.substr(c2 + 1);
  p.line = unsigned32(line);
  p.column = unsigned32(col);
  std::string file = t.text.substr(0, c1);
  if (std::optional<uint32_t> k = ctx_.file_by_label(file)) {
    p.file = *k;
  } else if (file[0] == '#') {
    fail(t, "bad file index '" + file + "'");
  } else {
    p.file = auto_file(file);
  }
  if (p.file == 0)
    fail(t, "file index 0 means no position; write -");
  return p;
}

uint32_t Parser::auto_file(const std::string &name) {
  if (stage_ <= ST_FILES)
    throw ParseError(peek().line, peek().column, "file '" + name + "' is not in the file-name section");
  Region &files = ensure(SEC_FILES);
  Record r;
  r.role = Role::FileName;
  r.tag = TAG_FILE_NAME;
  Field f;
  f.enc = Enc::Text;
  f.str = name;
  r.fields.push_back(f);
  files.records.push_back(r);
  apply_record(ctx_, r);
  return static_cast<uint32_t>(ctx_.files().size());
}

uint32_t Parser::type_ref(const Token &t) {
  if (t.kind != Tok::Word)
    fail(t, "expected a type, found '" + describe(t) + "'");
  const std::string &s = t.text;
  if (s == "-")
    return 0;
  if (std::optional<uint32_t> id = ctx_.type_by_label(s))
    return *id;
  if (s.size() > 2 && s[0] == '%' && s[1] == 't' && s.find('.') == std::string::npos) {
    Token n = t;
    n.text = s.substr(2);
    return unsigned32(n);
  }
  if (std::optional<uint32_t> id = auto_type(s, t))
    return *id;
  fail(t, "unknown type '" + s + "' (define it with a type record)");
}

// A builtin type, a pointer or reference to a type the type section holds,
// or a function type without parameters ("fn.int"), named but not defined:
// added to the type section.
std::optional<uint32_t> Parser::auto_type(const std::string &name, const Token &at) {
  int k = builtin_type_kind(name);
  uint32_t base = 0;
  if (k < 0) {
    std::string inner;
    if (name.size() > 1 && (name[0] == '*' || name[0] == '&')) {
      k = name[0] == '*' ? 15 : 16;
      inner = name.substr(1);
    } else if (name.size() > 3 && name.compare(0, 3, "fn.") == 0) {
      k = 20;
      inner = name.substr(3);
    } else {
      return std::nullopt;
    }
    std::optional<uint32_t> b = ctx_.type_by_label(inner);
    if (!b)
      b = auto_type(inner, at);
    if (!b)
      return std::nullopt;
    base = *b;
    if (stage_ > ST_TYPES && (base >= in_type_section_.size() || !in_type_section_[base]))
      fail(at, "type '" + name + "' is not defined, and its base is not in the type section");
  }
  Record r;
  r.role = Role::Type;
  r.tag = TAG_TYPE;
  r.line = at.line;
  r.column = at.column;
  Field id;
  id.enc = Enc::Uleb;
  id.num = ctx_.max_type_id() + 1;
  Field kind;
  kind.enc = Enc::Byte;
  kind.num = static_cast<uint32_t>(k);
  r.fields.push_back(id);
  r.fields.push_back(kind);
  const Form *form = type_form(static_cast<uint8_t>(k), 0);
  // The base for the first type field, defaults for the rest.
  for (size_t i = 0; i < form->fields.size(); ++i) {
    std::vector<int> slots = field_slots(*form, ctx_.version(), r.fields, 2);
    if (!field_present(form->fields[i], ctx_.version(), r.fields))
      continue;
    Field f;
    if (form->fields[i].ft == FT::Type) {
      f.enc = Enc::Uleb;
      f.num = base;
    } else {
      field_default(*form, i, r.fields, slots, ctx_, f);
    }
    r.fields.push_back(f);
  }
  Region &types = ensure(SEC_TYPES);
  // Inside the type section the new record goes before the one that names
  // it; elsewhere at the end of the section.
  auto put = [&](Record rec) {
    types.records.push_back(std::move(rec));
  };
  put(r);
  if (in_type_section_.size() <= id.num)
    in_type_section_.resize(id.num + 1, false);
  in_type_section_[id.num] = true;
  apply_record(ctx_, r, &name);
  if (k == 20) {
    // A function type's parameters come as group 0: an empty one.
    for (uint32_t g : {254u, 255u}) {
      Record grp;
      grp.role = Role::Type;
      grp.tag = TAG_TYPE;
      Field owner = id;
      Field gk;
      gk.enc = Enc::Byte;
      gk.num = g;
      Field num;
      num.enc = Enc::Byte;
      num.num = 0;
      grp.fields = {owner, gk, num};
      put(grp);
      apply_record(ctx_, grp);
    }
  }
  return id.num;
}

uint32_t Parser::global_ref(const Token &t) {
  if (t.kind != Tok::Word && t.kind != Tok::QLabel)
    fail(t, "expected a global symbol, found '" + describe(t) + "'");
  if (t.text.size() > 2 && t.text[0] == '@' && t.text[1] == '#') {
    Token n = t;
    n.text = t.text.substr(2);
    return unsigned32(n);
  }
  if (std::optional<uint32_t> i = ctx_.global_by_label(t.text))
    return *i;
  fail(t, "unknown global symbol '" + t.text + "'");
}

// Hexadecimal bytes up to the end of the line (or of the node's head).
std::vector<uint8_t> Parser::hex_bytes(bool in_tree) {
  std::vector<uint8_t> out;
  while (!line_end() && peek().kind != Tok::LParen && !(in_tree && peek().kind == Tok::RParen)) {
    const Token &t = next();
    if (t.kind != Tok::Word || t.text.size() != 2 || !std::isxdigit(static_cast<unsigned char>(t.text[0])) ||
        !std::isxdigit(static_cast<unsigned char>(t.text[1])))
      fail(t, "expected a byte in hexadecimal (two digits), found '" + describe(t) + "'");
    out.push_back(static_cast<uint8_t>(std::stoi(t.text, nullptr, 16)));
  }
  return out;
}

void Parser::value(FT ft, const Form *form, bool signed_val, Field &f) {
  f.enc = field_enc(ft, signed_val);
  switch (ft) {
  case FT::Num:
  case FT::Word: f.num = unsigned32(next()); return;
  case FT::SNum: f.num = signed32(next()); return;
  case FT::Byte:
  case FT::Flag: f.num = static_cast<uint32_t>(number(next(), 0, 255, "a byte")); return;
  case FT::SByte:
    f.num = static_cast<uint8_t>(number(next(), -128, 255, "a byte"));
    return;
  case FT::Short:
  case FT::HexShort:
    f.num = static_cast<uint16_t>(number(next(), -32768, 65535, "a short"));
    return;
  case FT::Text: f.str = string_token("a text", false, false); return;
  case FT::Counted: f.str = string_token("a text", false, true); return;
  case FT::Pos: f.pos = position(next()); return;
  case FT::Type: f.num = type_ref(next()); return;
  case FT::GSym: f.num = global_ref(next()); return;
  case FT::Label: {
    Token t = next();
    if (t.kind == Tok::Word && t.text.size() > 1 && t.text[0] == 'L')
      t.text = t.text.substr(1);
    f.num = unsigned32(t);
    return;
  }
  case FT::Quals: {
    const Token &t = next();
    if (t.kind == Tok::Word && !t.text.empty() && std::isdigit(static_cast<unsigned char>(t.text[0]))) {
      f.num = unsigned32(t);
      return;
    }
    size_t start = 0;
    while (t.kind == Tok::Word && start <= t.text.size()) {
      size_t comma = t.text.find(',', start);
      std::string q = t.text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      unsigned bit = 0;
      while (bit < 8 && q != qualifier_name(bit))
        ++bit;
      if (bit == 8)
        fail(t, "unknown qualifier '" + q + "'");
      f.num |= 1u << bit;
      if (comma == std::string::npos)
        return;
      start = comma + 1;
    }
    fail(t, "expected qualifiers, found '" + describe(t) + "'");
  }
  case FT::EhtKind: {
    const Token &t = next();
    for (uint32_t k = 0; k < 6; ++k)
      if (t.text == eht_kind_name(k)) {
        f.num = k;
        return;
      }
    f.num = unsigned32(t);
    return;
  }
  case FT::EnumVal:
  case FT::IconVal:
    f.num = signed_val ? signed32(next()) : unsigned32(next());
    return;
  case FT::Texts:
    while (!line_end())
      f.texts.push_back(string_token("a text", false, false));
    f.num = static_cast<uint32_t>(f.texts.size());
    return;
  case FT::Shorts:
    while (!line_end())
      f.shorts.push_back(static_cast<uint16_t>(number(next(), -32768, 65535, "a short")));
    if (f.shorts.size() > 255)
      fail(peek(), "at most 255 shorts");
    f.num = static_cast<uint32_t>(f.shorts.size());
    return;
  case FT::Blob: {
    std::vector<uint8_t> b = hex_bytes(false);
    f.str.assign(b.begin(), b.end());
    return;
  }
  case FT::Groups9: {
    const Token &t = next();
    f.str.assign(9, '\0');
    for (char c : t.text) {
      if (c == ',')
        continue;
      const char *at = std::strchr("234567890", c);
      if (!at || c == 0)
        fail(t, "expected group numbers (0, 2 to 9) separated by commas, found '" + t.text + "'");
      f.str[static_cast<size_t>(at - "234567890")] = 1;
    }
    return;
  }
  case FT::Group7: {
    const Token &t = next();
    if (t.text != "7")
      fail(t, "a short structure record announces group 7 only");
    f.num = 1;
    return;
  }
  case FT::Fixed: f.num = form ? form->fixed : 0; return;
  case FT::SymName: return;   // handled by the symbol line
  }
}

Record Parser::form_record(const Form &form, Role role, std::vector<Field> first, Extra &extra,
                           const Token &at) {
  const int version = ctx_.version();
  const size_t base = first.size();
  std::vector<std::optional<Field>> given(form.fields.size());
  uint32_t owner = base > 0 ? first[0].num : 0;
  // Positional fields in rank order; the presence of each may depend on the
  // fields before it (record 108).
  std::vector<size_t> order;
  for (size_t i = 0; i < form.fields.size(); ++i)
    if (!form.fields[i].name)
      order.push_back(i);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return form.fields[a].rank < form.fields[b].rank;
  });
  auto before = [&](size_t upto) {
    std::vector<Field> b = first;
    for (size_t k = 0; k < upto; ++k)
      if (given[k])
        b.push_back(*given[k]);
    return b;
  };
  // A member's owner decides how its value is encoded (enumerators), so an
  // "of T" anywhere on the line is taken first.
  if (form.role == Role::Type && !is_defining_kind(form.kind)) {
    for (size_t k = 0; peek(k).kind != Tok::Newline && peek(k).kind != Tok::End; ++k)
      if (peek(k).kind == Tok::Word && peek(k).text == "of" &&
          (peek(k + 1).kind == Tok::Word)) {
        extra.owner = type_ref(peek(k + 1));
        break;
      }
  }
  auto is_signed_for = [&](FT ft) {
    if (ft == FT::EnumVal) {
      const TypeInfo *t = ctx_.type(extra.owner ? *extra.owner : owner);
      return t && ctx_.is_signed(t->base);
    }
    return false;
  };
  for (size_t i : order) {
    const FieldForm &ff = form.fields[i];
    std::vector<Field> b = before(i);
    if (!field_present(ff, version, b))
      continue;
    if (ff.ft == FT::Fixed) {
      Field f;
      f.enc = Enc::Byte;
      f.num = form.fixed;
      given[i] = f;
      continue;
    }
    if (ff.ft == FT::SymName)
      continue;   // the caller puts the name in
    // Lists may be empty.
    if (line_end() && ff.ft != FT::Texts && ff.ft != FT::Shorts && ff.ft != FT::Blob)
      fail(peek(), std::string("'") + form.keyword + "' needs more fields");
    Field f;
    value(ff.ft, &form, is_signed_for(ff.ft), f);
    given[i] = f;
  }
  // Keyword fields.
  while (!line_end()) {
    const Token &kw = word("a field name");
    if (kw.text == "name" && form.tag == TAG_SYMBOL) {
      extra.name_text = string_token("a symbol name", false, false);
      extra.have_name = true;
      continue;
    }
    if (kw.text == "of" && form.role == Role::Type && !is_defining_kind(form.kind)) {
      next();   // taken above
      continue;
    }
    size_t found = form.fields.size();
    for (size_t i = 0; i < form.fields.size(); ++i)
      if (form.fields[i].name && kw.text == form.fields[i].name &&
          field_present(form.fields[i], version, before(i))) {
        found = i;
        break;
      }
    if (found == form.fields.size())
      fail(kw, "'" + std::string(form.keyword) + "' has no field '" + kw.text + "'" +
                   (version != -72 ? " in version " + std::to_string(version) + " files" : ""));
    if (given[found])
      fail(kw, "field '" + kw.text + "' given twice");
    Field f;
    value(form.fields[found].ft, &form, is_signed_for(form.fields[found].ft), f);
    given[found] = f;
  }
  extra.given.clear();
  for (const std::optional<Field> &g : given)
    extra.given.push_back(g.has_value());
  // Assemble in byte order; defaults for what is missing.
  Record rec;
  rec.role = role;
  rec.tag = form.tag;
  rec.line = at.line;
  rec.column = at.column;
  rec.fields = first;
  if (extra.owner && !rec.fields.empty())
    rec.fields[0].num = *extra.owner;
  for (size_t i = 0; i < form.fields.size(); ++i) {
    const FieldForm &ff = form.fields[i];
    if (!field_present(ff, version, rec.fields))
      continue;
    if (given[i]) {
      rec.fields.push_back(*given[i]);
      continue;
    }
    Field f;
    f.enc = field_enc(ff.ft, is_signed_for(ff.ft));
    if (ff.ft == FT::SymName) {
      rec.fields.push_back(f);
      continue;
    }
    // Structural and layout fields are filled in by the caller.
    if (ff.def == Def::AttrCount || ff.def == Def::InitPos || ff.def == Def::Derived) {
      rec.fields.push_back(f);
      continue;
    }
    if (ff.def == Def::Req)
      fail(at, std::string("'") + form.keyword + "' needs its " +
                   (ff.name ? ff.name : "positional") + " field");
    rec.fields.push_back(f);   // a default, computed below once all fields are in
  }
  // Defaults may depend on any field (a size on the base type).
  std::vector<int> slots = field_slots(form, version, rec.fields, base);
  for (size_t i = 0; i < form.fields.size(); ++i) {
    if (slots[i] < 0 || given[i])
      continue;
    Field def;
    if (field_default(form, i, rec.fields, slots, ctx_, def))
      rec.fields[slots[i]] = def;
  }
  return rec;
}

Record Parser::raw_record(Role role, uint32_t handlers, const Token &at) {
  std::vector<uint8_t> bytes = hex_bytes(role == Role::Node);
  std::string why;
  std::optional<Record> r = decode_raw_record(bytes, role, ctx_, handlers, why);
  if (!r)
    fail(at, "raw record: " + why);
  r->line = at.line;
  r->column = at.column;
  return *r;
}

// ----------------------------------------------------------------- header

void Parser::default_header() {
  Record h;
  h.role = Role::Header;
  h.tag = TAG_HEADER;
  auto add = [&](Enc e, uint32_t v, const std::string &s = "") {
    Field f;
    f.enc = e;
    f.num = v;
    f.str = s;
    h.fields.push_back(f);
  };
  add(Enc::Text, 0, kIcodeMagic);
  add(Enc::Short, static_cast<uint16_t>(-72));
  add(Enc::Short, static_cast<uint16_t>(kCheckValue));
  for (int i = 0; i < 5; ++i)
    add(Enc::Word, 0);
  add(Enc::Text, 0, "");
  add(Enc::Word, 0);
  l_.header = h;
  l_.have_header = true;
}

void Parser::header(const Token &at) {
  default_header();
  Record &h = l_.header;
  h.line = at.line;
  h.column = at.column;
  bool have_extra = false;
  uint32_t extra = 0;
  while (!line_end()) {
    const Token &kw = word("a header field");
    if (kw.text == "version")
      h.fields[1].num = static_cast<uint16_t>(number(next(), -32768, 32767, "a version"));
    else if (kw.text == "check")
      h.fields[2].num = static_cast<uint16_t>(number(next(), -32768, 65535, "a check value"));
    else if (kw.text == "producer")
      h.fields[kHeaderProducer].str = string_token("the producer text", false, false);
    else if (kw.text == "magic")
      h.fields[0].str = string_token("the magic text", false, false);
    else if (kw.text == "extra") {
      extra = unsigned32(next());
      have_extra = true;
    } else
      fail(kw, "unknown header field '" + kw.text + "'");
  }
  int version = static_cast<int16_t>(h.fields[1].num);
  if (version < -83) {
    h.fields.pop_back();
    if (have_extra)
      fail(at, "files of version " + std::to_string(version) + " have no extra header word");
  } else {
    h.fields.back().num = extra;
  }
  ctx_.set_version(version);
}

// ---------------------------------------------------------------- records

void Parser::section(const Token &at) {
  const Token &name = word("a section name");
  Stage s = ST_START;
  Section sec = SEC_COUNT;
  for (int k = 0; k < SEC_COUNT; ++k)
    if (name.text == section_name(static_cast<Section>(k))) {
      sec = static_cast<Section>(k);
      s = static_cast<Stage>(ST_OPTIONS + k);
    }
  if (sec == SEC_COUNT)
    fail(name, "unknown section '" + name.text +
                   "' (options, files, types, globals, initializers)");
  if (s <= stage_)
    fail(at, "section '" + name.text + "' must come before the sections and the stream that "
             "follow it: options, files, types, globals, initializers, stream");
  stage_ = s;
  cur_ = &ensure(sec);
  end_line();
}

void Parser::record_line() {
  const Token &kw = peek();
  if (kw.kind != Tok::Word)
    fail(kw, "expected a record, found '" + describe(kw) + "'");
  next();
  if (kw.text == "section") {
    section(kw);
    return;
  }
  if (stage_ == ST_START)
    stage_ = ST_STREAM;   // records before any section line are the stream's
  if (kw.text == "stream") {
    stage_ = ST_STREAM;
    cur_ = &l_.stream;
    end_line();
    return;
  }
  if (kw.text == "icode")
    fail(kw, "the header line comes first");
  if (kw.text == "bytes") {
    // Bytes written as they are, with no record around them: for files the
    // reader must reject.  They tell the tables nothing.
    Record r;
    r.role = Role::Stream;
    r.raw = hex_bytes(false);
    if (r.raw.empty())
      fail(kw, "'bytes' needs at least one byte");
    r.tag = r.raw[0];
    r.line = kw.line;
    r.column = kw.column;
    end_line();
    push(std::move(r));
    return;
  }
  Role role = Role::Stream;
  switch (stage_) {
  case ST_OPTIONS: role = Role::Option; break;
  case ST_FILES: role = Role::FileName; break;
  case ST_TYPES: role = Role::Type; break;
  case ST_GLOBALS: role = Role::Symbol; break;
  case ST_INITS: role = Role::Init; break;
  default: break;
  }
  if (kw.text == "raw") {
    raw_line(kw, role);
    return;
  }
  if (role == Role::Type || (role == Role::Stream && (kw.text == "type" || kw.text == "group" ||
                                                       kw.text == "endgroup" ||
                                                       (form_by_keyword(kw.text, true, role) &&
                                                        !form_by_keyword(kw.text, false, role))))) {
    type_line(kw, role);
    return;
  }
  if (kw.text == "symbol" && (role == Role::Stream || role == Role::Symbol)) {
    symbol_line(kw, role);
    return;
  }
  if (kw.text == "init" && (role == Role::Stream || role == Role::Init)) {
    init_line(kw, role);
    return;
  }
  if (role == Role::Stream) {
    if (kw.text == "stmt") {
      Record r;
      r.role = Role::Stream;
      r.tag = TAG_STATEMENT;
      r.line = kw.line;
      r.column = kw.column;
      Field f;
      value(FT::Pos, nullptr, false, f);
      r.fields.push_back(f);
      push(std::move(r));
      tree();
      return;
    }
    if (kw.text == "tree") {
      tree();
      return;
    }
    if (kw.text == "eht") {
      eht_line(kw);
      return;
    }
    if (kw.text == "record") {
      // An unknown tag: its tag and length, no payload.
      Token tag = next();
      uint32_t t = static_cast<uint32_t>(number(tag, 0, 255, "a tag"));
      if (record_form(Role::Stream, static_cast<uint8_t>(t)) || t == TAG_NODE || t == TAG_STATEMENT ||
          t == TAG_SYMBOL || t == TAG_INITIALIZER || t == TAG_TYPE || t == TAG_EHT || t == 255)
        fail(tag, "tag " + tag.text + " is a known record; 'record' writes unknown tags");
      const Token &len = word("'length'");
      if (len.text != "length")
        fail(len, "expected 'length'");
      std::vector<uint8_t> bytes{static_cast<uint8_t>(t)};
      std::vector<uint8_t> n = uleb_bytes(unsigned32(next()));
      bytes.insert(bytes.end(), n.begin(), n.end());
      Record r;
      r.role = Role::Stream;
      r.tag = static_cast<uint8_t>(t);
      r.raw = bytes;
      r.line = kw.line;
      r.column = kw.column;
      push(std::move(r));
      end_line();
      return;
    }
  }
  const Form *form = form_by_keyword(kw.text, false, role);
  // The global-symbol section holds symbols only (attribute lists come with
  // them), the initializer section initializers only.
  if (!form || role == Role::Symbol || role == Role::Init ||
      form->role != role || (role == Role::Stream && form->tag == TAG_SYMBOL))
    fail(kw, "unknown record '" + kw.text + "'" +
                 (role == Role::Stream ? "" : std::string(" in section ") +
                                                  section_name(static_cast<Section>(stage_ - ST_OPTIONS))));
  Extra extra;
  Record r = form_record(*form, role, {}, extra, kw);
  end_line();
  apply_record(ctx_, r);
  push(std::move(r));
}

// A record written as its bytes, and what belongs to it, which follows as
// for any other record.
void Parser::raw_line(const Token &kw, Role role) {
  Record r = raw_record(role, 0, kw);
  // A statement's tree may follow on the same line.
  if (!(r.tag == TAG_STATEMENT && role == Role::Stream && peek().kind == Tok::LParen))
    end_line();
  // What belongs to a raw record follows it as for any other.
  uint8_t tag = r.tag;
  if (r.role == Role::Node)
    fail(kw, "a raw node record belongs inside a tree: (raw ...)");
  // In a section the role, not the tag, says what follows.
  if (role == Role::Symbol || (tag == TAG_SYMBOL && role == Role::Stream)) {
    apply_record(ctx_, r);
    push(std::move(r));
    attrs(cur_->records.back().num(8), true, 8);
    return;
  }
  if (tag == TAG_STATEMENT && role == Role::Stream) {
    push(std::move(r));
    tree();
    return;
  }
  if (role == Role::Init || (tag == TAG_INITIALIZER && role == Role::Stream)) {
    push(std::move(r));
    for (;;) {
      size_t root = cur_->records.size();
      tree();
      if (cur_->records[root].num(0) == ENDINIT)
        break;
    }
    return;
  }
  if (tag == TAG_EHT && role == Role::Stream) {
    uint32_t count = r.num(0);
    push(std::move(r));
    eht_entries(cur_->records.size() - 1, count, true);
    return;
  }
  if (role == Role::Type && r.raw.size() > 0) {
    apply_record(ctx_, r);
    if (is_defining_kind(static_cast<int>(r.num(1)))) {
      if (in_type_section_.size() <= r.num(0))
        in_type_section_.resize(r.num(0) + 1, false);
      in_type_section_[r.num(0)] = true;
    }
    push(std::move(r));
    return;
  }
  apply_record(ctx_, r);
  push(std::move(r));
  return;
}

void Parser::type_line(const Token &kw, Role role) {
  const Form *form = nullptr;
  std::optional<uint32_t> id;
  std::string label;
  Token at = kw;
  if (kw.text == "type") {
    Token t = next();
    if (t.kind == Tok::Word && t.text.size() > 1 && t.text[0] == '#') {
      Token n = t;
      n.text = t.text.substr(1);
      id = unsigned32(n);
      t = next();
    }
    if (t.kind == Tok::Word && peek().kind == Tok::Word && peek().text == "=") {
      label = t.text;
      next();
      t = next();
    }
    if (t.kind != Tok::Word || !(form = form_by_keyword(t.text, true, role)) ||
        !is_defining_kind(form->kind))
      fail(t, "expected a type body (int, pointer T, struct \"S\", ...), found '" + describe(t) + "'");
    at = t;
  } else {
    form = form_by_keyword(kw.text, true, role);
    if (!form || is_defining_kind(form->kind))
      fail(kw, "unknown record '" + kw.text + "'");
  }
  Field idf;
  idf.enc = Enc::Uleb;
  idf.num = is_defining_kind(form->kind) ? 0 : ctx_.current_owner();
  Field kindf;
  kindf.enc = Enc::Byte;
  kindf.num = static_cast<uint32_t>(form->kind);
  Extra extra;
  Record r = form_record(*form, role == Role::Type ? Role::Type : Role::Stream, {idf, kindf}, extra, at);
  r.line = kw.line;
  r.column = kw.column;
  end_line();
  if (is_defining_kind(form->kind)) {
    if (!label.empty() && label.size() > 2 && label[0] == '%' && label[1] == 't' && !id) {
      Token n = kw;
      n.text = label.substr(2);
      if (label.find('.') == std::string::npos)
        id = unsigned32(n);
    }
    // An identifier given twice is written twice (the reader stops with
    // "read type twice"); the later record's label names it from here on.
    r.fields[0].num = id ? *id : ctx_.max_type_id() + 1;
    if (label.empty())
      label = ctx_.derive_type_label(r);
    if (ctx_.label_taken(label))
      fail(kw, "type name '" + label + "' is already defined");
    if (label == "-" || label[0] == '@' || label[0] == '#' || label[0] == '"' ||
        (label[0] == '%' && !(label.size() > 2 && label[1] == 't')))
      fail(kw, "'" + label + "' cannot name a type");
    if (role == Role::Type) {
      if (in_type_section_.size() <= r.fields[0].num)
        in_type_section_.resize(r.fields[0].num + 1, false);
      in_type_section_[r.fields[0].num] = true;
    }
    apply_record(ctx_, r, &label);
  } else {
    apply_record(ctx_, r);
  }
  push(std::move(r));
}

void Parser::symbol_line(const Token &kw, Role role) {
  const Form &form = *record_form(Role::Stream, TAG_SYMBOL);
  const Token &lt = next();
  if (lt.kind != Tok::Word && lt.kind != Tok::QLabel)
    fail(lt, "expected a symbol label (@name or %name), found '" + describe(lt) + "'");
  const bool global = ctx_.depth() == 0;
  const char sigil = global ? '@' : '%';
  if (lt.text.size() < 2 || lt.text[0] != sigil)
    fail(lt, std::string("a ") + (global ? "global" : "local") + " symbol's label begins with '" +
                 sigil + "'");
  if (lt.text[1] == '#')
    fail(lt, "'" + lt.text + "' is an index, not a label");
  if ((global ? ctx_.global_by_label(lt.text) : ctx_.local_by_label(lt.text)))
    fail(lt, "symbol '" + lt.text + "' is already defined");
  Extra extra;
  Record r = form_record(form, role, {}, extra, kw);
  end_line();
  std::string name = extra.have_name ? extra.name_text : label_name(lt.text);
  if (name.find('\0') != std::string::npos)
    fail(lt, "a symbol name cannot hold a zero byte");
  r.fields[0].str = name;
  const uint32_t index =
      static_cast<uint32_t>(global ? ctx_.globals().size() : ctx_.locals().size());
  bool init_given = false;
  bool attrs_given = false;
  for (size_t i = 0; i < form.fields.size(); ++i) {
    if (form.fields[i].def == Def::InitPos)
      init_given = extra.given[i];
    if (form.fields[i].def == Def::AttrCount)
      attrs_given = extra.given[i];
  }
  // A local's initializer position has nothing to point to: 0.
  r.fields[9].derived_init_pos = global && !init_given;
  r.global_index = index;
  apply_record(ctx_, r, &lt.text);
  push(std::move(r));
  attrs(cur_->records.back().num(8), attrs_given, 8);
}

// The attribute lists after a symbol: `announced` of them when the count was
// written, else every attr line that follows.  The symbol's count field is
// set to what was taken.
void Parser::attrs(uint32_t announced, bool explicit_count, size_t count_slot) {
  const size_t sym = cur_->records.size() - 1;
  uint32_t taken = 0;
  for (;;) {
    if (explicit_count && taken >= announced)
      break;
    const Token &t = line_start();
    if (t.kind != Tok::Word || (t.text != "attr" && t.text != "raw"))
      break;
    // A raw line is an attribute list when its tag is 94.
    if (t.text == "raw" && !raw_tag_is(TAG_ATTRIBUTES))
      break;
    skip_blank();
    const Token &kw = next();
    Record a;
    if (kw.text == "raw") {
      a = raw_record(Role::Attr, 0, kw);
    } else {
      Extra extra;
      a = form_record(*record_form(Role::Attr, TAG_ATTRIBUTES), Role::Attr, {}, extra, kw);
    }
    end_line();
    push(std::move(a));
    ++taken;
    if (taken > 255)
      fail(kw, "a symbol has at most 255 attribute lists");
  }
  if (!explicit_count)
    cur_->records[sym].fields[count_slot].num = taken;
}

void Parser::init_line(const Token &kw, Role role) {
  Extra extra;
  Record r = form_record(*record_form(Role::Init, TAG_INITIALIZER), role, {}, extra, kw);
  end_line();
  push(std::move(r));
  for (;;) {
    const Token &t = line_start();
    if (t.kind != Tok::LParen)
      fail(t, "an initializer's trees end with an ENDINIT tree");
    size_t root = cur_->records.size();
    tree();
    if (cur_->records[root].num(0) == ENDINIT)
      return;
  }
}

void Parser::eht_line(const Token &kw) {
  Extra extra;
  Record table = form_record(*record_form(Role::Stream, TAG_EHT), Role::Stream, {}, extra, kw);
  end_line();
  const bool count_given = extra.given[0];
  const uint32_t announced = table.num(0);
  push(std::move(table));
  eht_entries(cur_->records.size() - 1, announced, count_given);
}

// The entries of the exception table at `table_at`: `announced` of them when
// its count was given, else every entry line that follows.
void Parser::eht_entries(size_t table_at, uint32_t announced, bool count_given) {
  uint32_t entries = 0;
  for (;;) {
    if (count_given && entries >= announced)
      break;
    const Token &t = line_start();
    if (t.kind != Tok::Word || (t.text != "entry" && t.text != "raw"))
      break;
    if (t.text == "raw" && !raw_tag_is(TAG_EHT_ENTRY))
      break;   // a record of the stream after the table
    skip_blank();
    const Token &ek = next();
    Record e;
    bool counted = false;
    if (ek.text == "raw") {
      e = raw_record(Role::EhtEntry, 0, ek);
      counted = true;
    } else {
      Extra ee;
      e = form_record(*record_form(Role::EhtEntry, TAG_EHT_ENTRY), Role::EhtEntry, {}, ee, ek);
      counted = ee.given[3];
    }
    end_line();
    const uint32_t kind = e.num(1);
    push(std::move(e));
    const size_t entry_at = cur_->records.size() - 1;
    ++entries;
    if (kind == 1) {
      const Token &c = line_start();
      skip_blank();
      next();
      Record cr;
      if (c.kind == Tok::Word && c.text == "raw") {
        cr = raw_record(Role::EhtCleanup, 0, c);
        if (peek().kind != Tok::LParen)
          end_line();
      } else if (c.kind == Tok::Word && c.text == "cleanup") {
        cr.role = Role::EhtCleanup;
        cr.tag = TAG_STATEMENT;
        Field f;
        value(FT::Pos, nullptr, false, f);
        cr.fields.push_back(f);
      } else {
        fail(c, "a cleanup entry is followed by its cleanup statement");
      }
      push(std::move(cr));
      tree();
    } else if (kind == 2) {
      const Token &h = line_start();
      skip_blank();
      next();
      Record hr;
      if (h.kind == Tok::Word && h.text == "raw") {
        if (!counted)
          fail(h, "raw handlers need the count of their entry");
        hr = raw_record(Role::EhtHandlers, cur_->records[entry_at].num(3), h);
      } else if (h.kind == Tok::Word && h.text == "handlers") {
        hr.role = Role::EhtHandlers;
        hr.tag = TAG_EHT_HANDLERS;
        while (!line_end()) {
          Field name;
          value(FT::Text, nullptr, false, name);
          Field label;
          value(FT::Label, nullptr, false, label);
          Field flag;
          value(FT::Flag, nullptr, false, flag);
          hr.fields.push_back(name);
          hr.fields.push_back(label);
          hr.fields.push_back(flag);
        }
      } else {
        fail(h, "a catch entry is followed by its handlers");
      }
      end_line();
      if (!counted)
        cur_->records[entry_at].fields[3].num = static_cast<uint32_t>(hr.fields.size() / 3);
      push(std::move(hr));
    }
  }
  if (!count_given)
    cur_->records[table_at].fields[0].num = entries;
}

// A node's head: operator, type and fields (the '(' has been read).
Record Parser::node(const Token &at) {
  const Token &opt = next();
  if (opt.kind != Tok::Word)
    fail(opt, "expected an operator, found '" + describe(opt) + "'");
  if (opt.text == "raw") {
    Record r = raw_record(Role::Node, 0, opt);
    if (r.role != Role::Node)
      fail(opt, "a raw record inside a tree must be a node record (tag 101)");
    return r;
  }
  uint32_t op = kNumOps;
  for (uint32_t c = 0; c <= kMaxFileOp; ++c) {
    const InterchangeOp *e = interchange_op(c);
    if (e && e->name && opt.text == e->name) {
      op = c;
      break;
    }
  }
  if (op == kNumOps && opt.text.size() > 2 && opt.text.compare(0, 2, "op") == 0) {
    Token n = opt;
    n.text = opt.text.substr(2);
    op = static_cast<uint32_t>(number(n, 0, kMaxFileOp, "an operator code (0 to 163)"));
  }
  if (op == kNumOps)
    fail(opt, "unknown operator '" + opt.text + "'");
  Record r;
  r.role = Role::Node;
  r.tag = TAG_NODE;
  r.line = at.line;
  r.column = at.column;
  Field opf;
  opf.enc = Enc::Byte;
  opf.num = op;
  r.fields.push_back(opf);
  Field type;
  type.enc = Enc::Uleb;
  type.num = type_ref(next());
  r.fields.push_back(type);
  const bool is_signed = ctx_.is_signed(type.num);
  auto more = [&] { return peek().kind != Tok::LParen && peek().kind != Tok::RParen && !line_end(); };
  auto need = [&](const char *what) {
    while (peek().kind == Tok::Newline)
      next();
    if (!more())
      fail(peek(), std::string(opt.text) + " needs " + what);
  };
  Field f;
  switch (op) {
  case LABEL:
    need("a label number");
    value(FT::Label, nullptr, false, f);
    r.fields.push_back(f);
    break;
  case NAME: {
    need("a symbol");
    const Token &st = next();
    Field scope;
    scope.enc = Enc::Uleb;
    Field index;
    index.enc = Enc::Uleb;
    if (st.kind == Tok::Word && st.text == "none") {
      scope.num = RawSymRef::kNone;
      need("the index of its empty reference");
      index.num = unsigned32(next());
    } else if (st.kind == Tok::Word && st.text.size() > 2 && st.text[1] == '#' &&
               (st.text[0] == '@' || st.text[0] == '%')) {
      Token n = st;
      n.text = st.text.substr(2);
      index.num = unsigned32(n);
      scope.num = st.text[0] == '@' ? 0 : 1;
    } else if ((st.kind == Tok::Word || st.kind == Tok::QLabel) && !st.text.empty() &&
               st.text[0] == '@') {
      index.num = global_ref(st);
      scope.num = 0;
    } else if ((st.kind == Tok::Word || st.kind == Tok::QLabel) && !st.text.empty() &&
               st.text[0] == '%') {
      std::optional<uint32_t> i = ctx_.local_by_label(st.text);
      if (!i)
        fail(st, "unknown local symbol '" + st.text + "'");
      index.num = *i;
      scope.num = ctx_.locals()[*i].depth;
    } else {
      fail(st, "expected a symbol (@name, %name, @#N, %#N or none N), found '" + describe(st) + "'");
    }
    if (more() && peek().text == "scope") {
      next();
      scope.num = unsigned32(next());
      if (scope.num == 0 && st.text[0] == '%')
        fail(st, "scope 0 names the global table; write the global");
    }
    r.fields.push_back(scope);
    r.fields.push_back(index);
    break;
  }
  case SCON:
    need("its bytes");
    value(FT::Counted, nullptr, false, f);
    r.fields.push_back(f);
    break;
  case ICON:
    need("a value");
    value(FT::IconVal, nullptr, is_signed, f);
    r.fields.push_back(f);
    break;
  case FCON:
  case LCON:
  case ICALL:
  case UICALL:
  case MCALL:
  case UMCALL:
    need("its text");
    f.enc = Enc::Text;
    f.str = string_token("a text", true, false);
    r.fields.push_back(f);
    break;
  case FIELD: {
    need("a structure type and a member");
    Field owner;
    owner.enc = Enc::Uleb;
    owner.num = type_ref(next());
    need("a member");
    const Token &mt = next();
    Field member;
    member.enc = Enc::Uleb;
    if (mt.kind == Tok::Word && mt.text.size() > 1 && mt.text[0] == '.') {
      const TypeInfo *t = ctx_.type(owner.num);
      std::string name = mt.text.substr(1);
      bool found = false;
      if (t)
        for (const auto &m : t->members)
          if (m.second == name) {
            member.num = m.first;
            found = true;
            break;
          }
      if (!found)
        fail(mt, "type '" + ctx_.type_ref_text(owner.num) + "' has no member '" + name + "'");
    } else if (mt.kind == Tok::Word && mt.text.size() > 1 && mt.text[0] == '#') {
      Token n = mt;
      n.text = mt.text.substr(1);
      member.num = unsigned32(n);
    } else {
      fail(mt, "expected a member (.name or #id), found '" + describe(mt) + "'");
    }
    Field flag;
    flag.enc = Enc::Byte;
    flag.num = 1;
    if (more() && peek().text == "flag") {
      next();
      flag.num = static_cast<uint8_t>(number(next(), -128, 255, "a byte"));
    }
    r.fields.push_back(flag);
    r.fields.push_back(member);
    r.fields.push_back(owner);
    break;
  }
  case VREG:
    need("a register number");
    value(FT::SNum, nullptr, false, f);
    r.fields.push_back(f);
    break;
  case SKIP:
  case SWITCH:
  case UCALL:
  case EPVAL:
    need("its number");
    value(FT::Num, nullptr, false, f);
    r.fields.push_back(f);
    break;
  case CALL:
    for (int i = 0; i < 2; ++i) {
      need("two numbers");
      value(FT::Num, nullptr, false, f);
      r.fields.push_back(f);
    }
    break;
  case DDNODE:
    for (int i = 0; i < 3; ++i) {
      need("three numbers");
      value(i < 2 ? FT::Num : FT::Byte, nullptr, false, f);
      r.fields.push_back(f);
    }
    break;
  default:
    break;   // the operator carries no fields
  }
  if (more())
    fail(peek(), "unexpected '" + describe(peek()) + "' after the fields of " + opt.text);
  return r;
}

// A tree: s-expressions across lines, read without recursion.
void Parser::tree() {
  while (peek().kind == Tok::Newline)
    next();
  const Token &open = next();
  if (open.kind != Tok::LParen)
    fail(open, "expected a tree '(', found '" + describe(open) + "'");
  struct Open {
    size_t rec;
    unsigned want;
    unsigned got;
    Token at;
  };
  std::vector<Open> stack;
  Token at = open;
  for (;;) {
    if (stack.size() >= kMaxTreeDepth)
      fail(at, "tree nested deeper than the reader accepts");
    Record n = node(at);
    unsigned want = node_operands(n.num(0));
    push(std::move(n));
    if (!stack.empty())
      ++stack.back().got;
    stack.push_back({cur_->records.size() - 1, want, 0, at});
    for (;;) {
      while (peek().kind == Tok::Newline)
        next();
      const Token &t = next();
      if (t.kind == Tok::LParen) {
        Open &o = stack.back();
        if (o.got >= o.want) {
          const InterchangeOp *e = interchange_op(cur_->records[o.rec].num(0));
          fail(t, std::string(e && e->name ? e->name : "this operator") + " takes " +
                      std::to_string(o.want) + " operand" + (o.want == 1 ? "" : "s"));
        }
        at = t;
        break;
      }
      if (t.kind != Tok::RParen)
        fail(t, "expected '(' or ')', found '" + describe(t) + "'");
      Open &o = stack.back();
      if (o.got != o.want) {
        const InterchangeOp *e = interchange_op(cur_->records[o.rec].num(0));
        fail(t, std::string(e && e->name ? e->name : "this operator") + " takes " +
                    std::to_string(o.want) + " operand" + (o.want == 1 ? "" : "s") + ", found " +
                    std::to_string(o.got));
      }
      stack.pop_back();
      if (stack.empty()) {
        if (!line_end())
          fail(peek(), "unexpected '" + describe(peek()) + "' after the tree");
        next();
        return;
      }
    }
  }
}

Listing Parser::run() {
  skip_blank();
  const Token &first = peek();
  if (first.kind == Tok::Word && first.text == "icode") {
    next();
    header(first);
    end_line();
  } else if (first.kind == Tok::Word && first.text == "bytes") {
    l_.have_header = false;   // the bytes stand where the header would
  } else if (first.kind == Tok::Word && first.text == "raw") {
    next();
    l_.header = raw_record(Role::Header, 0, first);
    l_.have_header = true;
    ctx_.set_version(l_.version());
    end_line();
  } else {
    default_header();
  }
  l_.stream.present = true;
  for (;;) {
    skip_blank();
    if (peek().kind == Tok::End)
      break;
    record_line();
  }
  return std::move(l_);
}

} // namespace

Listing parse_listing(const std::string &text) {
  build_interchange_table();
  return Parser(Lexer(text).run()).run();
}

} // namespace zor::text
