// tools/zrun/interp.cpp - evaluation of I-code trees (see interp.h).
//
// Memory is 65536 units of 16 bits: the null page (units 0-15), the
// globals, the string constants and one unit per function (its address),
// then the stack.  Values wider than a unit are stored low unit first.
#include "tools/zrun/interp.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "ir/node_info.h"
#include "ir/opcodes.h"

namespace zor::run {

namespace {

constexpr uint32_t kMemoryUnits = 65536;
constexpr uint32_t kNullPage = 16;

std::string spell(uint32_t op) {
  const char *name = op < kNumOps ? op_name(op) : nullptr;
  return name ? name : "op" + std::to_string(op);
}

uint32_t units_of(uint32_t bits) { return (bits + 15) / 16; }

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

} // namespace

uint32_t value_width(const TYPE *t) {
  if (!t)
    return 64;
  const TYPE *r = t->getr();
  if (r->kind == TK_POINTER || r->kind == TK_REFERENCE)
    return 16;
  if (r->size == 0 || r->size > 64)
    return 64;
  return r->size;
}

bool value_signed(const TYPE *t) {
  if (!t)
    return true;
  const TYPE *r = t->getr();
  if (r->kind != TK_INTEGRAL && r->kind != TK_ENUM)
    return false;
  return r->is_signed();
}

int64_t wrap(int64_t v, const TYPE *t) {
  uint32_t w = value_width(t);
  if (w >= 64)
    return v;
  uint64_t mask = (uint64_t{1} << w) - 1;
  uint64_t u = static_cast<uint64_t>(v) & mask;
  if (value_signed(t) && (u >> (w - 1)) & 1)
    u |= ~mask;
  return static_cast<int64_t>(u);
}

Interpreter::Interpreter(PROGRAM &program, RunOptions options)
    : program_(program), options_(std::move(options)), memory_(kMemoryUnits, 0) {}

std::string Interpreter::where() const {
  // Before the entry runs, the error belongs to the initializers.
  std::string fn = current_fun_ && current_fun_->symbol ? current_fun_->symbol->name_text
                                                        : "<initializers>";
  std::string file = current_pos_.file ? current_pos_.file : "?";
  return " in " + fn + " at " + file + ":" + std::to_string(current_pos_.line);
}

void Interpreter::fail(const std::string &message, int code) { throw RunError(message, code); }

uint32_t Interpreter::allocate(uint32_t units) {
  if (units > kMemoryUnits - global_top_)
    fail("the globals do not fit in memory");
  uint32_t at = global_top_;
  global_top_ += units;
  return at;
}

void Interpreter::layout_strings(NODE *n) {
  if (!n)
    return;
  if (n->op == SCON) {
    if (!strings_.count(n)) {
      uint32_t len = n->scon_length();
      uint32_t at = allocate(len + 1);
      for (uint32_t i = 0; i < len; ++i)
        memory_[at + i] = static_cast<uint8_t>(n->text()[i]);
      strings_[n] = at;
    }
    return;
  }
  if (n->op == SKIP)
    return;
  unsigned a = n->arity();
  if (a >= 1 && a != kNoArity)
    layout_strings(n->left);
  if (a == 2)
    layout_strings(n->right);
}

void Interpreter::layout_globals() {
  // Definitions first, so that references by name find them.
  for (int pass = 0; pass < 2; ++pass) {
    for (SYMTAB *g : program_.globals()) {
      bool is_ref = g->sclass == SC_EXTERN_REF;
      if ((pass == 0) == is_ref)
        continue;
      if (global_addr_.count(g))
        continue;
      auto it = global_by_name_.find(g->name_text);
      if (is_ref && it != global_by_name_.end()) {
        global_addr_[g] = global_addr_[it->second];
        continue;
      }
      TYPE *t = g->type();
      uint32_t units = t && t->is_func() ? 1 : units_of(g->size_bits);
      uint32_t at = allocate(units ? units : 1);
      global_addr_[g] = at;
      if (t && t->is_func())
        function_at_[at] = g;
      global_by_name_.emplace(g->name_text, g);
    }
  }
  for (FUNINFO *f : program_.functions()) {
    if (!f->symbol)
      continue;
    prepare_function(f);
    for (const STMT &s : f->statements)
      layout_strings(s.tree);
  }
  for (const auto &init : program_.initializers())
    run_initializer(init);
}

void Interpreter::prepare_function(FUNINFO *fun) {
  FunctionInfo fi;
  fi.fun = fun;
  uint32_t offset = 0;
  for (SYMTAB *p : fun->params) {
    local_offset_[p] = offset;
    offset += std::max<uint32_t>(1, units_of(p->size_bits));
  }
  for (SYMTAB *l : fun->locals) {
    if (l->sclass == SC_STATIC) {
      global_addr_[l] = allocate(std::max<uint32_t>(1, units_of(l->size_bits)));
      continue;
    }
    if (l->sclass == SC_EXTERN_REF || (l->type() && l->type()->is_func()))
      continue;   // resolved by name when used
    local_offset_[l] = offset;
    offset += std::max<uint32_t>(1, units_of(l->size_bits));
  }
  fi.frame_units = offset;
  for (size_t i = 0; i < fun->statements.size(); ++i) {
    NODE *t = fun->statements[i].tree;
    if (t && t->op == LABELDEF)
      fi.labels[t->label_number()] = i;
  }
  functions_[fun->symbol->name_text] = std::move(fi);
}

void Interpreter::run_initializer(const PROGRAM::Initializer &init) {
  if (!init.symbol)
    return;
  uint32_t base = symbol_address(init.symbol);
  current_pos_ = init.symbol->pos;
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
    if (t->op == SCON && t->type && t->type->is_array()) {
      uint32_t units = units_of(size);
      for (uint32_t i = 0; i < units && i < t->scon_length(); ++i)
        memory_[at + i] = static_cast<uint8_t>(t->text()[i]);
    } else {
      layout_strings(t);
      store(at, t->type, eval(t));
    }
    bit += size;
  }
}

