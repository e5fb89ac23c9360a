// tools/textform/print.cpp - the text form of a Listing.
#include "tools/textform/print.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <optional>

#include "icode/interchange_ops.h"
#include "icode/position.h"
#include "icode/reader.h"
#include "icode/record_tags.h"
#include "ir/opcodes.h"
#include "ir/source_form.h"
#include "ir/tree_print.h"
#include "ir/xfloat.h"
#include "tools/textform/context.h"
#include "tools/textform/decode.h"
#include "tools/textform/defaults.h"
#include "tools/textform/encode.h"
#include "tools/textform/forms.h"

namespace zor::text {
namespace {

constexpr size_t kWidth = 80;
constexpr size_t kCommentColumn = 40;
// Trees deeper than this get no source-form comment (its printer recurses).
constexpr size_t kSourceFormDepth = 200;
// Operands of deep trees stop moving right here; blanks carry no meaning.
constexpr size_t kMaxIndent = 60;

std::string hex(uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}

std::string hex_bytes(const uint8_t *b, size_t n) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", b[i]);
    if (i)
      s += ' ';
    s += buf;
  }
  return s;
}

std::string quoted(const std::string &s) {
  return c_string_literal(s.data(), static_cast<uint32_t>(s.size()));
}

// A text field printed bare when it is one plain word (FCON, LCON texts).
std::string word_or_quoted(const std::string &s) {
  return is_plain_word(s) ? s : quoted(s);
}

const char *const kGroupOrder = "234567890";

// What the printer knows about a tree: its nodes in prefix order (record i
// of the tree is node i), their operands, their one-line texts' widths.
struct TreeShape {
  size_t first = 0;                   // record index of the root
  std::vector<std::array<int, 2>> kids;
  std::vector<uint8_t> nkids;
  std::vector<std::string> head;
  std::vector<size_t> width;          // of the one-line text of the subtree
  size_t depth = 0;
  size_t end = 0;                     // record index after the tree
};

class Printer {
public:
  Printer(const Listing &l, const PrintOptions &opt) : l_(l), opt_(opt), ctx_(l.version()) {
    const Region &inits = l.sections[SEC_INITS];
    for (const Record &r : inits.records)
      if (r.role == Role::Init && !init_at_.count(r.num(0)))
        init_at_[r.num(0)] = r.offset;
  }

  std::string run();

private:
  void emit(size_t indent, const std::string &text, const std::string &comment = "");
  std::string field_text(FT ft, const Field &f) const;
  // The keyword, positional and keyword fields of a record by its form.
  struct Derived {
    std::optional<uint32_t> count;       // Def::AttrCount and Def::Derived
    std::optional<uint32_t> init_pos;    // Def::InitPos
    std::string sym_label;               // FT::SymName
  };
  std::string form_text(const Form &form, const Record &rec, size_t first,
                        const Derived &d) const;
  std::string raw_text(const Record &rec) const;
  std::string raw_comment(const Record &rec, const char *what) const;

  void header();
  // Some region could not be read to its end.
  bool broken() const {
    for (const Region &r : l_.sections)
      if (!r.problem.empty())
        return true;
    return !l_.stream.problem.empty();
  }
  void region(const Region &reg, size_t indent);
  size_t item(const std::vector<Record> &recs, size_t i, size_t indent);
  size_t type_record(const Record &rec, size_t indent);
  size_t symbol(const std::vector<Record> &recs, size_t i, size_t indent);
  size_t initializer(const std::vector<Record> &recs, size_t i, size_t indent);
  size_t eht(const std::vector<Record> &recs, size_t i, size_t indent);
  void problem(const Region &reg);

  // Trees.
  std::string node_head(const Record &rec) const;
  TreeShape shape(const std::vector<Record> &recs, size_t i) const;
  std::string one_line(const std::vector<Record> &recs, const TreeShape &t, int n) const;
  std::string source_form(const std::vector<Record> &recs, const TreeShape &t) const;
  // Prints `prefix` and the tree after it: on one line when it fits, else the
  // prefix alone and the tree below it.  Returns the index after the tree.
  size_t tree(const std::vector<Record> &recs, size_t i, size_t indent, const std::string &prefix,
              const std::string &comment);
  void tree_lines(const std::vector<Record> &recs, const TreeShape &t, size_t indent);

