// tools/zrun/load.cpp - loading a program: memory layout and compilation of
// the statement trees into CNodes (see interp.h).
//
// Everything that can be decided once is decided here: where each variable
// lives, which evaluator case each node takes, the label of every jump, the
// callee of every direct call.  A tree the interpreter cannot run becomes an
// X_ERR node, so that the error is reported only if the program reaches it.
#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "ir/node_info.h"
#include "ir/opcodes.h"
#include "ir/tree_print.h"
#include "tools/zrun/interp.h"
#include "tools/zrun/xops.h"

namespace zor::run {

namespace {

uint32_t units_of(uint64_t bits) { return static_cast<uint32_t>((bits + 15) / 16); }

std::string spell(uint32_t op) {
  const char *name = op < kNumOps ? op_name(op) : nullptr;
  return name ? name : "op" + std::to_string(op);
}

// The items of a list: the item itself, or a left-leaning COMMA chain.
void flatten(NODE *n, std::vector<NODE *> &out) {
  if (!n)
    return;
  if (n->op == COMMA) {
    flatten(n->left, out);
    flatten(n->right, out);
    return;
  }
  out.push_back(n);
}

bool same_layout(const Layout &a, const Layout &b) {
  if (a.cls != b.cls)
    return false;
  if (a.cls == VC_INT)
    return a.width == b.width && a.sgn == b.sgn && a.boolean == b.boolean;
  if (a.cls == VC_FLOAT)
    return a.single == b.single;
  return true;
}

// The address of a variable (plus a member offset): no check needed.
bool is_static_address(const CNode *c) { return (c->x == X_GADDR || c->x == X_FADDR) && !c->chk; }

} // namespace

Layout layout_of(const TYPE *t) {
  Layout l;
  if (!t)
    return l;
  const TYPE *r = t->getr();
  switch (r->kind) {
  case TK_VOID:
    l.cls = VC_VOID;
    l.units = 0;
    return l;
  case TK_ENUM:
  case TK_FIXED:
    if (r->base)
      return layout_of(r->base);
    break;
  case TK_INTEGRAL:
    l.width = static_cast<uint8_t>(std::clamp<uint32_t>(r->size ? r->size : 64, 1, 64));
    l.sgn = r->is_signed();
    l.boolean = r->subkind == IK_BOOL;
    l.units = units_of(l.width);
    return l;
  case TK_POINTER:
  case TK_REFERENCE:
  case TK_FUNCTION:
    l.width = 16;
    l.sgn = false;
    l.ptr = true;
    l.units = 1;
    return l;
  case TK_PTR_TO_MEMBER:
    l.width = static_cast<uint8_t>(std::clamp<uint32_t>(r->size ? r->size : 16, 1, 64));
    l.sgn = false;
    l.units = units_of(l.width);
    return l;
  case TK_FLOATING:
    l.cls = VC_FLOAT;
    l.single = r->size <= 32;
    l.units = l.single ? 2 : 4;
    return l;
  default:
    break;
  }
  l.cls = VC_AGG;
  l.units = units_of(r->size);
  return l;
}

// --------------------------------------------------------------- compiler

struct Compiler {
  Interpreter &in;
  Function *fn = nullptr;   // null while compiling initializers
  std::unordered_map<const SYMTAB *, VarSlot> vars;

  explicit Compiler(Interpreter &i) : in(i) {}

  CNode *make(uint16_t x, const NODE *t, const Layout &l) {
    CNode &c = in.nodes_.emplace_back();
    c.x = x;
    c.op = t ? static_cast<uint16_t>(t->op) : 0;
    c.l = l;
    c.tree = t;
    return &c;
  }

  CallSite *site() { return &in.callsites_.emplace_back(); }

  CNode *err(const NODE *t, const std::string &message) {
    CNode *c = make(X_ERR, t, t ? layout_of(t->type) : Layout{});
    c->call = site();
    c->call->name = message;
    return c;
  }

  CNode *unsupported(const NODE *t) {
    return err(t, "operator " + spell(t->op) + " is not supported");
  }

  // Scratch storage for an aggregate value made by node c: in the frame, or
  // in the globals while compiling initializers.
  void give_scratch(CNode *c, uint32_t units) {
    units = std::max<uint32_t>(units, 1);
    if (!fn) {
      c->at = in.allocate(units, SH_OBJECT | SH_INIT);
      c->at_global = true;
      return;
    }
    c->at = frame_alloc(units);
  }

  uint32_t frame_alloc(uint32_t units) {
    uint32_t at = fn->frame_units;
    fn->frame_units += units + 1;   // a unit of no object after each
    fn->frame_shadow.resize(fn->frame_units, 0);
    std::fill(fn->frame_shadow.begin() + at, fn->frame_shadow.begin() + at + units, SH_OBJECT);
    return at;
  }

  // ---- variables

  const VarSlot *variable(const SYMTAB *s) {
    auto it = vars.find(s);
    return it == vars.end() ? nullptr : &it->second;
  }

  // The address of a global, static or function symbol (0 when it has no
  // storage).
  uint32_t global_address(const SYMTAB *s) {
    auto g = in.global_addr_.find(s);
    if (g != in.global_addr_.end())
      return g->second;
    auto n = in.global_by_name_.find(s->name_text);
    if (n != in.global_by_name_.end())
      return in.global_addr_[n->second];
    return 0;
  }

  CNode *variable_address(const NODE *t, const SYMTAB *s) {
    if (const VarSlot *v = variable(s)) {
      if (v->reg)
        return err(t, "the address of register variable '" + s->name_text + "'");
      CNode *c = make(X_FADDR, t, layout_of(nullptr));
      c->l = Layout{VC_INT, 16, false, true, false, false, 1};
      c->k = v->where;
      c->chk = false;
      return c;
    }
    uint32_t at = global_address(s);
    if (!at)
      return err(t, "no storage for '" + s->name_text + "'");
    CNode *c = make(X_GADDR, t, Layout{VC_INT, 16, false, true, false, false, 1});
    c->k = at;
    c->chk = false;
    return c;
  }

  // ---- conversions

