// ir/tree_print.cpp - source and dump forms of expression trees.
//
// Operator spellings, mnemonics and precedences come from if_node_info
// (ir/node_info.h); this file only decides the shape each operator prints in.
#include "ir/tree_print.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "icode/position.h"
#include "ir/node.h"
#include "ir/node_info.h"
#include "ir/source_form.h"
#include "ir/symtab.h"
#include "ir/type.h"

namespace zor {
namespace {

struct PragmaName {
  uint8_t kind;
  const char *head;
};

constexpr PragmaName kPragmaNames[] = {
    {34, "#pragma DATA_MEM_BANK("},
    {36, "#pragma OPT_OVERRIDE("},
    {37, "#pragma UNROLL("},
    {38, "// LOOP BELOW UNROLLED BY FACTOR("},
    {39, "#pragma MUST_ITERATE("},
    {40, "#pragma PROB_ITERATE("},
    {41, "#pragma SRC_LOOP("},
    {42, "#pragma ALIAS_ADVICE("},
    {43, "#pragma ALIGN_ADVICE("},
    {56, "#pragma TRIP_CNTR_MUNGED("},
    {57, "#pragma LOOP_FLAGS("},
    {63, "#pragma CONSTRAINT_FLAGS("},
    {64, "#pragma II_ESTIMATES("},
    {65, "#pragma UNIT_RESOURCES("},
    {66, "#pragma SOFTWARE PIPELINE CONSTRAINTS("},
    {67, "#pragma READ/WRITE REQUIREMENTS("},
    {68, "#pragma NO_ALIAS_CLONE("},
    {69, "#pragma COMDAT("},
    {70, "#pragma DEFAULT_NEVER_EXECUTED("},
    {80, "#pragma LOOP_NO_ALIAS("},
    {112, "#pragma PARALLEL_LOOP("},
};

constexpr const char *kIntNames[IK_COUNT] = {
    "bool", "char", "unsigned char", "wchar_t", "short", "unsigned short",
    "int", "unsigned", "long", "unsigned long", "long long", "unsigned long long",
};

constexpr const char *kFloatNames[FK_COUNT] = {"float", "double", "long double"};

constexpr const char *kQualifierNames[] = {
    "const", "volatile", "packed", "near", "far", "ioport", "restrict", "onchip",
};

std::string quoted(const char *bytes, uint32_t length) {
  std::string r = "\"";
  for (uint32_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    switch (c) {
    case '\n': r += "\\n"; break;
    case '\t': r += "\\t"; break;
    case '\r': r += "\\r"; break;
    case '"': r += "\\\""; break;
    case '\\': r += "\\\\"; break;
    default:
      if (c < 0x20 || c >= 0x7F) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\%03o", c);
        r += buf;
      } else {
        r += static_cast<char>(c);
      }
    }
  }
  return r + "\"";
}

// The shortest decimal text that reads back as the same value at the
// constant's precision; hexadecimal for the full extended precision.
std::string float_c_text(const XFLOAT &v, XPrecision p) {
  if (v.is_nan())
    return v.neg ? "-nan" : "nan";
  if (v.is_inf())
    return v.neg ? "-inf" : "inf";
  if (p == XPREC_EXTENDED)
    return v.hex_text();
  double d = v.to_double();
  char buf[64];
  for (int digits = 1; digits <= 17; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, d);
    bool same = p == XPREC_SINGLE ? std::strtof(buf, nullptr) == static_cast<float>(d)
                                  : std::strtod(buf, nullptr) == d;
    if (same)
      break;
  }
  std::string r = buf;
  if (r.find_first_of(".e") == std::string::npos)
    r += ".0";
  return r;
}

std::string icon_text(const NODE *n) { return n->icon.to_decimal(!n->has_signed_type()); }

std::string fcon_text_of(const NODE *n) {
  const XFLOAT *v = n->fval();
  return float_c_text(v ? *v : XFLOAT::zero(),
                      xprec_for_size(n->type ? n->type->getr()->size : 64));
}