uint32_t Interpreter::symbol_address(const SYMTAB *sym) {
  auto g = global_addr_.find(sym);
  if (g != global_addr_.end())
    return g->second;
  auto l = local_offset_.find(sym);
  if (l != local_offset_.end())
    return frame_base_ + l->second;
  auto n = global_by_name_.find(sym->name_text);
  if (n != global_by_name_.end())
    return global_addr_[n->second];
  fail("no storage for '" + sym->name_text + "'");
}

void Interpreter::check_access(uint32_t addr, uint32_t units) {
  if (addr < kNullPage)
    fail("access through a null pointer");
  if (addr + units > kMemoryUnits)
    fail("access outside any object");
}

int64_t Interpreter::load(uint32_t addr, TYPE *type) {
  uint32_t w = value_width(type);
  uint32_t units = units_of(w);
  check_access(addr, units);
  uint64_t v = 0;
  for (uint32_t i = 0; i < units; ++i)
    v |= static_cast<uint64_t>(memory_[addr + i]) << (16 * i);
  return wrap(static_cast<int64_t>(v), type);
}

void Interpreter::store(uint32_t addr, TYPE *type, int64_t v) {
  uint32_t units = units_of(value_width(type));
  check_access(addr, units);
  uint64_t u = static_cast<uint64_t>(v);
  for (uint32_t i = 0; i < units; ++i)
    memory_[addr + i] = static_cast<uint16_t>(u >> (16 * i));
}

uint32_t Interpreter::address(NODE *n) {
  switch (n->op) {
  case NAME:
    if (!n->sym())
      fail("a name without a symbol");
    return symbol_address(n->sym());
  case UMULT:
    return static_cast<uint32_t>(static_cast<uint64_t>(eval(n->left)) & 0xffff);
  default:
    fail("operator " + spell(n->op) + " is not supported as an lvalue yet");
  }
}