  const Listing &l_;
  const PrintOptions &opt_;
  Context ctx_;
  std::map<uint32_t, uint64_t> init_at_;
  std::string out_;
};

void Printer::emit(size_t indent, const std::string &text, const std::string &comment) {
  std::string line(indent, ' ');
  line += text;
  if (opt_.comments && !comment.empty()) {
    if (line.size() < kCommentColumn)
      line.append(kCommentColumn - line.size(), ' ');
    else
      line += "  ";
    line += "; ";
    // A comment ends at the end of its line: control characters from names
    // and texts show as '?'.
    for (char c : comment)
      line += static_cast<unsigned char>(c) < ' ' || c == 0x7f ? '?' : c;
  }
  out_ += line;
  out_ += '\n';
}

std::string Printer::field_text(FT ft, const Field &f) const {
  switch (ft) {
  case FT::Num:
  case FT::Byte:
  case FT::Flag:
  case FT::Short:
  case FT::Word: return std::to_string(f.num);
  case FT::SNum: return std::to_string(f.snum());
  case FT::SByte: return std::to_string(static_cast<int8_t>(f.num));
  case FT::HexShort: return hex(f.num);
  case FT::Text:
  case FT::Counted: return quoted(f.str);
  case FT::Pos: return ctx_.pos_text(f.pos);
  case FT::Type: return ctx_.type_ref_text(f.num);
  case FT::GSym: return ctx_.global_text(f.num);
  case FT::Label: return "L" + std::to_string(f.num);
  case FT::Quals: {
    if (f.num == 0 || f.num > 0xFF)
      return std::to_string(f.num);
    std::string s;
    for (unsigned bit = 0; bit < 8; ++bit)
      if (f.num & (1u << bit))
        s += (s.empty() ? "" : ",") + std::string(qualifier_name(bit));
    return s;
  }
  case FT::EhtKind: {
    const char *n = eht_kind_name(f.num);
    return n ? n : std::to_string(f.num);
  }
  case FT::EnumVal:
  case FT::IconVal: return f.enc == Enc::Sleb ? std::to_string(f.snum()) : std::to_string(f.num);
  case FT::Texts: {
    std::string s;
    for (const std::string &t : f.texts)
      s += (s.empty() ? "" : " ") + quoted(t);
    return s;
  }
  case FT::Shorts: {
    std::string s;
    for (uint16_t v : f.shorts)
      s += (s.empty() ? "" : " ") + std::to_string(v);
    return s;
  }
  case FT::Blob:
    return hex_bytes(reinterpret_cast<const uint8_t *>(f.str.data()), f.str.size());
  case FT::Groups9: {
    std::string s;
    for (size_t i = 0; i < 9 && i < f.str.size(); ++i)
      if (f.str[i])
        s += (s.empty() ? "" : ",") + std::string(1, kGroupOrder[i]);
    return s;
  }
  case FT::Group7: return "7";
  case FT::Fixed:
  case FT::SymName: return "";
  }
  return "";
}

std::string Printer::form_text(const Form &form, const Record &rec, size_t first,
                               const Derived &d) const {
  std::vector<int> slots = field_slots(form, ctx_.version(), rec.fields, first);
  // Positional fields in rank order.
  std::vector<size_t> positional;
  for (size_t i = 0; i < form.fields.size(); ++i)
    if (!form.fields[i].name && form.fields[i].ft != FT::Fixed && slots[i] >= 0)
      positional.push_back(i);
  std::stable_sort(positional.begin(), positional.end(), [&](size_t a, size_t b) {
    return form.fields[a].rank < form.fields[b].rank;
  });
  std::string s = form.keyword;
  auto add = [&](const std::string &t) {
    if (!t.empty())
      s += " " + t;
  };
  for (size_t i : positional) {
    const Field &f = rec.fields[slots[i]];
    add(form.fields[i].ft == FT::SymName ? d.sym_label : field_text(form.fields[i].ft, f));
  }
  for (size_t i = 0; i < form.fields.size(); ++i) {
    const FieldForm &ff = form.fields[i];
    if (!ff.name || slots[i] < 0 || static_cast<size_t>(slots[i]) >= rec.fields.size())
      continue;
    const Field &f = rec.fields[slots[i]];
    bool print = true;
    if (ff.def == Def::AttrCount || ff.def == Def::Derived) {
      print = !d.count || f.num != *d.count;
    } else if (ff.def == Def::InitPos) {
      print = !d.init_pos || f.num != *d.init_pos;
    } else {
      Field def;
      if (field_default(form, i, rec.fields, slots, ctx_, def))
        print = !same_field(f, def);
    }
    if (print)
      add(std::string(ff.name) + " " + field_text(ff.ft, f));
  }
  return s;
}