  CNode *convert(CNode *x, const Layout &to, const NODE *t) {
    const Layout &from = x->l;
    if (to.cls == VC_VOID)
      return x;
    if (same_layout(from, to) && !(to.cls == VC_INT && to.ptr != from.ptr && !to.ptr))
      return x;
    // A constant is converted now, as any code generator would.
    if (x->x == X_ICONST && to.cls == VC_INT) {
      CNode *c = make(X_ICONST, t, to);
      c->k = to.boolean ? (x->k != 0) : wrap(x->k, to);
      return c;
    }
    if (x->x == X_ICONST && to.cls == VC_FLOAT) {
      CNode *c = make(XF_CONST, t, to);
      c->f = from.sgn ? static_cast<double>(x->k) : static_cast<double>(static_cast<uint64_t>(x->k));
      if (to.single)
        c->f = from.sgn ? static_cast<double>(static_cast<float>(x->k))
                        : static_cast<double>(static_cast<float>(static_cast<uint64_t>(x->k)));
      return c;
    }
    if (x->x == XF_CONST && to.cls == VC_FLOAT) {
      CNode *c = make(XF_CONST, t, to);
      c->f = to.single ? static_cast<double>(static_cast<float>(x->f)) : x->f;
      return c;
    }
    if (to.cls != VC_INT && to.cls != VC_FLOAT)
      return x;   // aggregates and void keep their value
    if (from.cls == VC_AGG)
      return real_part(x, to, t);
    if (from.cls != VC_INT && from.cls != VC_FLOAT)
      return err(t, "a value of no type used as a number");
    CNode *c;
    if (to.cls == VC_INT) {
      if (from.cls == VC_INT) {
        if (to.ptr && from.ptr)
          return x;
        c = make(to.boolean ? X_TOBOOL : X_WRAP, t, to);
        c->cost = CC_SIMPLE;
      } else {
        c = make(to.boolean ? X_FTRUTH : X_FTOI, t, to);
        c->cost = CC_FLOAT_ADD;
      }
    } else {
      c = make(from.cls == VC_INT ? XF_ITOF : XF_FTOF, t, to);
      if (from.cls == VC_INT)
        c->lv = from;
      c->cost = CC_FLOAT_ADD;
    }
    c->a = x;
    return c;
  }

  // A complex value used as a scalar: its real part, converted.
  CNode *real_part(CNode *x, const Layout &to, const NODE *t) {
    const TYPE *ct = x->tree ? x->tree->type : nullptr;
    if (!ct || !ct->is_complex())
      return err(t, "a structure used as a number");
    Layout part = layout_of(ct->getr()->base);
    CNode *c = make(part.cls == VC_FLOAT ? XF_LOAD : X_LOAD, t, part);
    c->lv = part;
    c->a = x;
    c->loads = 1;
    return convert(c, to, t);
  }

  CNode *truth(NODE *n) {
    CNode *c = expr(n);
    if (c->l.cls == VC_FLOAT) {
      CNode *t = make(X_FTRUTH, n, Layout{VC_INT, 32, true, false, false, false, 2});
      t->a = c;
      t->cost = CC_FLOAT_ADD;
      return t;
    }
    if (c->l.cls != VC_INT)
      return err(n, "a condition that is not a scalar");
    return c;
  }

  // ---- addresses and lvalues

  bool is_designator(const NODE *n) {
    switch (n->op) {
    case NAME: case UMULT: case STDOT: case STREF: case STFIELD: case REAL: case IMAG:
    case VFIELD:
      return true;
    default:
      return false;
    }
  }

  CNode *add_offset(CNode *base, int64_t units, const NODE *t) {
    if (units == 0)
      return base;
    if (is_static_address(base)) {
      CNode *c = make(base->x, t, base->l);
      c->k = base->k + units;
      c->chk = false;
      return c;
    }
    CNode *c = make(X_ADDK, t, Layout{VC_INT, 16, false, true, false, false, 1});
    c->a = base;
    c->k = units;
    return c;
  }

  // The address of an aggregate operand: of its storage when it is a
  // designator, else of the value's scratch storage.
  CNode *aggregate_address(NODE *n) {
    if (is_designator(n))
      return address(n);
    CNode *v = expr(n);
    if (v->l.cls != VC_AGG)
      return err(n, "a member of a value that is not a structure");
    return v;
  }

  const MEMBER *member_of(const NODE *field) {
    if (!field || field->op != FIELD)
      return nullptr;
    return field->member;
  }

  // The address of designator n (a unit address).  For a bit-field, bf
  // receives its position (shift and width) and the address is that of its
  // storage unit.
  CNode *address(NODE *n, uint8_t *bf_shift = nullptr, uint8_t *bf_width = nullptr) {
    switch (n->op) {
    case NAME: {
      SYMTAB *s = n->sym();
      if (!s)
        return err(n, "a name without a symbol");
      return variable_address(n, s);
    }
    case UMULT: {
      CNode *p = expr(n->left);
      if (p->l.cls != VC_INT)
        return err(n, "indirection through a value that is not a pointer");
      return p;
    }
    case ACONV:
    case UAND:
      return err(n, "the address of an address");
    case STDOT:
    case STFIELD:   // a member of a structure value
    case STREF: {
      const MEMBER *m = member_of(n->right);
      if (!m)
        return err(n, "a member selection without its member");
      CNode *base = n->op == STREF ? expr(n->left) : aggregate_address(n->left);
      int64_t off = m->offset;
      if (m->bitfield && bf_shift) {
        uint32_t unit_bits = m->type ? std::max<uint32_t>(16, m->type->getr()->size) : 32;
        if (unit_bits > 64)
          unit_bits = 64;
        int64_t start = off - off % unit_bits;
        *bf_shift = static_cast<uint8_t>(off - start);
        *bf_width = static_cast<uint8_t>(std::min<uint32_t>(m->bitfield, 64));
        off = start;
      }
      return add_offset(base, off / 16, n);
    }
    case REAL:
    case IMAG: {
      CNode *base = aggregate_address(n->left);
      if (n->op == REAL)
        return base;
      Layout part = layout_of(n->type);
      return add_offset(base, part.units, n);
    }
    case VFIELD: {
      CNode *base = aggregate_address(n->left);
      if (!n->right || n->right->op != ICON)
        return err(n, "a vector lane that is not a constant");
      Layout lane = layout_of(n->type);
      return add_offset(base, n->right->icon.value * lane.units, n);
    }
    default:
      break;
    }
    CNode *v = expr(n);
    if (v->l.cls == VC_AGG)
      return v;
    return err(n, "operator " + spell(n->op) + " is not an lvalue");
  }

  // Fills the lvalue fields of assignment-like node c from designator n.
  void lvalue(NODE *n, CNode *c) {
    c->lv = layout_of(n->type);
    if (n->op == NAME && n->sym()) {
      if (const VarSlot *v = variable(n->sym()); v && v->reg) {
        c->reg = true;
        c->slot = v->where;
        c->lv = v->l;
        return;
      }
    }
    uint8_t shift = 0, width = 0;
    c->a = address(n, &shift, &width);
    c->chk = !is_static_address(c->a);
    c->a->hidden = !c->chk;
    if (width) {
      c->bf_shift = shift;
      c->bf_width = width;
      const MEMBER *m = member_of(n->right);
      Layout unit = layout_of(m ? m->type : n->type);
      if (unit.width < 16)
        unit.width = 16;
      c->lv.units = std::max<uint32_t>(1, unit.units);
    }
  }

  // ---- expressions

  static uint16_t int_case(uint32_t op) {
    switch (op) {
    case PLUS: case PLUSASG: case PLUSPLUS: return X_ADD;
    case MINUS: case MINUSASG: case MINMIN: return X_SUB;
    case MULT: case MULTASG: return X_MUL;
    case DIV: case DIVASG: return X_DIV;
    case MOD: case MODASG: return X_MOD;
    case ANDB: case ANDBASG: return X_AND;
    case ORB: case ORBASG: return X_OR;
    case XORB: case XORBASG: return X_XOR;
    case SLL: case SLLASG: return X_SHL;
    case SRL: case SRLASG: return X_SHR;
    default: return X_ERR;
    }
  }