std::string field_text(const NODE *n) {
  if (n->member && !n->member->name.empty())
    return n->member->name;
  return "field#" + std::to_string(n->member ? n->member->id : 0);
}

std::string symbol_text(const NODE *n) {
  SYMTAB *s = n->sym();
  return s ? s->name_text : "<nosym>";
}

std::string label_text(const NODE *n) { return "L" + std::to_string(n->label_number()); }

// ---------------------------------------------------------------- source form

// NODE trees for the shared source-form printer (ir/source_form.h).
struct NodeTree {
  using Node = const NODE *;
  const PrintOptions &opt;

  bool null(Node n) const { return !n; }
  uint32_t op(Node n) const { return n->op; }
  Node left(Node n) const { return n->left; }
  Node right(Node n) const { return n->right; }
  std::string callee(Node n) const { return n->callee() ? n->callee() : "<callee>"; }
  std::string cast_type(Node n) const { return type_text(n->type); }
  bool is_unit(Node n) const { return n->op == ICON && n->icon == IntConst::from_signed(1); }

  std::string typed(Node n) const { return opt.types ? "{" + type_text(n->type) + "}" : ""; }

  bool leaf_text(Node n, std::string &out) const {
    switch (n->op) {
    case NAME: out = symbol_text(n) + typed(n); return true;
    case ICON:
    case LCON: out = icon_text(n) + typed(n); return true;
    case FCON: out = fcon_text_of(n) + typed(n); return true;
    case SCON: out = quoted(n->text() ? n->text() : "", n->text() ? n->text_length() : 0); return true;
    case LABEL: out = label_text(n); return true;
    case LABELDEF: out = label_text(n) + ":"; return true;
    case ASM: out = "asm " + quoted(n->text() ? n->text() : "", n->text() ? n->text_length() : 0); return true;
    case FIELD: out = field_text(n); return true;
    case PPRAGMA: out = n->pragma ? pragma_text(*n->pragma) : "#pragma"; return true;
    default: return false;   // not a leaf with a payload of its own
    }
  }
};

// ------------------------------------------------------------------ dump form

std::string type_code(const TYPE *t) {
  if (!t)
    return "-";
  const TYPE *r = t->getr();
  std::string size = std::to_string(r->size);
  switch (r->kind) {
  case TK_VOID: return "v";
  case TK_INTEGRAL: return (r->is_signed() ? "i" : "u") + size;
  case TK_FLOATING: return "f" + size;
  case TK_FIXED: return "x" + size;
  case TK_COMPLEX: return "c" + size;
  case TK_POINTER: return "p" + size;
  case TK_REFERENCE: return "r" + size;
  case TK_ARRAY: return "a" + size;
  case TK_PTR_TO_MEMBER: return "m" + size;
  case TK_FUNCTION: return "fn";
  case TK_ENUM: return "e" + size;
  case TK_CLASS:
  case TK_STRUCT:
  case TK_UNION: return "s" + size;
  case TK_QUALIFIED:
  case TK_TYPEDEF: break;   // resolved away above
  }
  return "k" + std::to_string(r->kind) + ":" + size;
}

std::string dump_payload(const NODE *n) {
  switch (n->op) {
  case NAME: return symbol_text(n);
  case ICON:
  case LCON: return icon_text(n);
  case FCON: {
    const XFLOAT *v = n->fval();
    return (v ? *v : XFLOAT::zero()).hex_text();
  }
  case SCON: return quoted(n->text() ? n->text() : "", n->text() ? n->text_length() : 0);
  case LABEL:
  case LABELDEF: return label_text(n);
  case ASM: return quoted(n->text() ? n->text() : "", n->text() ? n->text_length() : 0);
  case FIELD: return field_text(n);
  case SWITCH:
  case SKIP: return "#" + std::to_string(static_cast<int32_t>(n->icon.low32()));
  case CALL: return "#" + std::to_string(n->call_first()) + "," + std::to_string(n->call);
  case UCALL: return "#" + std::to_string(n->call);
  case ICALL:
  case UICALL:
  case MCALL:
  case UMCALL: return n->callee() ? n->callee() : "";
  case EPVAL: return "[" + std::to_string(n->epval) + "]";
  case DDNODE: return "dd" + std::to_string(n->ddnode_index());
  case PPRAGMA: return n->pragma ? pragma_text(*n->pragma) : "";
  default: return "";   // the operator carries no payload
  }
}