std::string Printer::raw_text(const Record &rec) const {
  return "raw " + hex_bytes(rec.raw.data(), rec.raw.size());
}

std::string Printer::raw_comment(const Record &, const char *what) const {
  return std::string(what) + ", kept byte for byte";
}

// ------------------------------------------------------------------ header

void Printer::header() {
  const Record &h = l_.header;
  if (!l_.have_header) {
    emit(0, "; " + l_.header_problem);
    return;
  }
  std::string comment;
  for (Section s : {SEC_OPTIONS, SEC_INITS, SEC_TYPES, SEC_FILES, SEC_GLOBALS}) {
    uint32_t off = h.num(kHeaderFirstOffset + kHeaderOffsetSlot[s]);
    if (off)
      comment += (comment.empty() ? "" : ", ") + std::string(section_name(s)) + " at " + hex(off);
  }
  if (!h.raw.empty()) {
    // The offsets are the layout's, filled in by zas: shown as zeros.
    Record shown = h;
    if (size_t at = raw_header_offsets_at(h.raw))
      std::fill(shown.raw.begin() + static_cast<long>(at),
                shown.raw.begin() + static_cast<long>(at + 20), 0);
    emit(0, raw_text(shown), raw_comment(h, "header (offsets left to zas)"));
  } else {
    std::string s = "icode";
    if (h.fields[0].str != kIcodeMagic)
      s += " magic " + quoted(h.fields[0].str);
    s += " version " + std::to_string(static_cast<int16_t>(h.fields[1].num));
    if (static_cast<int16_t>(h.fields[2].num) != kCheckValue)
      s += " check " + std::to_string(static_cast<int16_t>(h.fields[2].num));
    s += " producer " + quoted(h.fields[kHeaderProducer].str);
    if (h.fields.size() > kHeaderProducer + 1 && h.fields[kHeaderProducer + 1].num != 0)
      s += " extra " + std::to_string(h.fields[kHeaderProducer + 1].num);
    emit(0, s, comment);
  }
  if (!l_.header_problem.empty())
    emit(0, "; error: " + l_.header_problem);
  else if (!l_.writer_layout && opt_.comments && !broken())
    emit(0, "; note: the sections do not lie as the writer lays them out; zas writes them in its order");
}

// ----------------------------------------------------------------- regions

void Printer::problem(const Region &reg) {
  if (reg.problem.empty())
    return;
  std::string msg = reg.problem;
  while (!msg.empty() && msg.front() == '\n')
    msg.erase(msg.begin());
  while (!msg.empty() && msg.back() == '\n')
    msg.pop_back();
  emit(0, "; error at " + hex(reg.problem_at) + ": " + msg);
}

void Printer::region(const Region &reg, size_t indent) {
  for (size_t i = 0; i < reg.records.size();)
    i = item(reg.records, i, indent);
  problem(reg);
}