  static uint16_t float_case(uint32_t op) {
    switch (op) {
    case PLUS: case PLUSASG: case PLUSPLUS: return XF_ADD;
    case MINUS: case MINUSASG: case MINMIN: return XF_SUB;
    case MULT: case MULTASG: return XF_MUL;
    case DIV: case DIVASG: return XF_DIV;
    default: return X_ERR;
    }
  }

  static CostClass int_cost(uint16_t x) {
    switch (x) {
    case X_MUL: return CC_INT_MUL;
    case X_DIV: case X_MOD: return CC_INT_DIV;
    default: return CC_SIMPLE;
    }
  }

  static CostClass float_cost(uint16_t x) {
    switch (x) {
    case XF_MUL: case XF_SQR: return CC_FLOAT_MUL;
    case XF_DIV: case XF_RECIP: case XF_SQRT: return CC_FLOAT_DIV;
    default: return CC_FLOAT_ADD;
    }
  }

  bool is_complex(const NODE *n) { return n->type && n->type->is_complex(); }
  bool is_vector(const NODE *n) { return n->type && n->type->is_vector(); }

  CNode *binary(NODE *n, const Layout &L) {
    if (L.cls == VC_AGG) {
      if (is_complex(n))
        return complex_binary(n, L);
      if (is_vector(n))
        return vector_op(n, L);
      return unsupported(n);
    }
    CNode *a = expr(n->left);
    CNode *b = expr(n->right);
    if (L.cls == VC_FLOAT) {
      uint16_t x = float_case(n->op);
      if (x == X_ERR)
        return err(n, "operator " + spell(n->op) + " on floating values");
      CNode *c = make(x, n, L);
      c->a = convert(a, L, n->left);
      c->b = convert(b, L, n->right);
      c->cost = float_cost(x);
      return c;
    }
    if (L.cls != VC_INT)
      return unsupported(n);
    uint16_t x = int_case(n->op);
    if (L.ptr && (x == X_ADD || x == X_SUB))
      x = x == X_ADD ? X_PADD : X_PSUB;
    CNode *c = make(x, n, L);
    c->a = convert(a, L, n->left);
    // The count of a shift keeps its own type.
    c->b = (x == X_SHL || x == X_SHR) ? convert(b, layout_of(n->right->type), n->right)
                                      : convert(b, L, n->right);
    if (c->b->l.cls != VC_INT)
      c->b = convert(c->b, Layout{}, n->right);
    c->cost = int_cost(x);
    return c;
  }

  CNode *compare(NODE *n, const Layout &L) {
    Layout ol = layout_of(n->left->type);
    uint32_t op = n->op;
    CNode *a = expr(n->left);
    CNode *b = expr(n->right);
    if (ol.cls == VC_AGG && is_complex(n->left) && (op == EQ || op == NEQ || op == FEQ ||
                                                     op == FNEQ || op == FNEQN)) {
      CNode *c = make(X_CCMP, n, L);
      c->a = a;
      c->b = convert(b, ol, n->right);
      c->k = (op == EQ || op == FEQ) ? 1 : 0;
      c->lv = layout_of(n->left->type->getr()->base);
      c->cost = CC_FLOAT_ADD;
      return c;
    }
    if (is_float_compare(op) || ol.cls == VC_FLOAT || b->l.cls == VC_FLOAT) {
      if (ol.cls != VC_FLOAT)
        ol = b->l.cls == VC_FLOAT ? b->l : Layout{VC_FLOAT, 64, true, false, false, false, 4};
      uint32_t bits = float_op_to_micro_ops(op);
      if (!is_float_compare(op)) {
        switch (op) {
        case EQ: bits = FO_EQUAL; break;
        case NEQ: bits = FO_LESS | FO_GREATER | FO_UNORDERED; break;
        case LE: case ULE: bits = FO_EQUAL | FO_LESS; break;
        case LT: case ULT: bits = FO_LESS; break;
        case GE: case UGE: bits = FO_EQUAL | FO_GREATER; break;
        case GT: case UGT: bits = FO_GREATER; break;
        default: break;
        }
      }
      CNode *c = make(X_FCMP, n, L);
      c->a = convert(a, ol, n->left);
      c->b = convert(b, ol, n->right);
      c->k = bits;
      c->cost = CC_FLOAT_ADD;
      return c;
    }
    if (ol.cls != VC_INT || b->l.cls != VC_INT)
      return err(n, "a comparison of values that are not scalars");
    uint16_t x = X_EQ;
    bool s = ol.sgn;
    switch (op) {
    case EQ: x = X_EQ; break;
    case NEQ: x = X_NE; break;
    case LT: x = s ? X_LT_S : X_LT_U; break;
    case LE: x = s ? X_LE_S : X_LE_U; break;
    case GT: x = s ? X_GT_S : X_GT_U; break;
    case GE: x = s ? X_GE_S : X_GE_U; break;
    case ULT: x = X_LT_U; break;
    case ULE: x = X_LE_U; break;
    case UGT: x = X_GT_U; break;
    case UGE: x = X_GE_U; break;
    default: break;
    }
    CNode *c = make(x, n, L);
    c->a = convert(a, ol, n->left);
    c->b = convert(b, ol, n->right);
    if (ol.ptr) {
      // Comparing a pointer uses it: it must have been initialized.
      for (CNode **operand : {&c->a, &c->b}) {
        CNode *p = make(X_PCHK, n, ol);
        p->a = *operand;
        p->hidden = true;
        *operand = p;
      }
    }
    c->k = ol.width >= 64 ? -1 : static_cast<int64_t>((uint64_t{1} << ol.width) - 1);
    c->cost = CC_SIMPLE;
    return c;
  }

  CNode *complex_binary(NODE *n, const Layout &L) {
    uint16_t sub = 0;
    switch (n->op) {
    case PLUS: sub = XF_ADD; break;
    case MINUS: sub = XF_SUB; break;
    case MULT: sub = XF_MUL; break;
    case DIV: sub = XF_DIV; break;
    default: return err(n, "operator " + spell(n->op) + " on complex values");
    }
    CNode *c = make(X_CPLXOP, n, L);
    c->sub = static_cast<uint8_t>(sub - XF_ADD + 1);
    c->a = complex_operand(n->left, n);
    c->b = complex_operand(n->right, n);
    c->lv = layout_of(n->type->getr()->base);
    c->cost = sub == XF_DIV ? CC_FLOAT_DIV : sub == XF_MUL ? CC_FLOAT_MUL : CC_FLOAT_ADD;
    give_scratch(c, L.units);
    return c;
  }

  // An operand of complex arithmetic: a complex value, or a scalar made one.
  CNode *complex_operand(NODE *operand, NODE *n) {
    CNode *v = expr(operand);
    if (v->l.cls == VC_AGG)
      return v;
    return complex_from(v, n);
  }

