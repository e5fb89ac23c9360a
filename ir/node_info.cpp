// ir/node_info.cpp - the operator-information table and its start-up check.
//
// The table is computed from ir/opcodes.def at compile time, so it is ready
// before any code runs; validate_if_node_info() compares it with the
// interchange table of the I-code format.
#include "ir/node_info.h"

#include <cstring>
#include <string>

namespace zor {
namespace {

struct OpPair {
  uint32_t a, b;
};

struct OpText {
  uint32_t op;
  const char *text;
};

// Logical complements, each pair both ways.
constexpr OpPair kNegations[] = {
    {EQ, NEQ},     {LE, GT},     {LT, GE},     {ULE, UGT},
    {ULT, UGE},    {FEQ, FNEQN}, {FNEQ, FEQN}, {FLE, FGTN},
    {FLT, FGEN},   {FGE, FLTN},  {FGT, FLEN},  {FORD, FUNO},
};

// Operators that give the same result with their operands exchanged.
constexpr uint32_t kCommutative[] = {
    PLUS, MULT, ANDB, ORB,  XORB, EQ,       NEQ,      FEQ,     FNEQ,
    FEQN, FNEQN, FORD, FUNO, MIX_CONJ, MIX_DISJ, DFG_MAX, DFG_MIN,
};

// Operand exchange that needs another operator, each pair both ways.
constexpr OpPair kSwaps[] = {
    {LE, GE},   {LT, GT},   {ULE, UGE},   {ULT, UGT},
    {FLE, FGE}, {FLT, FGT}, {FLEN, FGEN}, {FLTN, FGTN},
};

constexpr OpPair kAsgBases[] = {
    {PLUSASG, PLUS}, {MINUSASG, MINUS}, {MULTASG, MULT}, {ANDBASG, ANDB},
    {ORBASG, ORB},   {XORBASG, XORB},   {DIVASG, DIV},   {MODASG, MOD},
    {SLLASG, SLL},   {SRLASG, SRL},
};

// Outcome sets of the float comparisons (bit 0 equal, 1 less, 2 greater,
// 3 unordered).
constexpr OpPair kMicroOps[] = {
    {FEQ, 1},   {FLT, 2},   {FLE, 3},    {FGT, 4},   {FGE, 5},
    {FNEQ, 6},  {FORD, 7},  {FUNO, 8},   {FEQN, 9},  {FLTN, 10},
    {FLEN, 11}, {FGTN, 12}, {FGEN, 13},  {FNEQN, 14},
};

// Dump mnemonics that differ from the operator name.
constexpr OpText kMnemonics[] = {
    {LABEL, "LABELREF"}, {FUNO, "unord"},  {SQR, "SQUARE"},  {COMMAOP, ",OP"},
    {UMINUS, "U-"},      {UMULT, "U*"},    {UAND, "U&"},     {ILLOP, " ?ILLOP?"},
    {PLUS, "+"},         {PLUSASG, "+="},  {MINUS, "-"},     {MINUSASG, "-="},
    {MULT, "*"},         {MULTASG, "*="},  {ANDB, "&"},      {ANDBASG, "&="},
    {ORB, "|"},          {ORBASG, "|="},   {XORB, "^"},      {XORBASG, "^="},
    {QUEST, "?"},        {COLON, ":"},     {ANDAND, "&&"},   {OROR, "||"},
    {COMMA, ","},        {ASG, "="},       {DIV, "/"},       {DIVASG, "/="},
    {MOD, "%"},          {MODASG, "%="},   {SLL, "<<"},      {SLLASG, "<<="},
    {SRL, ">>"},         {SRLASG, ">>="},  {STDOT, "."},     {STREF, "->"},
    {EXCLAIM, "!"},      {NOTB, "~"},      {PLUSPLUS, "++"}, {MINMIN, "--"},
    {EQ, "=="},          {NEQ, "!="},      {LE, "<="},       {LT, "<"},
    {GE, ">="},          {GT, ">"},
};

// Infix spellings for C-like printing.  Operators listed with a null text
// spell as their own name; operators not listed fall back to the mnemonic.
constexpr OpText kInfix[] = {
    {PLUSASG, " += "},  {MINUSASG, " -= "}, {MULTASG, " *= "},   {ANDBASG, " &= "},
    {ORBASG, " |= "},   {XORBASG, " ^= "},  {DIVASG, " /= "},    {MODASG, " %= "},
    {SLLASG, " <<= "},  {SRLASG, " >>= "},
    {QUEST, " ? "},     {COLON, " : "},     {ANDAND, " && "},    {OROR, " || "},
    {COMMA, ", "},      {PCOMMA, ", "},     {COMMAOP, " , "},
    {ASG, " = "},       {STASG, " = "},     {ARASG, " = "},
    {SLL, "<<"},        {SRL, ">>"},        {STDOT, "."},        {STREF, "->"},
    {PLUSPLUS, "++"},   {MINMIN, "--"},     {EXCLAIM, "!"},      {NOTB, "~"},
    {PLUS, "+"},        {MINUS, "-"},       {MULT, "*"},         {DIV, "/"},
    {MOD, "%"},         {ANDB, "&"},        {ORB, "|"},          {XORB, "^"},
    {UMINUS, "-"},      {UMULT, "*"},       {UAND, "&"},
    {EQ, " == "},       {FEQ, " == "},      {NEQ, " != "},
    {LE, " <= "},       {ULE, " <= "},      {FLE, " <= "},
    {LT, " < "},        {ULT, " < "},       {FLT, " < "},
    {GE, " >= "},       {UGE, " >= "},      {FGE, " >= "},
    {GT, " > "},        {UGT, " > "},       {FGT, " > "},
    {FNEQ, " <> "},     {FEQN, " ?= "},     {FNEQN, " ?<> "},    {FLEN, " ?<= "},
    {FLTN, " ?< "},     {FGEN, " ?>= "},    {FGTN, " ?> "},      {FORD, " <=> "},
    {FUNO, " unordered "},
    {RETURN, "return "}, {URETURN, "return"}, {ABS, "ABS"},      {SQRT, "sqrt"},
    {SQR, "SQUARE"},    {ASSERT, "assert"}, {NASSERT, "assert"}, {MEMCPY, "memcpy"},
    {TOIEEE, "toieee"}, {FRIEEE, "frieee"}, {RECIP, "1/"},       {EXPT, "^^"},
    {INITLOOP, " INITLOOP "}, {MIX_CONJ, "&&&"}, {MIX_DISJ, "|||"},
    {SSA_PHI, "PHI"},   {SSA_USE, "USE"},   {SSA_DEF, "DEF"},    {SSA_MU, "MU"},
    {SSA_CHI, "CHI"},
    {STFIELD, nullptr}, {DDNODE, nullptr},  {VPACK, nullptr},    {VPACKM, nullptr},
    {VPACK1P, nullptr}, {VFIELD, nullptr},  {VRCONV, nullptr},   {VSCONV, nullptr},
    {COMPLEX, nullptr}, {SIMDHI, nullptr},  {SIMDLO, nullptr},
};

constexpr void set_mnemonic(NodeInfo &e, const char *text) {
  size_t n = 0;
  for (; text[n] && n + 1 < sizeof e.mnemonic; ++n)
    e.mnemonic[n] = text[n];
  for (; n < 8; ++n)
    e.mnemonic[n] = ' ';
  e.mnemonic[n] = '\0';
}

constexpr std::array<NodeInfo, kNumOps> build_if_node_info() {
  std::array<NodeInfo, kNumOps> t{};
  for (NodeInfo &e : t)
    set_mnemonic(e, "?NODE?");
#define OPCODE(nm, code, ar, pr, eff, tru, file, info)                              \
  if (info) {                                                                     \
    t[code].name = #nm;                                                           \
    t[code].arity = ar;                                                           \
    t[code].prec = pr;                                                            \
    t[code].effect = eff;                                                         \
    t[code].truth = tru;                                                          \
    set_mnemonic(t[code], #nm);                                                   \
  }
#include "ir/opcodes.def"
#undef OPCODE
  for (const OpPair &p : kNegations) {
    t[p.a].negate = p.b;
    t[p.b].negate = p.a;
  }
  for (uint32_t op : kCommutative)
    t[op].commute = op;
  for (const OpPair &p : kSwaps) {
    t[p.a].commute = p.b;
    t[p.b].commute = p.a;
  }
  for (const OpPair &p : kAsgBases)
    t[p.a].asg_base = p.b;
  for (const OpPair &p : kMicroOps)
    t[p.a].micro_ops = static_cast<uint8_t>(p.b);
  for (const OpText &m : kMnemonics)
    set_mnemonic(t[m.op], m.text);
  for (const OpText &s : kInfix)
    t[s.op].infix = s.text ? s.text : t[s.op].name;
  return t;
}

constexpr std::array<uint32_t, 16> build_micro_ops_to_op() {
  std::array<uint32_t, 16> r{};
  r[0] = kFloatAlwaysFalse;
  r[15] = kFloatAlwaysTrue;
  for (const OpPair &p : kMicroOps)
    r[p.b] = p.a;
  return r;
}

constexpr std::array<uint32_t, 16> kMicroOpsToOp = build_micro_ops_to_op();

constexpr NodeInfo build_unassigned() {
  NodeInfo e{};
  set_mnemonic(e, "?NODE?");
  return e;
}

} // namespace

constinit const std::array<NodeInfo, kNumOps> if_node_info = build_if_node_info();
constinit const NodeInfo kUnassignedNodeInfo = build_unassigned();

uint32_t float_micro_ops_to_op(uint32_t bits) { return kMicroOpsToOp[bits & FO_ALL]; }

namespace {

constexpr const char kMismatch[] = "INTERNAL ERROR: if_node_info[] mismatch\n";

bool same_name(const char *a, const char *b) {
  return a && b && std::strcmp(a, b) == 0;
}

bool fail(const OpTableCheck &check, const std::string &line) {
  std::fputs(line.c_str(), check.err);
  std::fflush(check.err);
  if (check.stop)
    check.stop();
  return false;
}

void debug_line(const OpTableCheck &check, const std::string &line) {
  if (check.debug)
    check.debug(line.c_str());
}

// NAME, UMINUS and CALL anchor the two tables: their codes and arities are
// fixed by the file format.
bool anchors_agree(const OpTableCheck &check) {
  struct Anchor {
    uint32_t code, arity;
  };
  for (Anchor a : {Anchor{NAME, 0}, Anchor{UMINUS, 1}, Anchor{CALL, 2}}) {
    const InterchangeOp *ic = check.interchange(a.code);
    if (!ic || ic->code != a.code || ic->arity != a.arity ||
        !same_name(ic->name, check.info[a.code].name))
      return false;
  }
  return true;
}

// Every file code with an optimizer entry must have the same code, arity
// and name in the interchange table.  Prints each mismatch while debugging.
bool file_codes_agree(const OpTableCheck &check) {
  bool ok = true;
  char buf[256];
  for (uint32_t c = 0; c <= kMaxFileOp; ++c) {
    const NodeInfo &e = check.info[c];
    if (!e.name)
      continue;
    const InterchangeOp *ic = check.interchange(c);
    if (!ic || !ic->name) {
      std::snprintf(buf, sizeof buf, "\tNo match for %s\n", e.name);
      debug_line(check, buf);
      ok = false;
      continue;
    }
    if (ic->code != c || ic->arity != e.arity || !same_name(ic->name, e.name)) {
      std::snprintf(buf, sizeof buf, "OP#%d: %d || %d || (%d != %d) <<%s>> <<%s>>\n",
                    static_cast<int>(c), static_cast<int>(c), static_cast<int>(ic->code),
                    static_cast<int>(e.arity), static_cast<int>(ic->arity), e.name,
                    ic->name);
      debug_line(check, buf);
      ok = false;
    }
  }
  return ok;
}

} // namespace

bool validate_if_node_info(const OpTableCheck &check) {
  debug_line(check, " *** VALIDATING OPCODE TABLES\n");
  if (!anchors_agree(check) || !file_codes_agree(check))
    return fail(check, kMismatch);
  for (uint32_t op = FEQ; op <= FUNO; ++op) {
    uint32_t bits = check.info[op].micro_ops;
    if (kMicroOpsToOp[bits & FO_ALL] != op) {
      const char *name = check.info[op].name ? check.info[op].name : "?";
      return fail(check, std::string("float_micro_ops_to_op is not the reverse of "
                                     "float_op_to_micro_ops at ") +
                             name + "\n");
    }
  }
  debug_line(check, " *** OPCODE TABLES ARE OK\n");
  return true;
}

} // namespace zor