// One record and those that belong to it.
size_t Printer::item(const std::vector<Record> &recs, size_t i, size_t indent) {
  const Record &rec = recs[i];
  switch (rec.role) {
  case Role::Node:
    return tree(recs, i, indent + 2 * ctx_.depth(), "tree", "");
  case Role::Option:
  case Role::FileName: {
    const Form *form =
        record_form(rec.role, rec.role == Role::Option ? TAG_OPTION_SET : TAG_FILE_NAME);
    std::string comment;
    if (rec.role == Role::FileName)
      comment = "#" + std::to_string(ctx_.files().size() + 1);
    if (!rec.raw.empty())
      emit(indent, raw_text(rec), raw_comment(rec, form->keyword));
    else
      emit(indent, form_text(*form, rec, 0, {}), comment);
    apply_record(ctx_, rec);
    return i + 1;
  }
  case Role::Type:
    return type_record(rec, indent) + i;
  case Role::Symbol:
    return symbol(recs, i, indent);
  case Role::Init:
    return initializer(recs, i, indent);
  case Role::Stream:
    break;
  default:
    // Attribute lists and exception-table entries are printed with their
    // owners; one met here stands alone.
    emit(indent, raw_text(rec), "record out of place");
    return i + 1;
  }

  // Main-stream records.
  size_t before = ctx_.depth();
  Context probe = ctx_;
  probe.scope_record(rec.tag);
  size_t after = probe.depth();
  bool closing = rec.tag == TAG_BLOCK_END || rec.tag == TAG_FUNC_END || rec.tag == TAG_DECL_SCOPE_END;
  size_t at = indent + 2 * (closing ? after : before);
  switch (rec.tag) {
  case TAG_STATEMENT: {
    std::string prefix = rec.raw.empty() ? "stmt " + ctx_.pos_text(rec.fields[0].pos) : raw_text(rec);
    return tree(recs, i + 1, at, prefix, rec.raw.empty() ? "" : raw_comment(rec, "stmt"));
  }
  case TAG_SYMBOL: return symbol(recs, i, at);
  case TAG_INITIALIZER: return initializer(recs, i, at);
  case TAG_TYPE: return i + type_record(rec, at);
  case TAG_EHT: return eht(recs, i, at);
  default: break;
  }
  const Form *form = record_form(Role::Stream, rec.tag);
  if (!form) {
    std::vector<uint8_t> canon{rec.tag};
    uint32_t length = 0;
    {
      // The length as stored: decode it back from the raw bytes.
      uint32_t shift = 0;
      for (size_t k = 1; k < rec.raw.size() && shift < 32; ++k, shift += 7)
        length |= static_cast<uint32_t>(rec.raw[k] & 0x7f) << shift;
    }
    std::vector<uint8_t> len = uleb_bytes(length);
    canon.insert(canon.end(), len.begin(), len.end());
    char note[96];
    std::snprintf(note, sizeof note, "unknown tag: the reader reports ///ERROR @0x%lx",
                  static_cast<unsigned long>(rec.offset + rec.size));
    if (canon == rec.raw)
      emit(at, "record " + std::to_string(rec.tag) + " length " + std::to_string(length), note);
    else
      emit(at, raw_text(rec), note);
    return i + 1;
  }
  std::string comment;
  if (rec.tag == TAG_BYTE_RECORD && rec.num(0) == 'L')
    comment = "'L': the function makes no calls";
  else if (rec.tag == TAG_ATTRIBUTES && rec.fields.size() > 1)
    comment = pragma_text(PragmaRecord(static_cast<uint8_t>(rec.num(0)), rec.fields[1].texts));
  else if (rec.tag == TAG_PRAGMA && !rec.fields.empty() && !rec.fields[0].str.empty() &&
           rec.fields[0].str[0] == '*')
    comment = "ignored by the reader";
  else if (rec.tag == TAG_FILE_NAME || rec.tag == TAG_SYMBOL_REF || rec.tag == TAG_RECORD_108 ||
           rec.tag == TAG_RECORD_38 || rec.tag == TAG_RECORD_45 || rec.tag == TAG_RECORD_59 ||
           rec.tag == TAG_DDEDGE)
    comment = "read and ignored";
  else if (rec.tag == TAG_SKIPPED)
    comment = "skipped by its length";
  if (!rec.raw.empty())
    emit(at, raw_text(rec), raw_comment(rec, form->keyword));
  else
    emit(at, form_text(*form, rec, 0, {}), comment);
  apply_record(ctx_, rec);
  return i + 1;
}