  // Conversion of x (scalar or complex) to the complex type of n.
  CNode *complex_from(CNode *x, NODE *n) {
    Layout L = layout_of(n->type);
    CNode *c = make(X_CPLXOP, n, L);
    c->sub = 0;   // conversion
    c->lv = layout_of(n->type->getr()->base);
    c->a = x;
    if (x->l.cls != VC_AGG) {
      c->a = convert(x, c->lv, n);
      c->k = 1;   // from a scalar
    }
    c->cost = CC_FLOAT_ADD;
    give_scratch(c, L.units);
    return c;
  }

  CNode *vector_op(NODE *n, const Layout &L) {
    const TYPE *vt = n->type->getr();
    Layout lane = layout_of(vt->base);
    uint16_t sub = 0;
    if (lane.cls == VC_FLOAT)
      sub = float_case(n->op);
    else
      sub = int_case(n->op);
    if (n->op == UMINUS)
      sub = lane.cls == VC_FLOAT ? XF_NEG : X_NEG;
    if (sub == X_ERR || sub == 0)
      return err(n, "operator " + spell(n->op) + " on vectors");
    CNode *c = make(X_VOP, n, L);
    c->sub = static_cast<uint8_t>(sub);
    c->lv = lane;
    c->a = expr(n->left);
    c->b = op_arity(n->op) == 2 ? expr(n->right) : nullptr;
    c->f = vt->count;
    c->cost = lane.cls == VC_FLOAT ? float_cost(sub) : int_cost(sub);
    give_scratch(c, L.units);
    return c;
  }

  // A conversion of a vector lane by lane (VSCONV, SCONV and VRCONV of
  // vectors whose lanes differ).
  CNode *vector_convert(NODE *n, const Layout &L) {
    const TYPE *vt = n->type->getr();
    CNode *c = make(X_VOP, n, L);
    c->sub = X_WRAP;
    c->lv = layout_of(vt->base);
    c->a = expr(n->left);
    c->f = vt->count;
    c->cost = CC_SIMPLE;
    give_scratch(c, L.units);
    return c;
  }

  CNode *load(NODE *n, CNode *addr, const Layout &L, uint8_t bf_shift, uint8_t bf_width,
              const TYPE *storage) {
    if (L.cls == VC_AGG) {
      if (is_static_address(addr)) {
        CNode *c = make(addr->x, n, L);
        c->k = addr->k;
        c->chk = false;
        return c;
      }
      CNode *c = make(X_AGG, n, L);
      c->a = addr;
      return c;
    }
    if (L.cls == VC_VOID)
      return addr;
    CNode *c = make(L.cls == VC_FLOAT ? XF_LOAD : bf_width ? X_LOADBF : X_LOAD, n, L);
    c->a = addr;
    c->lv = L;
    c->chk = !is_static_address(addr);
    addr->hidden = !c->chk;
    c->loads = 1;
    if (bf_width) {
      c->bf_shift = bf_shift;
      c->bf_width = bf_width;
      Layout unit = layout_of(storage);
      c->lv.units = std::max<uint32_t>(1, unit.units);
    }
    return c;
  }

  CNode *call(NODE *n, const Layout &L) {
    CallSite *cs = site();
    std::vector<NODE *> args;
    NODE *callee = nullptr;
    switch (n->op) {
    case CALL:
      callee = n->left;
      flatten(n->right, args);
      break;
    case UCALL:
      callee = n->left;
      break;
    case MCALL:
    case ICALL:
      flatten(n->left, args);
      cs->name = n->callee() ? n->callee() : "";
      break;
    default:   // UMCALL, UICALL
      cs->name = n->callee() ? n->callee() : "";
      break;
    }
    if (callee) {
      if (callee->op == UAND && callee->left && callee->left->op == NAME && callee->left->sym()) {
        const SYMTAB *s = callee->left->sym();
        cs->name = s->name_text;
        auto f = in.function_of_.find(s);
        if (f != in.function_of_.end()) {
          cs->function = f->second;
        } else {
          // A declaration: the definition of that name, else the runtime.
          auto g = in.global_by_name_.find(s->name_text);
          if (g != in.global_by_name_.end()) {
            auto d = in.function_of_.find(g->second);
            if (d != in.function_of_.end())
              cs->function = d->second;
          }
        }
      } else {
        cs->target = expr(callee);
        // A constant address of a function: resolved now.
        if (cs->target->x == X_GADDR) {
          uint32_t at = static_cast<uint32_t>(cs->target->k);
          if (auto f = in.function_at_.find(at); f != in.function_at_.end()) {
            cs->function = f->second;
            cs->target = nullptr;
          } else if (auto b = in.builtin_at_.find(at); b != in.builtin_at_.end()) {
            cs->builtin = b->second;
            cs->target = nullptr;
          }
        }
      }
    } else {
      // The named forms: a function of the program, the runtime, or an
      // intrinsic.
      auto g = in.global_by_name_.find(cs->name);
      if (g != in.global_by_name_.end()) {
        auto d = in.function_of_.find(g->second);
        if (d != in.function_of_.end())
          cs->function = d->second;
      }
      if (cs->function < 0 && (n->op == ICALL || n->op == UICALL) && cs->name == "DONOTCSE")
        cs->intrinsic_identity = true;
      if (cs->function < 0 && n->op == UICALL && cs->name == "__va_start") {
        if (L.cls != VC_INT || !L.ptr)
          return err(n, "intrinsic __va_start of a type that is not a pointer");
        return make(X_VA_START, n, L);
      }
      if (cs->function < 0 && n->op == ICALL && cs->name == "__vla_alloc") {
        if (L.cls != VC_INT || !L.ptr || args.size() != 1)
          return err(n, "intrinsic __vla_alloc needs a pointer type and one operand");
        CNode *c = make(X_VLA_ALLOC, n, L);
        c->a = expr(args[0]);
        return c;
      }
    }
    if (cs->function < 0 && !cs->target && !cs->intrinsic_identity)
      cs->builtin = builtin_id(cs->name);
    for (NODE *a : args) {
      CNode *v = expr(a);
      cs->args.push_back(v);
    }
    if (cs->intrinsic_identity) {
      if (cs->args.size() != 1)
        return err(n, "intrinsic DONOTCSE with " + std::to_string(cs->args.size()) + " operands");
      CNode *c = make(L.cls == VC_FLOAT ? XF_IDENT : X_IDENT, n, L);
      c->a = convert(cs->args[0], L, n);
      return c;
    }
    CNode *c = make(L.cls == VC_FLOAT ? XF_CALL : X_CALL, n, L);
    c->call = cs;
    c->is_call = true;
    if (L.cls == VC_AGG)
      give_scratch(c, L.units);
    return c;
  }