int64_t Interpreter::binary(uint32_t op, TYPE *type, int64_t a, int64_t b) {
  uint32_t w = value_width(type);
  bool sgn = value_signed(type);
  uint64_t ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
  switch (op) {
  case PLUS: return wrap(static_cast<int64_t>(ua + ub), type);
  case MINUS: return wrap(static_cast<int64_t>(ua - ub), type);
  case MULT: return wrap(static_cast<int64_t>(ua * ub), type);
  case ANDB: return wrap(a & b, type);
  case ORB: return wrap(a | b, type);
  case XORB: return wrap(a ^ b, type);
  case DIV:
  case MOD: {
    a = wrap(a, type);
    b = wrap(b, type);
    if (b == 0)
      fail("division by zero");
    // The most negative value divided by -1 wraps (quotient itself,
    // remainder 0), as the machine's division routine gives it.
    if (sgn) {
      __int128 q = static_cast<__int128>(a) / b, r = static_cast<__int128>(a) % b;
      return wrap(static_cast<int64_t>(op == DIV ? q : r), type);
    }
    uint64_t mask = w >= 64 ? ~uint64_t{0} : (uint64_t{1} << w) - 1;
    uint64_t x = static_cast<uint64_t>(a) & mask, y = static_cast<uint64_t>(b) & mask;
    return wrap(static_cast<int64_t>(op == DIV ? x / y : x % y), type);
  }
  case SLL:
    if (ub >= w)
      return 0;
    return wrap(static_cast<int64_t>(ua << ub), type);
  case SRL: {
    a = wrap(a, type);
    if (sgn) {
      if (ub >= w)
        return a < 0 ? wrap(-1, type) : 0;
      return wrap(a >> ub, type);
    }
    if (ub >= w)
      return 0;
    uint64_t mask = w >= 64 ? ~uint64_t{0} : (uint64_t{1} << w) - 1;
    return wrap(static_cast<int64_t>((static_cast<uint64_t>(a) & mask) >> ub), type);
  }
  default:
    fail("operator " + spell(op) + " is not supported yet");
  }
}

bool Interpreter::compare(uint32_t op, NODE *l, int64_t a, int64_t b) {
  uint32_t w = value_width(l->type);
  uint64_t mask = w >= 64 ? ~uint64_t{0} : (uint64_t{1} << w) - 1;
  uint64_t ua = static_cast<uint64_t>(a) & mask, ub = static_cast<uint64_t>(b) & mask;
  bool sgn = value_signed(l->type);
  switch (op) {
  case EQ: return ua == ub;
  case NEQ: return ua != ub;
  case LE: return sgn ? a <= b : ua <= ub;
  case LT: return sgn ? a < b : ua < ub;
  case GE: return sgn ? a >= b : ua >= ub;
  case GT: return sgn ? a > b : ua > ub;
  case ULE: return ua <= ub;
  case ULT: return ua < ub;
  case UGE: return ua >= ub;
  case UGT: return ua > ub;
  default: return false;
  }
}

namespace {

uint32_t compound_base(uint32_t op) {
  switch (op) {
  case PLUSASG: return PLUS;
  case MINUSASG: return MINUS;
  case MULTASG: return MULT;
  case DIVASG: return DIV;
  case MODASG: return MOD;
  case ANDBASG: return ANDB;
  case ORBASG: return ORB;
  case XORBASG: return XORB;
  case SLLASG: return SLL;
  case SRLASG: return SRL;
  default: return 0;
  }
}

} // namespace

