// ir/node.cpp - expression-tree nodes: creation, payload, copy and erase.
#include "ir/node.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "ir/funinfo.h"
#include "ir/node_info.h"
#include "ir/symtab.h"
#include "ir/type.h"

namespace zor {

// ---------------------------------------------------------------- run state

bool isp2char_enabled = false;

namespace {

using u128 = unsigned __int128;

FILE *no_debug_stream() { return nullptr; }

void default_terminate() {
  std::fputs("\n>>>> Optimizer terminated abnormally\n", stderr);
  std::exit(1);
}

void mark_contains_calls() {
  if (currfuninfo)
    currfuninfo->no_calls = false;
}

void mark_function(uint32_t bits) {
  if (currfuninfo)
    currfuninfo->flags |= bits;
}

// Integral type that stands for `t` in integer-constant questions.
const TYPE *int_view(const TYPE *t) {
  const TYPE *r = t->getr();
  if (r->kind == TK_ENUM && r->base)
    r = r->base->getr();
  return r;
}

// PCONV to a pointer whose target is char or unsigned char, in a package
// where char and short have the same size.
bool is_char_pointer_conversion(const TYPE *t) {
  const TYPE *r = t->getr();
  if (r->kind != TK_POINTER || !r->base || !r->pkg)
    return false;
  if (r->pkg->mk_int(IK_CHAR)->size != r->pkg->mk_int(IK_SHORT)->size)
    return false;
  const TYPE *to = r->base->getr();
  return to->kind == TK_INTEGRAL && (to->subkind == IK_CHAR || to->subkind == IK_UCHAR);
}

XPrecision fcon_precision(const TYPE *t) {
  return xprec_for_size(t ? t->getr()->size : 64);
}

} // namespace

FILE *(*ir_debug_stream)() = no_debug_stream;
void (*ir_terminate)() = default_terminate;

void ir_internal_error() {
  if (ir_terminate)
    ir_terminate();
  std::abort();
}

// ---------------------------------------------------------- integer constant

std::string IntConst::to_decimal(bool as_unsigned) const {
  u128 mag;
  bool negative = false;
  if (as_unsigned) {
    mag = static_cast<u128>(to_i128()) & ((u128(1) << 96) - 1);
  } else {
    __int128 s = to_i128();
    negative = s < 0;
    mag = negative ? u128(0) - static_cast<u128>(s) : static_cast<u128>(s);
  }
  char buf[48];
  char *p = buf + sizeof buf;
  *--p = '\0';
  do {
    *--p = static_cast<char>('0' + static_cast<int>(mag % 10));
    mag /= 10;
  } while (mag);
  if (negative)
    *--p = '-';
  return p;
}

uint32_t int_width_of(const TYPE *t) {
  if (!t)
    return 64;
  uint32_t size = int_view(t)->size;
  return size ? size : 64;
}

bool int_type_is_signed(const TYPE *t) {
  if (!t)
    return true;
  const TYPE *r = int_view(t);
  return r->kind != TK_POINTER && r->is_signed();
}

IntConst fit_int(__int128 v, uint32_t width, bool is_signed) {
  if (width == 0 || width >= 96)
    return IntConst::from_i128(v);
  u128 mask = (u128(1) << width) - 1;
  u128 u = static_cast<u128>(v) & mask;
  if (is_signed && ((u >> (width - 1)) & 1))
    u |= ~mask;
  return IntConst::from_i128(static_cast<__int128>(u));
}

// ----------------------------------------------------------------------- NODE

NODE::NODE(uint32_t o, TYPE *t) : op(o), type(t) {
  if (op == UCALL)
    mark_contains_calls();
  else if (op == SCONV && type && type->is_enum())
    type = type->underlying_type()->normalized();
  else if (op == PCONV && type && isp2char_enabled && is_char_pointer_conversion(type))
    op = ISP2CHAR;
  creation_type = type;
}

NODE::~NODE() {
  release_payload();
  std::free(text_);
  delete pragma;
  delete list;
  delete dval;
}

void NODE::release_payload() {
  if (kind_ == PAY_FLOAT)
    delete u_.fval;
  else if (kind_ == PAY_TEXT)
    std::free(u_.callee);
  u_.rval = nullptr;
  kind_ = PAY_NONE;
}

void NODE::set_text(const char *bytes, uint32_t length) {
  std::free(text_);
  text_ = static_cast<char *>(std::malloc(length + 1u));
  if (length)
    std::memcpy(text_, bytes, length);
  text_[length] = '\0';
  text_len_ = length;
}

void NODE::set_sym(SYMTAB *s) {
  release_payload();
  u_.sym = s;
  kind_ = PAY_SYMBOL;
}

void NODE::set_fval(const XFLOAT &v) {
  release_payload();
  u_.fval = new XFLOAT(v);
  kind_ = PAY_FLOAT;
  std::free(text_);
  text_ = nullptr;
  text_len_ = 0;
}

void NODE::set_rval(void *p) {
  release_payload();
  u_.rval = p;
  kind_ = p ? PAY_OTHER : PAY_NONE;
}

unsigned NODE::arity() const { return op_arity(op); }

void NODE::set_operand(int i, BASE_NODE *child) {
  // The optimizer's factory makes only NODEs.
  NODE *c = static_cast<NODE *>(child);
  if (i == 0)
    left = c;
  else
    right = c;
}

I_SYMTAB *NODE::name_symbol() const { return sym(); }

std::string NODE::lcon_text() const { return icon.to_decimal(!has_signed_type()); }

const char *NODE::fcon_text() {
  if (!text_) {
    std::string s = (fval() ? *fval() : XFLOAT::zero()).hex_text();
    set_text(s.data(), static_cast<uint32_t>(s.size()));
  }
  return text_;
}

void NODE::set_name_symbol(I_SYMTAB *s) {
  SYMTAB *symbol = nullptr;
  if (s) {
    symbol = dynamic_cast<SYMTAB *>(s);
    if (!symbol)
      ir_internal_error();
  }
  set_sym(symbol);
  if (symbol && (symbol->flags() & SF_CREGISTER))
    mark_function(FI_HAS_CREGISTER);
}

void NODE::set_field(int flag, const MEMBER *m, TYPE *stype) {
  if (flag != 1)
    ir_internal_error();
  member = m;
  release_payload();
  u_.stype = stype;
  kind_ = PAY_TYPE;
  if (type)
    type = type->normalized();
  if (m && m->flag)
    mark_function(FI_FIELD_FLAGGED);
}

void NODE::set_icon(uint32_t value) {
  icon = has_signed_type() ? IntConst::from_signed(static_cast<int32_t>(value))
                           : IntConst::from_unsigned(value);
}

void NODE::set_lcon_text(const char *text) {
  const char *s = text ? text : "";
  bool negative = *s == '-';
  if (negative)
    ++s;
  u128 v = 0;   // wraps past 128 bits; only the low bits survive the fit
  for (; std::isdigit(static_cast<unsigned char>(*s)); ++s)
    v = v * 10 + static_cast<unsigned>(*s - '0');
  if (negative)
    v = u128(0) - v;
  icon = fit_int_to_type(static_cast<__int128>(v), type);
  op = ICON;
}

void NODE::set_fcon_text(const char *text) {
  // Text that is no floating number reads as +0; the reader checks FCON
  // texts with XFLOAT::parse before it hands them over.
  std::optional<XFLOAT> v = XFLOAT::parse(text, fcon_precision(type));
  set_fval(v ? *v : XFLOAT::zero());
}

void NODE::set_scon(const char *bytes, uint32_t length) {
  if (!bytes)
    length = 0;
  set_text(bytes, length);
  icon = IntConst::from_unsigned(length);
}

void NODE::set_skip_number(uint32_t number) {
  icon = IntConst::from_signed(static_cast<int32_t>(number));
}

void NODE::set_switch_number(uint32_t number) {
  icon = IntConst::from_signed(static_cast<int32_t>(number));
}

void NODE::set_call(uint32_t first, uint32_t word) {
  icon = IntConst::from_unsigned(first);
  call = word;
  mark_contains_calls();
}

void NODE::set_ucall(uint32_t word) {
  call = word;
  mark_contains_calls();
}

void NODE::set_callee_name(const char *name) {
  if (!name)
    name = "";
  size_t n = std::strlen(name) + 1;
  char *copy = static_cast<char *>(std::malloc(n));
  std::memcpy(copy, name, n);
  release_payload();
  u_.callee = copy;
  kind_ = PAY_TEXT;
}

// ----------------------------------------------------------- tree operations

NODE *new_node(uint32_t op, TYPE *type) { return new NODE(op, type); }

NODE *make_node(uint32_t op, NODE *left, NODE *right, TYPE *type, uintptr_t annotation) {
  if ((op == ACONV || op == SCONV || op == PCONV) && type)
    type = type->getr();
  NODE *n = new NODE(op, type);
  n->left = left;
  n->right = right;
  n->annotation = annotation;
  return n;
}

NODE *copy_node(const NODE *n, bool keep_annotation, bool deep) {
  if (!n)
    return nullptr;
  NODE *c = new NODE(n->op, n->type);
  c->op = n->op;   // exactly as the original, without creation adjustments
  c->type = n->type;
  c->left = n->left;
  c->right = n->right;
  c->icon = n->icon;
  c->member = n->member;
  for (int i = 0; i < 5; ++i)
    c->pass_data[i] = n->pass_data[i];
  c->annotation = keep_annotation ? n->annotation : 0;
  c->creation_type = n->creation_type;
  c->epval = n->epval;
  c->pass_value = n->pass_value;
  c->label = n->label;
  c->pragma = n->pragma ? n->pragma->clone_one() : nullptr;
  c->pass_extra = n->pass_extra;
  c->pass_short = n->pass_short;
  c->flags = n->flags;
  c->call = n->call;
  c->pass_last = n->pass_last;

  switch (n->kind_) {
  case NODE::PAY_FLOAT:
    c->set_fval(*n->u_.fval);
    break;
  case NODE::PAY_TEXT:
    c->set_callee_name(n->u_.callee);
    break;
  case NODE::PAY_NONE:
  case NODE::PAY_SYMBOL:
  case NODE::PAY_TYPE:
  case NODE::PAY_OTHER:
    c->u_.rval = n->u_.rval;
    c->kind_ = n->kind_;
    break;
  }
  // An FCON's text is only a cache of its value; SCON bytes are copied.
  if (n->text_ && n->op != FCON && n->kind_ != NODE::PAY_FLOAT)
    c->set_text(n->text_, n->text_len_);

  // The operands of a CSE_DUPE are references into another tree, so even a
  // deep copy refers to the same ones.
  if (deep && n->op != CSE_DUPE) {
    c->left = copy_node(n->left, keep_annotation, true);
    c->right = copy_node(n->right, keep_annotation, true);
  }
  return c;
}

namespace {

[[noreturn]] void report_double_erase(const NODE *n) {
  static const char kFormat[] = "\n\n!!! COMPILER (OPTIMIZER) ERROR IN 'erase_node' %p !!!\n\n";
  std::fprintf(stderr, kFormat, static_cast<const void *>(n));
  std::fflush(stderr);
  if (FILE *dbg = ir_debug_stream ? ir_debug_stream() : nullptr) {
    std::fprintf(dbg, kFormat, static_cast<const void *>(n));
    std::fflush(dbg);
  }
  ir_internal_error();
}

} // namespace

void erase_tree(NODE *n) {
  // Iterates down the first operands (long comma and statement chains) and
  // recurses only into second operands.
  while (n) {
    if (n->op == ILLOP)
      report_double_erase(n);
    if (n->op == CSE_DUPE) {
      n->left = nullptr;
      n->right = nullptr;
    }
    erase_tree(n->right);
    if (n->dval) {
      erase_tree(n->dval->tree);
      n->dval->tree = nullptr;
    }
    NODE *next = n->left;
    n->op = ILLOP;
    delete n->list;
    n->list = nullptr;
    delete n->dval;
    n->dval = nullptr;
    delete n;
    n = next;
  }
}

} // namespace zor