  CNode *expr(NODE *n) {
    if (!n)
      return err(nullptr, "a missing operand");
    Layout L = layout_of(n->type);
    switch (n->op) {
    case NOP:
      return make(X_NOP, n, Layout{VC_VOID, 64, true, false, false, false, 0});
    case ICON:
    case LCON: {
      if (L.cls == VC_FLOAT) {
        CNode *c = make(XF_CONST, n, L);
        c->f = static_cast<double>(n->icon.value);
        if (L.single)
          c->f = static_cast<float>(c->f);
        return c;
      }
      if (L.cls != VC_INT)
        L = Layout{};
      CNode *c = make(X_ICONST, n, L);
      c->k = wrap(n->icon.value, L);
      return c;
    }
    case FCON: {
      XFLOAT *v = n->fval();
      double d = 0;
      if (v)
        d = L.single ? static_cast<double>(v->to_float()) : v->to_double();
      if (L.cls == VC_INT) {
        CNode *f = make(XF_CONST, n, Layout{VC_FLOAT, 64, true, false, false, false, 4});
        f->f = d;
        return convert(f, L, n);
      }
      CNode *c = make(XF_CONST, n, L.cls == VC_FLOAT ? L : Layout{VC_FLOAT, 64, true, false, false, false, 4});
      c->f = d;
      return c;
    }
    case SCON: {
      CNode *c = make(X_GADDR, n, Layout{VC_INT, 16, false, true, false, false, 1});
      c->k = in.string_address(n);
      return c;
    }
    case NAME: {
      SYMTAB *s = n->sym();
      if (!s)
        return err(n, "a name without a symbol");
      if (s->type() && s->type()->is_func())
        return variable_address(n, s);
      if (const VarSlot *v = variable(s); v && v->reg) {
        CNode *c = make(v->l.cls == VC_FLOAT ? XF_REG : X_REG, n, v->l);
        c->slot = v->where;
        return convert(c, L, n);
      }
      return load(n, variable_address(n, s), L, 0, 0, nullptr);
    }
    case UAND:
    case ACONV: {
      NODE *x = n->left;
      if (x && x->op == NAME && x->sym() && x->sym()->type() && x->sym()->type()->is_func())
        return variable_address(x, x->sym());
      CNode *a = address(x);
      if (a->x == X_ERR)
        return a;
      if (a->l.cls == VC_AGG) {
        // The address of an aggregate value is that value's address.
        CNode *c = make(X_IDENT, n, L);
        c->a = a;
        return c;
      }
      return a;
    }
    case UMULT:
    case STDOT:
    case STFIELD:
    case STREF:
    case REAL:
    case IMAG:
    case VFIELD: {
      if (n->op == UMULT && n->type && n->type->is_func())
        return expr(n->left);
      uint8_t shift = 0, width = 0;
      CNode *a = address(n, &shift, &width);
      if (a->x == X_ERR)
        return a;
      const MEMBER *m =
          (n->op == STDOT || n->op == STREF || n->op == STFIELD) ? member_of(n->right) : nullptr;
      return load(n, a, L, shift, width, m ? m->type : nullptr);
    }
    case PLUS: case MINUS: case MULT: case DIV: case MOD:
    case ANDB: case ORB: case XORB: case SLL: case SRL:
      return binary(n, L);
    case UMINUS:
    case NOTB:
    case ABS:
    case SQRT:
    case SQR:
    case RECIP: {
      if (L.cls == VC_AGG) {
        if (n->op == UMINUS && is_complex(n)) {
          CNode *c = make(X_CPLXOP, n, L);
          c->sub = 5;   // negation
          c->a = expr(n->left);
          c->lv = layout_of(n->type->getr()->base);
          c->cost = CC_FLOAT_ADD;
          give_scratch(c, L.units);
          return c;
        }
        if (is_vector(n))
          return vector_op(n, L);
        return unsupported(n);
      }
      CNode *a = expr(n->left);
      if (L.cls == VC_FLOAT) {
        uint16_t x = n->op == UMINUS ? XF_NEG : n->op == ABS ? XF_ABS : n->op == SQRT ? XF_SQRT
                   : n->op == SQR ? XF_SQR : n->op == RECIP ? XF_RECIP : X_ERR;
        if (x == X_ERR)
          return err(n, "operator " + spell(n->op) + " on floating values");
        CNode *c = make(x, n, L);
        c->a = convert(a, L, n->left);
        c->cost = float_cost(x);
        return c;
      }
      if (L.cls != VC_INT)
        return unsupported(n);
      if (n->op == SQRT || n->op == RECIP) {
        // Of an integer type: computed in double, converted back.
        Layout d{VC_FLOAT, 64, true, false, false, false, 4};
        CNode *c = make(n->op == SQRT ? XF_SQRT : XF_RECIP, n, d);
        c->a = convert(a, d, n->left);
        c->cost = CC_FLOAT_DIV;
        return convert(c, L, n);
      }
      uint16_t x = n->op == UMINUS ? X_NEG : n->op == NOTB ? X_NOT : n->op == ABS ? X_ABS : X_SQR;
      CNode *c = make(x, n, L);
      c->a = convert(a, L, n->left);
      c->cost = x == X_SQR ? CC_INT_MUL : CC_SIMPLE;
      return c;
    }
    case EXCLAIM: {
      CNode *c = make(X_LNOT, n, L.cls == VC_INT ? L : Layout{VC_INT, 32, true, false, false, false, 2});
      c->a = truth(n->left);
      c->cost = CC_SIMPLE;
      return c;
    }
    case EQ: case NEQ: case LE: case LT: case GE: case GT:
    case ULE: case ULT: case UGE: case UGT:
    case FEQ: case FNEQ: case FLE: case FLT: case FGE: case FGT: case FEQN: case FNEQN:
    case FLEN: case FLTN: case FGEN: case FGTN: case FORD: case FUNO:
      return compare(n, L.cls == VC_INT ? L : Layout{VC_INT, 32, true, false, false, false, 2});
    case ANDAND:
    case OROR: {
      CNode *c = make(n->op == ANDAND ? X_ANDAND : X_OROR, n,
                      L.cls == VC_INT ? L : Layout{VC_INT, 32, true, false, false, false, 2});
      c->a = truth(n->left);
      c->b = truth(n->right);
      c->cost = CC_SIMPLE;
      return c;
    }
    case QUEST: {
      if (!n->right || n->right->op != COLON)
        return err(n, "QUEST without COLON");
      CNode *c = make(L.cls == VC_FLOAT ? XF_QUEST : X_QUEST, n, L);
      c->a = truth(n->left);
      c->b = convert(expr(n->right->left), L, n->right->left);
      c->c = convert(expr(n->right->right), L, n->right->right);
      c->cost = CC_SIMPLE;
      return c;
    }
    case COMMAOP:
    case COMMA:
    case PCOMMA: {
      CNode *c = make(L.cls == VC_FLOAT ? XF_COMMAOP : X_COMMAOP, n, L);
      c->a = expr(n->left);
      c->b = convert(expr(n->right), L, n->right);
      if (L.cls == VC_VOID)
        c->l = c->b->l;
      if (c->l.cls == VC_FLOAT)
        c->x = XF_COMMAOP;
      return c;
    }
    case ASG:
    case STASG:
    case ARASG: {
      Layout target = layout_of(n->left->type);
      if (n->op != ASG || target.cls == VC_AGG) {
        CNode *c = make(X_AASG, n, target);
        c->a = address(n->left);
        c->a->hidden = is_static_address(c->a);
        c->b = expr(n->right);
        if (c->b->l.cls != VC_AGG)
          return err(n, "a structure assignment from a value that is not one");
        c->chk = true;
        c->lv = target;
        c->loads = c->stores = static_cast<uint8_t>(std::min<uint32_t>(255, (target.units + 1) / 2));
        return c;
      }
      CNode *c = make(target.cls == VC_FLOAT ? XF_ASG : X_ASG, n, target);
      lvalue(n->left, c);
      c->l = c->lv;
      c->b = convert(expr(n->right), c->lv, n->right);
      c->stores = c->reg ? 0 : 1;
      c->loads = (!c->reg && c->bf_width) ? 1 : 0;
      return c;
    }
    case PLUSASG: case MINUSASG: case MULTASG: case DIVASG: case MODASG:
    case ANDBASG: case ORBASG: case XORBASG: case SLLASG: case SRLASG: {
      Layout target = layout_of(n->left->type);
      if (target.cls == VC_FLOAT || L.cls == VC_FLOAT) {
        uint16_t sub = float_case(n->op);
        if (sub == X_ERR)
          return err(n, "operator " + spell(n->op) + " on floating values");
        Layout op_layout = L.cls == VC_FLOAT ? L : target;
        CNode *c = make(XF_CASG, n, op_layout);
        lvalue(n->left, c);
        c->sub = static_cast<uint8_t>(sub - XF_ADD);
        c->b = convert(expr(n->right), op_layout, n->right);
        c->cost = float_cost(sub);
        c->loads = c->stores = c->reg ? 0 : 1;
        if (c->lv.cls != VC_FLOAT && c->lv.cls != VC_INT)
          return err(n, "a compound assignment to a value that is not a scalar");
        return c;
      }
      if (target.cls != VC_INT)
        return unsupported(n);
      Layout op_layout = L.cls == VC_INT ? L : target;
      uint16_t sub = int_case(n->op);
      if (target.ptr && (sub == X_ADD || sub == X_SUB)) {
        sub = sub == X_ADD ? X_PADD : X_PSUB;
        op_layout = target;
      }
      CNode *c = make(X_CASG, n, target);
      lvalue(n->left, c);
      c->l = c->lv;
      c->sub = static_cast<uint8_t>(sub);
      c->k = 0;
      c->c = make(X_NOP, n, op_layout);   // holds the layout of the operation
      CNode *r = expr(n->right);
      c->b = (sub == X_SHL || sub == X_SHR) ? convert(r, layout_of(n->right->type), n->right)
                                            : convert(r, op_layout, n->right);
      if (c->b->l.cls != VC_INT)
        c->b = convert(c->b, Layout{}, n->right);
      c->cost = int_cost(sub);
      c->loads = c->stores = c->reg ? 0 : 1;
      return c;
    }
    case PLUSPLUS:
    case MINMIN: {
      Layout target = layout_of(n->left->type);
      if (target.cls == VC_FLOAT) {
        CNode *c = make(XF_POST, n, target);
        lvalue(n->left, c);
        c->sub = n->op == PLUSPLUS ? 0 : 1;
        c->b = convert(expr(n->right), c->lv, n->right);
        c->cost = CC_FLOAT_ADD;
        c->loads = c->stores = c->reg ? 0 : 1;
        return c;
      }
      if (target.cls != VC_INT)
        return unsupported(n);
      CNode *c = make(X_POST, n, target);
      lvalue(n->left, c);
      c->l = c->lv;
      c->sub = static_cast<uint8_t>(target.ptr ? (n->op == PLUSPLUS ? X_PADD : X_PSUB)
                                               : (n->op == PLUSPLUS ? X_ADD : X_SUB));
      c->b = convert(expr(n->right), target.ptr ? Layout{VC_INT, 16, false, false, false, false, 1}
                                                : c->lv, n->right);
      c->cost = CC_SIMPLE;
      c->loads = c->stores = c->reg ? 0 : 1;
      return c;
    }
    case SCONV:
    case PCONV:
    case ISP2CHAR:
    case VRCONV: {
      if (L.cls == VC_AGG) {
        if (is_complex(n))
          return complex_from(expr(n->left), n);
        if (is_vector(n) && is_vector(n->left) &&
            !same_layout(layout_of(n->type->getr()->base), layout_of(n->left->type->getr()->base)))
          return vector_convert(n, L);
        CNode *x = expr(n->left);
        if (x->l.cls == VC_AGG) {
          CNode *c = make(X_IDENT, n, L);
          c->a = x;
          return c;
        }
        return unsupported(n);
      }
      return convert(expr(n->left), L, n);
    }
    case VSCONV:
      if (L.cls != VC_AGG || !is_vector(n) || !is_vector(n->left))
        return convert(expr(n->left), L, n);
      return vector_convert(n, L);
    case PMCONV:
    case PVCONV: {
      if (!n->right || n->right->op != ICON)
        return err(n, spell(n->op) + " with a scale that is not a constant");
      int64_t scale = n->right->icon.value / 16;
      CNode *c = make(n->op == PMCONV ? X_PMCONV : X_PVCONV, n, L);
      CNode *a = expr(n->left);
      if (a->l.cls != VC_INT)
        a = convert(a, Layout{}, n->left);
      c->a = a;
      c->k = scale;
      // A difference of two pointers is a signed number of units.
      c->sub = (a->l.width == 16 && !a->l.sgn) ? 1 : 0;
      c->cost = n->op == PMCONV ? CC_INT_MUL : CC_INT_DIV;
      if (n->op == PVCONV && scale == 0)
        return err(n, "division by zero");
      return c;
    }
    case CALL: case UCALL: case MCALL: case UMCALL: case ICALL: case UICALL:
      return call(n, L);
    case STARG: {
      CNode *v = is_designator(n->left) ? load(n, address(n->left), layout_of(n->left->type), 0, 0,
                                               nullptr)
                                        : expr(n->left);
      return v;
    }
    case MEMCPY: {
      std::vector<NODE *> items;
      flatten(n->left, items);
      if (items.size() != 3)
        return err(n, "MEMCPY without destination, source and count");
      CNode *c = make(X_MEMCPY, n, Layout{VC_VOID, 64, true, false, false, false, 0});
      c->call = site();
      for (NODE *i : items) {
        CNode *v = expr(i);
        c->call->args.push_back(convert(v, Layout{}, i));
      }
      return c;
    }
    case COMPLEX: {
      if (L.cls != VC_AGG || !is_complex(n))
        return unsupported(n);
      CNode *c = make(X_COMPLEX, n, L);
      c->lv = layout_of(n->type->getr()->base);
      c->a = convert(expr(n->left), c->lv, n->left);
      c->b = convert(expr(n->right), c->lv, n->right);
      give_scratch(c, L.units);
      return c;
    }
    case TOIEEE:
    case FRIEEE:
    case EPVAL:
    case DDNODE:
    case ARGREF:
    case IDENTITY: {
      // The machine's floats are IEEE already; the others only mark trees.
      CNode *a = expr(n->left);
      return convert(a, L.cls == VC_VOID ? a->l : L, n);
    }
    case VPACK:
    case VPACKM: {
      if (L.cls != VC_AGG || !is_vector(n))
        return unsupported(n);
      const TYPE *vt = n->type->getr();
      CNode *c = make(X_VPACK, n, L);
      c->lv = layout_of(vt->base);
      c->call = site();
      std::vector<NODE *> items;
      flatten(n->left, items);
      for (NODE *i : items)
        c->call->args.push_back(convert(expr(i), c->lv, i));
      if (c->call->args.size() > vt->count)
        return err(n, "a vector pack with more items than lanes");
      give_scratch(c, L.units);
      return c;
    }
    case VPACK1P: {
      // The value of the first operand in every lane.
      if (L.cls != VC_AGG || !is_vector(n))
        return unsupported(n);
      const TYPE *vt = n->type->getr();
      CNode *c = make(X_VSPLAT, n, L);
      c->lv = layout_of(vt->base);
      c->a = convert(expr(n->left), c->lv, n->left);
      c->f = vt->count;
      give_scratch(c, L.units);
      return c;
    }
    case ENDLOOP: {
      CNode *c = make(X_ENDLOOP, n, Layout{VC_INT, 32, true, false, false, false, 2});
      return c;
    }
    default:
      return unsupported(n);
    }
  }