int64_t Interpreter::eval(NODE *n) {
  if (n->type && n->type->getr()->kind == TK_FLOATING)
    fail("floating-point values are not supported yet");
  switch (n->op) {
  case NOP:
    return 0;
  case ICON:
  case LCON:
    return wrap(n->icon.value, n->type);
  case SCON: {
    auto it = strings_.find(n);
    if (it == strings_.end())
      fail("a string constant without storage");
    return it->second;
  }
  case NAME:
    if (n->sym() && n->sym()->type() && n->sym()->type()->is_func())
      return symbol_address(n->sym());
    return load(address(n), n->type);
  case UAND:
  case ACONV:
    return address(n->left);
  case UMULT:
    return load(address(n), n->type);
  case PLUS:
  case MINUS:
  case MULT:
  case DIV:
  case MOD:
  case ANDB:
  case ORB:
  case XORB:
  case SLL:
  case SRL: {
    int64_t a = eval(n->left);
    int64_t b = eval(n->right);
    return binary(n->op, n->type, a, b);
  }
  case UMINUS:
    return wrap(static_cast<int64_t>(0 - static_cast<uint64_t>(eval(n->left))), n->type);
  case NOTB:
    return wrap(~eval(n->left), n->type);
  case EXCLAIM:
    return eval(n->left) == 0 ? 1 : 0;
  case EQ: case NEQ: case LE: case LT: case GE: case GT:
  case ULE: case ULT: case UGE: case UGT: {
    int64_t a = eval(n->left);
    int64_t b = eval(n->right);
    return compare(n->op, n->left, a, b) ? 1 : 0;
  }
  case ANDAND:
    return eval(n->left) != 0 && eval(n->right) != 0 ? 1 : 0;
  case OROR:
    return eval(n->left) != 0 || eval(n->right) != 0 ? 1 : 0;
  case QUEST:
    if (!n->right || n->right->op != COLON)
      fail("QUEST without COLON");
    return wrap(eval(n->left) != 0 ? eval(n->right->left) : eval(n->right->right), n->type);
  case COMMAOP:
    eval(n->left);
    return eval(n->right);
  case ASG: {
    uint32_t at = address(n->left);
    int64_t v = wrap(eval(n->right), n->left->type);
    store(at, n->left->type, v);
    return v;
  }
  case PLUSASG: case MINUSASG: case MULTASG: case DIVASG: case MODASG:
  case ANDBASG: case ORBASG: case XORBASG: case SLLASG: case SRLASG: {
    uint32_t at = address(n->left);
    int64_t old = load(at, n->left->type);
    int64_t r = eval(n->right);
    int64_t v = wrap(binary(compound_base(n->op), n->type, old, r), n->left->type);
    store(at, n->left->type, v);
    return v;
  }
  case PLUSPLUS:
  case MINMIN: {
    uint32_t at = address(n->left);
    int64_t old = load(at, n->left->type);
    int64_t step = eval(n->right);
    uint64_t u = static_cast<uint64_t>(old);
    u = n->op == PLUSPLUS ? u + static_cast<uint64_t>(step) : u - static_cast<uint64_t>(step);
    store(at, n->left->type, wrap(static_cast<int64_t>(u), n->left->type));
    return old;
  }
  case SCONV:
    if (n->left->type && n->left->type->getr()->kind == TK_FLOATING)
      fail("floating-point values are not supported yet");
    if (n->type && n->type->getr()->kind == TK_INTEGRAL && n->type->getr()->subkind == IK_BOOL)
      return eval(n->left) != 0 ? 1 : 0;   // conversion to _Bool tests for non-zero
    return wrap(eval(n->left), n->type);
  case PCONV:
    return wrap(eval(n->left), n->type);
  case PMCONV: {
    int64_t i = eval(n->left);
    int64_t k = eval(n->right);
    return wrap(static_cast<int64_t>(static_cast<uint64_t>(i) * static_cast<uint64_t>(k / 16)),
                n->type);
  }
  case PVCONV: {
    int64_t d = eval(n->left);
    if (n->left->type && value_width(n->left->type) == 16 && !value_signed(n->left->type))
      d = static_cast<int16_t>(d);   // a difference of two pointers
    int64_t k = eval(n->right) / 16;
    if (k == 0)
      fail("division by zero");
    return wrap(d / k, n->type);
  }
  case CALL:
  case UCALL:
    return call(n);
  default:
    fail("operator " + spell(n->op) + " is not supported yet");
  }
}

int64_t Interpreter::call(NODE *n) {
  std::vector<NODE *> args;
  if (n->op == CALL)
    flatten(n->right, args);
  const SYMTAB *callee = nullptr;
  NODE *c = n->left;
  if (c->op == UAND && c->left && c->left->op == NAME && c->left->sym()) {
    callee = c->left->sym();
  } else {
    int64_t p = eval(c);
    auto it = function_at_.find(static_cast<uint32_t>(p));
    if (it == function_at_.end())
      fail("call through a pointer that does not point to a function");
    callee = it->second;
  }
  std::vector<int64_t> values;
  values.reserve(args.size());
  for (NODE *a : args)
    values.push_back(eval(a));
  return call_function(callee->name_text, callee, args, values, n->type);
}

int64_t Interpreter::call_function(const std::string &name, const SYMTAB *,
                                   const std::vector<NODE *> &args,
                                   const std::vector<int64_t> &values, TYPE *result) {
  auto it = functions_.find(name);
  if (it == functions_.end())
    return builtin(name, args, values);
  int64_t r = execute(it->second, values);
  return result && !result->is_void() ? wrap(r, result) : 0;
}