// Prints a type record; returns 1 (records consumed).
size_t Printer::type_record(const Record &rec, size_t indent) {
  int kind = rec.fields.size() > 1 ? static_cast<int>(rec.fields[1].num) : -1;
  uint8_t variety = rec.fields.size() > 2 ? static_cast<uint8_t>(rec.fields[2].num) : 0;
  const Form *form = type_form(static_cast<uint8_t>(kind), variety);
  bool defining = is_defining_kind(kind);
  size_t at = indent + (defining ? 0 : kind >= 254 ? 2 : 4);
  if (!rec.raw.empty() || !form || rec.tag != TAG_TYPE) {
    emit(at, raw_text(rec), raw_comment(rec, "type record"));
    apply_record(ctx_, rec);
    return 1;
  }
  std::string body = form_text(*form, rec, 2, {});
  if (defining) {
    std::string label = ctx_.derive_type_label(rec);
    uint32_t id = rec.num(0);
    uint32_t implied = label == "%t" + std::to_string(id) ? id : ctx_.max_type_id() + 1;
    std::string s = "type";
    if (id != implied)
      s += " #" + std::to_string(id);
    if (label != form->keyword)
      s += " " + label + " =";
    emit(at, s + " " + body);
  } else {
    uint32_t owner = rec.num(0);
    if (owner != ctx_.current_owner())
      body += " of " + ctx_.type_ref_text(owner);
    emit(at, body);
  }
  apply_record(ctx_, rec);
  return 1;
}

size_t Printer::symbol(const std::vector<Record> &recs, size_t i, size_t indent) {
  const Record &rec = recs[i];
  const Form &form = *record_form(Role::Stream, TAG_SYMBOL);
  bool global = ctx_.depth() == 0;
  size_t index = global ? ctx_.globals().size() : ctx_.locals().size();
  // Attribute lists: the records of tag 94 that follow.
  uint32_t following = 0;
  for (size_t k = i + 1; k < recs.size() && recs[k].tag == TAG_ATTRIBUTES; ++k)
    ++following;
  uint32_t announced = rec.num(8);
  std::string comment = (global ? "global " : "local ") + std::to_string(index);
  if (!rec.raw.empty()) {
    emit(indent, raw_text(rec), raw_comment(rec, "symbol"));
  } else {
    Derived d;
    d.count = following;
    d.init_pos = 0;
    if (global) {
      auto it = init_at_.find(static_cast<uint32_t>(index));
      if (it != init_at_.end())
        d.init_pos = static_cast<uint32_t>(it->second);
    }
    const std::string &name = rec.fields[0].str;
    d.sym_label = ctx_.derive_symbol_label(name, global);
    std::string s = form_text(form, rec, 0, d);
    if (label_name(d.sym_label) != name)
      s += " name " + quoted(name);
    emit(indent, s, comment);
  }
  apply_record(ctx_, rec);
  size_t k = i + 1;
  for (uint32_t n = 0; n < announced && k < recs.size() && recs[k].role == Role::Attr; ++n, ++k) {
    const Record &a = recs[k];
    if (!a.raw.empty())
      emit(indent + 2, raw_text(a), raw_comment(a, "attr"));
    else
      emit(indent + 2, form_text(*record_form(Role::Attr, TAG_ATTRIBUTES), a, 0, {}),
           pragma_text(PragmaRecord(static_cast<uint8_t>(a.num(0)), a.fields[1].texts)));
  }
  return k;
}

size_t Printer::initializer(const std::vector<Record> &recs, size_t i, size_t indent) {
  const Record &rec = recs[i];
  if (!rec.raw.empty())
    emit(indent, raw_text(rec), raw_comment(rec, "init"));
  else
    emit(indent, "init " + ctx_.global_text(rec.num(0)));
  size_t k = i + 1;
  while (k < recs.size() && recs[k].role == Role::Node) {
    bool last = recs[k].num(0) == ENDINIT;
    k = tree(recs, k, indent + 2, "", "");
    if (last)
      break;
  }
  return k;
}