  // ---- functions

  void find_address_taken(NODE *n, std::unordered_set<const SYMTAB *> &taken) {
    if (!n)
      return;
    if ((n->op == UAND || n->op == ACONV) && n->left && n->left->op == NAME && n->left->sym())
      taken.insert(n->left->sym());
    if (n->op == SKIP)
      return;
    unsigned a = n->arity();
    if (a >= 1 && a != kNoArity)
      find_address_taken(n->left, taken);
    if (a == 2)
      find_address_taken(n->right, taken);
  }

  void place(const SYMTAB *s, const std::unordered_set<const SYMTAB *> &taken) {
    VarSlot v;
    v.l = layout_of(s->type());
    bool is_volatile = s->type() && s->type()->is_volatile();
    if ((v.l.cls == VC_INT || v.l.cls == VC_FLOAT) && !taken.count(s) && !is_volatile) {
      v.reg = true;
      v.where = fn->regs++;
      fn->reg_is_ptr.push_back(v.l.ptr ? 1 : 0);
    } else {
      uint32_t units = std::max<uint32_t>(v.l.units, units_of(s->size_bits));
      v.where = frame_alloc(units);
    }
    vars[s] = v;
  }

  void compile_function(Function &f) {
    fn = &f;
    vars.clear();
    FUNINFO *fun = f.fun;
    std::unordered_set<const SYMTAB *> taken;
    for (const STMT &s : fun->statements)
      find_address_taken(s.tree, taken);
    for (SYMTAB *p : fun->params) {
      place(p, taken);
      f.params.push_back(vars[p]);
    }
    for (SYMTAB *l : fun->locals) {
      if (l->sclass == SC_STATIC || l->sclass == SC_EXTERN_REF || l->sclass == SC_EXTERN_DEF ||
          (l->type() && l->type()->is_func()))
        continue;   // storage among the globals
      place(l, taken);
    }
    TYPE *ft = fun->symbol->type();
    TYPE *rt = ft && ft->is_func() ? ft->getr()->base : nullptr;
    f.result = layout_of(rt);
    f.has_result = rt && f.result.cls != VC_VOID;
    f.varargs = ft && ft->is_func() && ft->getr()->varargs;

    std::unordered_map<uint32_t, uint32_t> labels;
    struct Fixup {
      uint32_t stmt;
      int which;   // 0 target, 1 target2, 2 a case of the switch table, 3 its default
      uint32_t label;
      size_t index;
    };
    std::vector<Fixup> fixups;
    auto label_of = [](const NODE *l) -> int64_t {
      return l && l->op == LABEL ? static_cast<int64_t>(l->label_number()) : -1;
    };
    // A statement without a position is reported at the last one before it.
    SrcPos last = fun->body_pos.valid() ? fun->body_pos : fun->begin_pos;
    for (const STMT &s : fun->statements) {
      NODE *t = s.tree;
      if (!t)
        continue;
      if (s.pos.valid())
        last = s.pos;
      CStmt st;
      st.pos = last;
      st.tree = t;
      uint32_t index = static_cast<uint32_t>(f.stmts.size());
      auto jump = [&](int which, const NODE *l, size_t i = 0) {
        int64_t num = label_of(l);
        if (num < 0) {
          st.kind = ST_EXPR;
          st.e = err(t, "a jump without a label");
          return;
        }
        fixups.push_back({index, which, static_cast<uint32_t>(num), i});
      };
      switch (t->op) {
      case LABELDEF:
        labels[t->label_number()] = index;
        continue;
      case ASM: case PPRAGMA: case NASSERT: case NOP: case SKIP:
        continue;
      case BRANCH:
        st.kind = ST_BRANCH;
        jump(0, t->left);
        break;
      case CBRANCH:
        st.kind = ST_CBRANCH;
        st.e = truth(t->left);
        jump(0, t->right);
        break;
      case IF:
        st.kind = ST_IF;
        st.e = truth(t->left);
        if (!t->right || t->right->op != COMMA) {
          st.kind = ST_EXPR;
          st.e = err(t, "IF without its two labels");
          break;
        }
        jump(0, t->right->left);
        jump(1, t->right->right);
        break;
      case SWITCH: {
        st.kind = ST_SWITCH;
        st.e = expr(t->left);
        if (st.e->l.cls != VC_INT) {
          st.kind = ST_EXPR;
          st.e = err(t, "a switch on a value that is not an integer");
          break;
        }
        st.table = static_cast<uint32_t>(f.switches.size());
        f.switches.emplace_back();
        std::vector<NODE *> cases;
        flatten(t->right, cases);
        bool has_default = false;
        for (NODE *c : cases) {
          if (c->op == CASE && c->left && c->left->op == ICON) {
            f.switches.back().cases.emplace_back(wrap(c->left->icon.value, st.e->l), 0);
            jump(2, c->right, f.switches.back().cases.size() - 1);
          } else if (c->op == DEFAULT) {
            has_default = true;
            jump(3, c->left);
          }
        }
        if (!has_default)
          f.switches.back().fallthrough = index + 1;
        break;
      }
      case RETURN:
        st.kind = ST_RETURN;
        st.e = expr(t->left);
        if (f.has_result)
          st.e = convert(st.e, f.result, t);
        break;
      case URETURN:
        st.kind = ST_URETURN;
        break;
      case LOOP:
        st.kind = ST_LOOP;
        st.e = convert(expr(t->left), Layout{}, t);
        break;
      case ENDLOOP:
        st.kind = ST_ENDLOOP;
        jump(0, t->right);
        break;
      case ASSERT:
        st.kind = ST_ASSERT;
        st.e = truth(t->left);
        break;
      default:
        st.kind = ST_EXPR;
        st.e = expr(t);
        break;
      }
      if (in.options_.trace)
        st.text = tree_source(t);
      f.stmts.push_back(std::move(st));
    }
    for (const Fixup &x : fixups) {
      auto l = labels.find(x.label);
      CStmt &st = f.stmts[x.stmt];
      if (l == labels.end()) {
        st.kind = ST_EXPR;
        st.e = err(st.tree, "branch to undefined label L" + std::to_string(x.label));
        continue;
      }
      switch (x.which) {
      case 0: st.target = l->second; break;
      case 1: st.target2 = l->second; break;
      case 2: f.switches[st.table].cases[x.index].second = l->second; break;
      default: f.switches[st.table].fallthrough = l->second; break;
      }
    }
    for (SwitchTable &t : f.switches) {
      std::stable_sort(t.cases.begin(), t.cases.end(),
                       [](const auto &a, const auto &b) { return a.first < b.first; });
    }
    fn = nullptr;
  }
};

// ------------------------------------------------------------------ layout

uint32_t Interpreter::allocate(uint32_t units, uint8_t shadow) {
  uint32_t limit = kMemoryUnits - kStackReserve;
  if (units > limit || global_top_ + units + 1 > limit)
    fail("the globals do not fit in memory");
  uint32_t at = global_top_;
  for (uint32_t i = 0; i < units; ++i)
    shadow_[at + i] = shadow;
  global_top_ += units + 1;   // a unit of no object after each
  return at;
}

uint32_t Interpreter::string_address(const NODE *n) {
  auto it = strings_.find(n);
  if (it != strings_.end())
    return it->second;
  uint32_t len = n->scon_length();
  uint32_t at = allocate(len + 1, SH_OBJECT | SH_INIT | SH_READONLY);
  for (uint32_t i = 0; i < len; ++i)
    memory_[at + i] = static_cast<uint8_t>(n->text()[i]);
  strings_[n] = at;
  return at;
}

void Interpreter::layout_globals() {
  for (FUNINFO *f : program_.functions()) {
    if (!f->symbol || function_of_.count(f->symbol))
      continue;
    Function fn;
    fn.fun = f;
    fn.name = f->symbol->name_text;
    function_of_[f->symbol] = static_cast<int>(functions_.size());
    functions_.push_back(std::move(fn));
  }
  // Definitions first, so that references by name find them.
  for (int pass = 0; pass < 2; ++pass) {
    for (SYMTAB *g : program_.globals()) {
      bool is_ref = g->sclass == SC_EXTERN_REF && !function_of_.count(g);
      if ((pass == 0) == is_ref || global_addr_.count(g))
        continue;
      auto it = global_by_name_.find(g->name_text);
      if (is_ref && it != global_by_name_.end()) {
        global_addr_[g] = global_addr_[it->second];
        continue;
      }
      TYPE *t = g->type();
      bool is_fn = t && t->is_func();
      uint32_t at;
      if (is_fn) {
        at = allocate(1, 0);
        auto f = function_of_.find(g);
        if (f != function_of_.end()) {
          function_at_[at] = f->second;
          functions_[f->second].address = at;
        } else if (int b = builtin_id(g->name_text); b >= 0) {
          builtin_at_[at] = b;
        } else {
          external_at_[at] = g->name_text;
        }
      } else {
        uint32_t units = std::max<uint32_t>(1, (g->size_bits + 15) / 16);
        at = allocate(units, SH_OBJECT | SH_INIT);
      }
      global_addr_[g] = at;
      global_by_name_.emplace(g->name_text, g);
    }
  }
  // A function defined without a global symbol of its own still has an
  // address.
  for (Function &f : functions_) {
    if (!f.address) {
      f.address = allocate(1, 0);
      function_at_[f.address] = function_of_[f.fun->symbol];
      global_addr_[f.fun->symbol] = f.address;
    }
  }
  for (Function &f : functions_) {
    for (SYMTAB *l : f.fun->locals) {
      if (l->sclass == SC_STATIC && !global_addr_.count(l)) {
        uint32_t units = std::max<uint32_t>(1, (l->size_bits + 15) / 16);
        global_addr_[l] = allocate(units, SH_OBJECT | SH_INIT);
      }
    }
  }
}

void Interpreter::run_initializers() {
  Compiler comp(*this);
  for (const auto &init : program_.initializers()) {
    if (!init.symbol)
      continue;
    uint32_t base = comp.global_address(init.symbol);
    if (!base)
      continue;
    init_pos_ = init.symbol->pos;
    uint64_t bit = 0;
    for (NODE *t : init.trees) {
      if (t->op == ENDINIT)
        break;
      if (t->op == SKIP) {
        bit += t->skip_number();
        continue;
      }
      uint32_t size = t->type ? t->type->getr()->size : 0;
      uint32_t at = base + static_cast<uint32_t>(bit / 16);
      Layout l = layout_of(t->type);
      if (t->op == SCON && t->type && t->type->is_array()) {
        uint32_t units = (size + 15) / 16;
        check(at, units, true);
        for (uint32_t i = 0; i < units && i < t->scon_length(); ++i)
          memory_[at + i] = static_cast<uint8_t>(t->text()[i]);
      } else {
        CNode *c = comp.expr(t);
        if (l.cls == VC_FLOAT)
          store_float(at, l, fval(comp.convert(c, l, t)), true);
        else if (l.cls == VC_INT)
          store_int(at, l, ival(comp.convert(c, l, t)), true);
        else if (l.cls == VC_AGG)
          copy_units(at, static_cast<uint32_t>(ival(c)), l.units, true);
      }
      bit += size;
    }
  }
  init_pos_ = SrcPos{};
}

void Interpreter::setup_arguments(Function &entry, std::vector<Val> &args) {
  args.clear();
  if (entry.params.empty())
    return;
  Val argc;
  argc.i = static_cast<int64_t>(options_.args.size());
  args.push_back(argc);
  if (entry.params.size() < 2)
    return;
  std::vector<uint32_t> ptrs;
  for (const std::string &a : options_.args) {
    uint32_t at = allocate(static_cast<uint32_t>(a.size() + 1), SH_OBJECT | SH_INIT);
    for (size_t i = 0; i < a.size(); ++i)
      memory_[at + i] = static_cast<uint8_t>(a[i]);
    ptrs.push_back(at);
  }
  uint32_t argv = allocate(static_cast<uint32_t>(ptrs.size() + 1), SH_OBJECT | SH_INIT);
  for (size_t i = 0; i < ptrs.size(); ++i)
    memory_[argv + i] = static_cast<uint16_t>(ptrs[i]);
  Val v;
  v.i = argv;
  args.push_back(v);
}

void Interpreter::load() {
  layout_globals();
  Compiler comp(*this);
  for (Function &f : functions_)
    comp.compile_function(f);
  run_initializers();
}

} // namespace zor::run