int64_t Interpreter::execute(FunctionInfo &fi, const std::vector<int64_t> &args) {
  const FUNINFO *saved_fun = current_fun_;
  SrcPos saved_pos = current_pos_;
  uint32_t saved_base = frame_base_;
  uint32_t saved_sp = sp_;
  if (fi.frame_units > kMemoryUnits - sp_ || depth_ >= kMaxCallDepth)
    fail("stack overflow");
  ++depth_;
  uint32_t base = sp_;
  sp_ += fi.frame_units;
  std::fill(memory_.begin() + base, memory_.begin() + sp_, 0);
  frame_base_ = base;
  current_fun_ = fi.fun;
  current_pos_ = fi.fun->body_pos.valid() ? fi.fun->body_pos : fi.fun->begin_pos;
  for (size_t i = 0; i < fi.fun->params.size(); ++i) {
    SYMTAB *p = fi.fun->params[i];
    store(base + local_offset_[p], p->type(), i < args.size() ? args[i] : 0);
  }
  TYPE *fn_type = fi.fun->symbol->type();
  TYPE *result = fn_type && fn_type->is_func() ? fn_type->getr()->base : nullptr;
  int64_t ret = 0;
  const auto &stmts = fi.fun->statements;
  size_t pc = 0;
  while (pc < stmts.size()) {
    const STMT &s = stmts[pc++];
    if (s.pos.valid())
      current_pos_ = s.pos;
    if (++steps_ > options_.max_steps)
      fail("step limit exceeded", kExitStepLimit);
    NODE *t = s.tree;
    auto jump = [&](NODE *label) {
      auto l = fi.labels.find(label->label_number());
      if (l == fi.labels.end())
        fail("branch to undefined label L" + std::to_string(label->label_number()));
      pc = l->second;
    };
    switch (t->op) {
    case LABELDEF:
    case ASM:
    case PPRAGMA:
    case NASSERT:
    case NOP:
    case SKIP:
      break;
    case RETURN:
      ret = eval(t->left);
      if (result && !result->is_void())
        ret = wrap(ret, result);
      pc = stmts.size();
      break;
    case URETURN:
      pc = stmts.size();
      break;
    case BRANCH:
      jump(t->left);
      break;
    case CBRANCH:
      if (eval(t->left) == 0)
        jump(t->right);
      break;
    case ASSERT:
      if (eval(t->left) == 0)
        fail("assertion failed");
      break;
    case LOOP: {
      int64_t count = eval(t->left);
      if (count < 1)
        fail("counted loop with a count below 1");
      loop_counters_.push_back(count);
      break;
    }
    case ENDLOOP:
      if (loop_counters_.empty())
        fail("ENDLOOP without LOOP");
      if (--loop_counters_.back() != 0)
        jump(t->right);
      else
        loop_counters_.pop_back();
      break;
    case SWITCH: {
      int64_t v = eval(t->left);
      std::vector<NODE *> cases;
      flatten(t->right, cases);
      NODE *target = nullptr;
      NODE *deflt = nullptr;
      for (NODE *c : cases) {
        if (c->op == CASE && wrap(c->left->icon.value, t->left->type) == v) {
          target = c->right;
          break;
        }
        if (c->op == DEFAULT)
          deflt = c->left;
      }
      if (!target)
        target = deflt;
      if (target)
        jump(target);
      break;
    }
    default:
      eval(t);
      break;
    }
  }
  --depth_;
  sp_ = saved_sp;
  frame_base_ = saved_base;
  current_fun_ = saved_fun;
  current_pos_ = saved_pos;
  return ret;
}

std::string Interpreter::read_string(uint32_t addr) {
  std::string s;
  for (;;) {
    check_access(addr, 1);
    uint16_t c = memory_[addr++];
    if (c == 0)
      break;
    s.push_back(static_cast<char>(c & 0xff));
  }
  return s;
}