size_t Printer::eht(const std::vector<Record> &recs, size_t i, size_t indent) {
  const Record &rec = recs[i];
  uint32_t entries = 0;
  size_t k = i + 1;
  // Count the entries that follow, skipping what belongs to each.
  for (size_t j = k; j < recs.size();) {
    if (recs[j].role != Role::EhtEntry)
      break;
    ++entries;
    ++j;
    if (j < recs.size() && recs[j].role == Role::EhtHandlers)
      ++j;
    else if (j < recs.size() && recs[j].role == Role::EhtCleanup)
      j = shape(recs, j + 1).end;
  }
  const Form &form = *record_form(Role::Stream, TAG_EHT);
  Derived d;
  d.count = entries;
  if (!rec.raw.empty())
    emit(indent, raw_text(rec), raw_comment(rec, "eht"));
  else
    emit(indent, form_text(form, rec, 0, d));
  for (uint32_t n = 0; n < entries; ++n) {
    const Record &e = recs[k++];
    const Record *next = k < recs.size() ? &recs[k] : nullptr;
    Derived de;
    // The handler count follows from the handlers shown, unless they are
    // kept raw: their bytes do not say how many there are.
    if (!(next && next->role == Role::EhtHandlers && !next->raw.empty()))
      de.count = next && next->role == Role::EhtHandlers
                     ? static_cast<uint32_t>(next->fields.size() / 3)
                     : 0;
    if (!e.raw.empty())
      emit(indent + 2, raw_text(e), raw_comment(e, "entry"));
    else
      emit(indent + 2, form_text(*record_form(Role::EhtEntry, TAG_EHT_ENTRY), e, 0, de));
    if (next && next->role == Role::EhtCleanup) {
      std::string prefix = next->raw.empty() ? "cleanup " + ctx_.pos_text(next->fields[0].pos) : raw_text(*next);
      k = tree(recs, k + 1, indent + 4, prefix, next->raw.empty() ? "" : raw_comment(*next, "cleanup"));
    } else if (next && next->role == Role::EhtHandlers) {
      if (!next->raw.empty()) {
        emit(indent + 4, raw_text(*next), raw_comment(*next, "handlers"));
      } else {
        std::string s = "handlers";
        for (size_t f = 0; f + 2 < next->fields.size(); f += 3)
          s += " " + quoted(next->fields[f].str) + " L" + std::to_string(next->fields[f + 1].num) +
               " " + std::to_string(next->fields[f + 2].num);
        emit(indent + 4, s);
      }
      ++k;
    }
  }
  return k;
}

// ------------------------------------------------------------------- trees

std::string Printer::node_head(const Record &rec) const {
  if (!rec.raw.empty())
    return raw_text(rec);
  uint32_t op = rec.num(0);
  const InterchangeOp *e = interchange_op(op);
  std::string s = e && e->name ? e->name : "op" + std::to_string(op);
  s += " " + ctx_.type_ref_text(rec.num(1));
  const std::vector<Field> &f = rec.fields;
  auto num = [&](size_t i) { return std::to_string(f[i].num); };
  switch (op) {
  case LABEL: s += " L" + num(2); break;
  case NAME: {
    uint32_t scope = f[2].num;
    if (scope == RawSymRef::kNone) {
      s += " none " + num(3);
      break;
    }
    uint32_t implied = 0;
    s += " " + ctx_.name_ref_text(scope, f[3].num, implied);
    if (scope != implied)
      s += " scope " + num(2);
    break;
  }
  case SCON: s += " " + quoted(f[2].str); break;
  case ICON: s += " " + (f[2].enc == Enc::Sleb ? std::to_string(f[2].snum()) : num(2)); break;
  case FCON:
  case LCON: s += " " + word_or_quoted(f[2].str); break;
  case ICALL:
  case UICALL:
  case MCALL:
  case UMCALL: s += " " + quoted(f[2].str); break;
  case FIELD: {
    uint32_t owner = f[4].num;
    s += " " + ctx_.type_ref_text(owner);
    std::string member = "#" + num(3);
    if (const TypeInfo *t = ctx_.type(owner)) {
      auto it = t->members.find(f[3].num);
      if (it != t->members.end() && is_plain_word(it->second) && it->second[0] != '#') {
        size_t same = 0;
        for (const auto &m : t->members)
          same += m.second == it->second;
        if (same == 1)
          member = "." + it->second;
      }
    }
    s += " " + member;
    if (static_cast<int8_t>(f[2].num) != 1)
      s += " flag " + std::to_string(static_cast<int8_t>(f[2].num));
    break;
  }
  case VREG: s += " " + std::to_string(f[2].snum()); break;
  case SKIP:
  case SWITCH:
  case UCALL:
  case EPVAL: s += " " + num(2); break;
  case CALL: s += " " + num(2) + " " + num(3); break;
  case DDNODE: s += " " + num(2) + " " + num(3) + " " + num(4); break;
  default: break;   // the operator carries no fields
  }
  return s;
}