void dump(const NODE *n, unsigned depth, std::string &out) {
  out.append(2 * depth, ' ');
  out += op_mnemonic(n->op);
  out += ' ';
  out += type_code(n->type);
  std::string payload = dump_payload(n);
  if (!payload.empty())
    out += ' ' + payload;
  out += '\n';
  if (n->left)
    dump(n->left, depth + 1, out);
  if (n->right)
    dump(n->right, depth + 1, out);
}

} // namespace

std::string tree_source(const NODE *n, const PrintOptions &opt) {
  std::string out;
  NodeTree tree{opt};
  SourceForm<NodeTree>(tree, out).expr(n, 0);
  return out;
}

void print_tree_source(FILE *f, const NODE *n, const PrintOptions &opt) {
  std::fputs(tree_source(n, opt).c_str(), f);
}

std::string tree_dump(const NODE *n) {
  std::string out;
  if (n)
    dump(n, 0, out);
  return out;
}

void print_tree_dump(FILE *f, const NODE *n) { std::fputs(tree_dump(n).c_str(), f); }

std::string c_string_literal(const char *bytes, uint32_t length) { return quoted(bytes, length); }

std::string float_c_form(const XFLOAT &v, XPrecision p) { return float_c_text(v, p); }

std::string pragma_head(uint8_t kind) {
  for (const PragmaName &p : kPragmaNames)
    if (p.kind == kind)
      return p.head;
  char buf[32];
  std::snprintf(buf, sizeof buf, "#pragma[%d] (", kind);
  return buf;
}

std::string pragma_text(const PragmaRecord &rec) {
  std::string r = pragma_head(rec.kind);
  for (size_t i = 0; i < rec.args.size(); ++i) {
    if (i)
      r += ", ";
    r += rec.args[i];
  }
  return r + ")";
}

std::string type_text(const TYPE *t) {
  if (!t)
    return "?";
  switch (t->kind) {
  case TK_VOID: return "void";
  case TK_INTEGRAL: return t->subkind < IK_COUNT ? kIntNames[t->subkind] : "int?";
  case TK_FLOATING: return t->subkind < FK_COUNT ? kFloatNames[t->subkind] : "float?";
  case TK_POINTER: return type_text(t->base) + " *";
  case TK_REFERENCE: return type_text(t->base) + " &";
  case TK_ARRAY: return type_text(t->base) + " []";
  case TK_TYPEDEF: return t->name_text.empty() ? type_text(t->base) : t->name_text;
  case TK_QUALIFIED: {
    std::string r;
    for (unsigned i = 0; i < 8; ++i)
      if (t->qualifiers & (1u << i))
        r += std::string(kQualifierNames[i]) + " ";
    return r + type_text(t->base);
  }
  case TK_ENUM: return "enum " + t->name_text;
  case TK_STRUCT: return "struct " + t->name_text;
  case TK_UNION: return "union " + t->name_text;
  case TK_CLASS: return "class " + t->name_text;
  case TK_FIXED:
  case TK_COMPLEX:
  case TK_PTR_TO_MEMBER:
  case TK_FUNCTION: break;   // printed by kind and size below
  }
  return "type" + std::to_string(t->kind) + ":" + std::to_string(t->size);
}

} // namespace zor