int64_t Interpreter::do_printf(const std::vector<NODE *> &args,
                               const std::vector<int64_t> &values) {
  if (args.empty())
    fail("printf without a format");
  std::string fmt = read_string(static_cast<uint32_t>(values[0]));
  std::string out;
  size_t next = 1;
  for (size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] != '%') {
      out.push_back(fmt[i]);
      continue;
    }
    size_t start = i++;
    std::string conv_text = "%";
    while (i < fmt.size() && std::strchr("-+ #0", fmt[i]))
      conv_text.push_back(fmt[i++]);
    while (i < fmt.size() && (std::isdigit(static_cast<unsigned char>(fmt[i])) || fmt[i] == '.'))
      conv_text.push_back(fmt[i++]);
    while (i < fmt.size() && (fmt[i] == 'l' || fmt[i] == 'h'))
      ++i;   // the argument's own type gives its width
    if (i >= fmt.size()) {
      out.append(fmt, start, std::string::npos);
      break;
    }
    char conv = fmt[i];
    if (conv == '%') {
      out.push_back('%');
      continue;
    }
    if (next >= args.size())
      fail("printf: too few arguments for the format");
    NODE *a = args[next];
    int64_t v = values[next++];
    char buf[512];
    switch (conv) {
    case 'd':
    case 'i':
      conv_text += "lld";
      std::snprintf(buf, sizeof buf, conv_text.c_str(), static_cast<long long>(v));
      break;
    case 'u':
    case 'x':
    case 'X':
    case 'o': {
      uint32_t w = value_width(a->type);
      uint64_t u = static_cast<uint64_t>(v);
      if (w < 64)
        u &= (uint64_t{1} << w) - 1;
      conv_text += "ll";
      conv_text.push_back(conv);
      std::snprintf(buf, sizeof buf, conv_text.c_str(), static_cast<unsigned long long>(u));
      break;
    }
    case 'c':
      conv_text += "c";
      std::snprintf(buf, sizeof buf, conv_text.c_str(), static_cast<int>(v & 0xff));
      break;
    case 's': {
      std::string s = read_string(static_cast<uint32_t>(v));
      conv_text += "s";
      std::snprintf(buf, sizeof buf, conv_text.c_str(), s.c_str());
      break;
    }
    default:
      fail(std::string("printf: unsupported conversion '%") + conv + "'");
    }
    out += buf;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return static_cast<int64_t>(out.size());
}

int64_t Interpreter::builtin(const std::string &name, const std::vector<NODE *> &args,
                             const std::vector<int64_t> &values) {
  if (name == "putchar") {
    if (values.empty())
      fail("putchar without an argument");
    std::fputc(static_cast<int>(values[0] & 0xff), stdout);
    return values[0] & 0xff;
  }
  if (name == "printf")
    return do_printf(args, values);
  if (name == "puts") {
    if (values.empty())
      fail("puts without an argument");
    std::string text = read_string(static_cast<uint32_t>(values[0]));
    text.push_back('\n');
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
  }
  if (name == "exit")
    throw ProgramExit{values.empty() ? 0 : static_cast<int>(values[0] & 0xff)};
  if (name == "abort")
    fail("abort called", kExitAbort);
  fail("call of unknown external function '" + name + "'");
}

int Interpreter::run() {
  try {
    layout_globals();
    sp_ = global_top_;
    auto it = functions_.find(options_.entry);
    if (it == functions_.end()) {
      std::fflush(stdout);
      std::fprintf(stderr, "zrun: error: no function '%s' to run\n", options_.entry.c_str());
      return kExitRuntimeError;
    }
    TYPE *fn_type = it->second.fun->symbol->type();
    TYPE *result = fn_type && fn_type->is_func() ? fn_type->getr()->base : nullptr;
    int64_t r = execute(it->second, {});
    std::fflush(stdout);
    return result && !result->is_void() ? static_cast<int>(r & 0xff) : 0;
  } catch (const ProgramExit &e) {
    std::fflush(stdout);
    return e.status;
  } catch (const RunError &e) {
    std::fflush(stdout);
    std::fprintf(stderr, "zrun: error: %s%s\n", e.what(), where().c_str());
    return e.exit_code;
  } catch (const std::exception &e) {
    // A fault of the type package on a malformed tree.
    std::fflush(stdout);
    std::string msg = e.what();
    while (!msg.empty() && msg.back() == '\n')
      msg.pop_back();
    while (!msg.empty() && msg.front() == '\n')
      msg.erase(0, 1);
    std::fprintf(stderr, "zrun: error: %s%s\n", msg.c_str(), where().c_str());
    return kExitRuntimeError;
  }
}

} // namespace zor::run