TreeShape Printer::shape(const std::vector<Record> &recs, size_t i) const {
  TreeShape t;
  t.first = i;
  struct Open {
    int node;
    unsigned left;
  };
  std::vector<Open> stack;
  size_t k = i;
  for (; k < recs.size() && recs[k].role == Role::Node; ++k) {
    int n = static_cast<int>(k - i);
    t.kids.push_back({-1, -1});
    t.nkids.push_back(0);
    t.head.push_back(node_head(recs[k]));
    if (!stack.empty()) {
      Open &p = stack.back();
      t.kids[p.node][t.nkids[p.node]++] = n;
      --p.left;
    }
    unsigned operands = node_operands(recs[k].num(0));
    if (operands) {
      stack.push_back({n, operands});
      if (stack.size() > t.depth)
        t.depth = stack.size();
    }
    while (!stack.empty() && stack.back().left == 0)
      stack.pop_back();
    if (stack.empty()) {
      ++k;
      break;
    }
  }
  t.end = k;
  // One-line widths, operands before their parents.
  t.width.assign(t.head.size(), 0);
  for (size_t n = t.head.size(); n-- > 0;) {
    size_t w = t.head[n].size() + 2;
    for (unsigned c = 0; c < t.nkids[n]; ++c)
      w += 1 + t.width[t.kids[n][c]];
    t.width[n] = w;
  }
  return t;
}

std::string Printer::one_line(const std::vector<Record> &, const TreeShape &t, int n) const {
  // The subtree of node n is the run of nodes from n to its last descendant.
  std::string s;
  std::vector<unsigned> left;
  for (size_t k = static_cast<size_t>(n); k < t.head.size(); ++k) {
    if (k != static_cast<size_t>(n))
      s += ' ';
    s += "(" + t.head[k];
    if (!left.empty())
      --left.back();
    if (t.nkids[k]) {
      left.push_back(t.nkids[k]);
      continue;
    }
    s += ')';
    while (!left.empty() && left.back() == 0) {
      left.pop_back();
      s += ')';
    }
    if (left.empty())
      break;
  }
  return s;
}

// The tree of a file's records for the shared source-form printer.
struct RecordTree {
  using Node = int;
  const std::vector<Record> &recs;
  const TreeShape &t;
  const Context &ctx;

  const Record &rec(int n) const { return recs[t.first + static_cast<size_t>(n)]; }
  bool null(int n) const { return n < 0; }
  uint32_t op(int n) const { return rec(n).num(0); }
  int left(int n) const { return t.nkids[n] > 0 ? t.kids[n][0] : -1; }
  int right(int n) const { return t.nkids[n] > 1 ? t.kids[n][1] : -1; }
  std::string callee(int n) const { return rec(n).fields.size() > 2 ? rec(n).fields[2].str : ""; }
  std::string cast_type(int n) const { return ctx.type_ref_text(rec(n).num(1)); }
  bool is_unit(int n) const { return op(n) == ICON && rec(n).num(2) == 1; }

  bool leaf_text(int n, std::string &out) const {
    const Record &r = rec(n);
    if (r.fields.size() < 3)
      return false;
    const Field &f = r.fields[2];
    switch (r.num(0)) {
    case NAME: {
      if (f.num == RawSymRef::kNone) {
        out = "<nosym>";
        return true;
      }
      uint32_t implied = 0;
      std::string label = ctx.name_ref_text(f.num, r.num(3), implied);
      out = label.size() > 1 && label[1] == '#' ? label : label_name(label);
      return true;
    }
    case ICON: out = f.enc == Enc::Sleb ? std::to_string(f.snum()) : std::to_string(f.num); return true;
    case LCON: out = f.str; return true;
    case FCON: {
      const TypeInfo *ti = ctx.type(r.num(1));
      XPrecision p = xprec_for_size(ti && ti->size ? ti->size : 64);
      std::optional<XFLOAT> v = XFLOAT::parse(f.str.c_str(), p);
      out = v ? float_c_form(*v, p) : f.str;
      return true;
    }
    case SCON: out = c_string_literal(f.str.data(), static_cast<uint32_t>(f.str.size())); return true;
    case LABEL: out = "L" + std::to_string(f.num); return true;
    case FIELD: {
      const TypeInfo *ti = ctx.type(r.num(4));
      auto it = ti ? ti->members.find(r.num(3)) : std::map<uint32_t, std::string>::const_iterator();
      out = ti && it != ti->members.end() ? it->second : "field#" + std::to_string(r.num(3));
      return true;
    }
    default: return false;   // not a leaf with a payload of its own
    }
  }
};

std::string Printer::source_form(const std::vector<Record> &recs, const TreeShape &t) const {
  // A single node says all in its s-expression.
  if (t.depth > kSourceFormDepth || t.head.size() < 2)
    return "";
  std::string s;
  RecordTree view{recs, t, ctx_};
  SourceForm<RecordTree>(view, s).expr(0, 0);
  return s;
}

size_t Printer::tree(const std::vector<Record> &recs, size_t i, size_t indent,
                     const std::string &prefix, const std::string &comment) {
  if (i >= recs.size() || recs[i].role != Role::Node) {
    if (!prefix.empty())
      emit(indent, prefix, comment);
    return i;
  }
  TreeShape t = shape(recs, i);
  std::string note = comment.empty() ? source_form(recs, t) : comment;
  size_t lead = indent + prefix.size() + (prefix.empty() ? 0 : 1);
  if (lead + t.width[0] <= kWidth) {
    emit(indent, prefix + (prefix.empty() ? "" : " ") + one_line(recs, t, 0), note);
    return t.end;
  }
  if (!prefix.empty()) {
    emit(indent, prefix, note);
    tree_lines(recs, t, indent + 2);
  } else {
    tree_lines(recs, t, indent);
  }
  return t.end;
}

// A tree one operand per line where the one-line form does not fit.
void Printer::tree_lines(const std::vector<Record> &recs, const TreeShape &t, size_t indent) {
  struct Frame {
    int node;
    size_t indent;
    unsigned next;
    bool open;
  };
  std::string line(indent, ' ');
  std::vector<Frame> stack{{0, indent, 0, false}};
  while (!stack.empty()) {
    Frame &f = stack.back();
    if (!f.open) {
      if (t.nkids[f.node] == 0 || line.size() + t.width[f.node] <= kWidth) {
        line += one_line(recs, t, f.node);
        stack.pop_back();
        continue;
      }
      line += "(" + t.head[f.node];
      f.open = true;
    }
    if (f.next < t.nkids[f.node]) {
      int kid = t.kids[f.node][f.next++];
      out_ += line + "\n";
      size_t in = std::min(f.indent + 2, kMaxIndent);
      line.assign(in, ' ');
      stack.push_back({kid, in, 0, false});
      continue;
    }
    line += ')';
    stack.pop_back();
  }
  out_ += line + "\n";
}

std::string Printer::run() {
  header();
  if (!l_.have_header || !l_.header_problem.empty())
    return out_;
  for (Section s : {SEC_OPTIONS, SEC_FILES, SEC_TYPES, SEC_GLOBALS, SEC_INITS}) {
    const Region &reg = l_.sections[s];
    if (!reg.present)
      continue;
    out_ += '\n';
    emit(0, std::string("section ") + section_name(s), "at " + hex(reg.offset));
    region(reg, 2);
  }
  out_ += '\n';
  emit(0, "stream");
  region(l_.stream, 0);
  return out_;
}

} // namespace

std::string print_listing(const Listing &listing, const PrintOptions &opt) {
  build_interchange_table();
  return Printer(listing, opt).run();
}

} // namespace zor::text
