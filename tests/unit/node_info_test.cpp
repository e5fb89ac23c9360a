// The operator-information table: facts, maps, printed forms and the
// start-up check against the interchange table.
#include "ir/node_info.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace zor {
namespace {

TEST(NodeInfoTable, UnassignedCodesHaveDefaults) {
  for (uint32_t op : {28u, 35u, 120u, 157u, 162u}) {
    EXPECT_EQ(op_name(op), nullptr) << op;
    EXPECT_EQ(op_arity(op), kNoArity) << op;
    EXPECT_EQ(negate_op(op), ILLOP) << op;
    EXPECT_EQ(commute_op(op), ILLOP) << op;
    EXPECT_EQ(asg_base_op(op), ILLOP) << op;
    EXPECT_STREQ(op_mnemonic(op), "?NODE?  ") << op;
  }
  // Codes past the table answer like unassigned ones.
  EXPECT_EQ(op_arity(500), kNoArity);
  EXPECT_STREQ(op_mnemonic(kNumOps), "?NODE?  ");
}

TEST(NodeInfoTable, EpvalBelongsToTheInterchangeTableOnly) {
  EXPECT_EQ(op_name(EPVAL), nullptr);
  EXPECT_EQ(op_arity(EPVAL), kNoArity);
  ASSERT_NE(interchange_op(EPVAL), nullptr);
  EXPECT_STREQ(interchange_op(EPVAL)->name, "EPVAL");
  EXPECT_STREQ(op_infix(EPVAL), "EPVAL");
}

TEST(NodeInfoTable, RowsCarryTheirFacts) {
  EXPECT_STREQ(op_name(DFG_HASHPARM), "DFG_HASHPARM");
  EXPECT_EQ(op_arity(DFG_SQC), 3u);
  EXPECT_EQ(op_arity(DFG_SSV), kNoArity);
  EXPECT_EQ(op_arity(ILLOP), kNoArity);
  EXPECT_EQ(op_prec(EXPT), 88u);
  EXPECT_EQ(op_prec(ABS), 15u);
  EXPECT_EQ(op_prec(MIX_CONJ), op_prec(ANDAND));
  EXPECT_EQ(op_effect(ARASG), EFF_OTHER);
  EXPECT_EQ(op_effect(SSA_PHI), EFF_ASSIGNS);
  EXPECT_EQ(op_effect(LABELDEF), EFF_CONTROL);
  EXPECT_FALSE(op_has_effect(PLUS));
  EXPECT_TRUE(op_has_effect(NOP));
  EXPECT_TRUE(op_is_truth(FUNO));
  EXPECT_TRUE(op_is_truth(MIX_DISJ));
  EXPECT_FALSE(op_is_truth(QUEST));
}

TEST(NodeInfoMaps, Negation) {
  EXPECT_EQ(negate_op(FLE), FGTN);
  EXPECT_EQ(negate_op(FGTN), FLE);
  EXPECT_EQ(negate_op(NEQ), EQ);
  EXPECT_EQ(negate_op(ULT), UGE);
  EXPECT_EQ(negate_op(PLUS), ILLOP);
  for (uint32_t op = 0; op < kNumOps; ++op) {
    if (negate_op(op) != ILLOP) {
      EXPECT_EQ(negate_op(negate_op(op)), op) << op_name(op);
    }
  }
  // A float comparison's complement is the complement of its outcome set.
  for (uint32_t op = FEQ; op <= FUNO; ++op)
    EXPECT_EQ(float_op_to_micro_ops(negate_op(op)), FO_ALL - float_op_to_micro_ops(op))
        << op_name(op);
}

TEST(NodeInfoMaps, Commutation) {
  EXPECT_EQ(commute_op(FLE), FGE);
  EXPECT_EQ(commute_op(FLTN), FGTN);
  EXPECT_EQ(commute_op(ULE), UGE);
  EXPECT_EQ(commute_op(MINUS), ILLOP);
  EXPECT_EQ(commute_op(DIV), ILLOP);
  EXPECT_TRUE(op_is_commutative(PLUS));
  EXPECT_TRUE(op_is_commutative(FNEQN));
  EXPECT_TRUE(op_is_commutative(DFG_MIN));
  EXPECT_FALSE(op_is_commutative(LT));
  for (uint32_t op = 0; op < kNumOps; ++op) {
    if (commute_op(op) != ILLOP) {
      EXPECT_EQ(commute_op(commute_op(op)), op) << op_name(op);
    }
  }
  // Exchanging the operands exchanges the less and greater outcomes.
  for (uint32_t op = FEQ; op <= FUNO; ++op) {
    uint32_t b = float_op_to_micro_ops(op);
    uint32_t swapped = (b & (FO_EQUAL | FO_UNORDERED)) | (b & FO_LESS ? FO_GREATER : 0) |
                       (b & FO_GREATER ? FO_LESS : 0);
    EXPECT_EQ(float_op_to_micro_ops(commute_op(op)), swapped) << op_name(op);
  }
}

TEST(NodeInfoMaps, CompoundAssignmentBase) {
  EXPECT_EQ(asg_base_op(PLUSASG), PLUS);
  EXPECT_EQ(asg_base_op(SRLASG), SRL);
  EXPECT_EQ(asg_base_op(MODASG), MOD);
  EXPECT_EQ(asg_base_op(ASG), ILLOP);
  EXPECT_EQ(asg_base_op(PLUS), ILLOP);
}

TEST(NodeInfoMaps, MicroOpsRoundTrip) {
  std::set<uint32_t> seen;
  for (uint32_t op = FEQ; op <= FUNO; ++op) {
    uint32_t bits = float_op_to_micro_ops(op);
    EXPECT_GE(bits, 1u);
    EXPECT_LE(bits, 14u);
    EXPECT_EQ(float_micro_ops_to_op(bits), op) << op_name(op);
    seen.insert(bits);
  }
  EXPECT_EQ(seen.size(), 14u);
  EXPECT_EQ(float_micro_ops_to_op(0), kFloatAlwaysFalse);
  EXPECT_EQ(float_micro_ops_to_op(15), kFloatAlwaysTrue);
  EXPECT_EQ(float_op_to_micro_ops(FLEN), FO_LESS | FO_EQUAL | FO_UNORDERED);
  EXPECT_EQ(float_op_to_micro_ops(PLUS), 0u);
}

TEST(NodeInfoText, DumpMnemonics) {
  EXPECT_STREQ(op_mnemonic(ILLOP), " ?ILLOP?");
  EXPECT_STREQ(op_mnemonic(LABEL), "LABELREF");
  EXPECT_STREQ(op_mnemonic(FUNO), "unord   ");
  EXPECT_STREQ(op_mnemonic(SQR), "SQUARE  ");
  EXPECT_STREQ(op_mnemonic(COMMAOP), ",OP     ");
  EXPECT_STREQ(op_mnemonic(UMULT), "U*      ");
  EXPECT_STREQ(op_mnemonic(SRLASG), ">>=     ");
  EXPECT_STREQ(op_mnemonic(COMMA), ",       ");
  EXPECT_STREQ(op_mnemonic(PCOMMA), "PCOMMA  ");
  EXPECT_STREQ(op_mnemonic(ULE), "ULE     ");
  EXPECT_STREQ(op_mnemonic(DFG_DONOTCSE), "DFG_DONOTCSE");
  for (uint32_t op = 0; op < kNumOps; ++op)
    EXPECT_GE(std::strlen(op_mnemonic(op)), 8u) << op;
}

TEST(NodeInfoText, InfixSpellings) {
  EXPECT_STREQ(op_infix(PLUS), "+");
  EXPECT_STREQ(op_infix(UMINUS), "-");
  EXPECT_STREQ(op_infix(SLLASG), " <<= ");
  EXPECT_STREQ(op_infix(COMMAOP), " , ");
  EXPECT_STREQ(op_infix(PCOMMA), ", ");
  EXPECT_STREQ(op_infix(ARASG), " = ");
  EXPECT_STREQ(op_infix(ULE), " <= ");
  EXPECT_STREQ(op_infix(FNEQ), " <> ");
  EXPECT_STREQ(op_infix(FNEQN), " ?<> ");
  EXPECT_STREQ(op_infix(FORD), " <=> ");
  EXPECT_STREQ(op_infix(FUNO), " unordered ");
  EXPECT_STREQ(op_infix(RETURN), "return ");
  EXPECT_STREQ(op_infix(NASSERT), "assert");
  EXPECT_STREQ(op_infix(RECIP), "1/");
  EXPECT_STREQ(op_infix(SSA_CHI), "CHI");
  EXPECT_STREQ(op_infix(VSCONV), "VSCONV");
  // No spelling of its own: the dump mnemonic.
  EXPECT_STREQ(op_infix(SCONV), "SCONV   ");
  EXPECT_STREQ(op_infix(ILLOP), " ?ILLOP?");
}

// ------------------------------------------------------------ start-up check

// A copy of the interchange table that a test can spoil.
struct FakeInterchange {
  std::vector<InterchangeOp> ops;
  FakeInterchange() {
    for (uint32_t c = 0; c <= kMaxFileOp; ++c)
      ops.push_back(*interchange_op(c));
  }
  std::function<const InterchangeOp *(uint32_t)> lookup() {
    return [this](uint32_t c) { return c < ops.size() ? &ops[c] : nullptr; };
  }
};

struct CheckRun {
  std::string debug, err;
  int stops = 0;
  bool ok = false;

  void run(OpTableCheck check) {
    check.debug = [this](const char *line) { debug += line; };
    check.stop = [this] { ++stops; };
    check.err = std::tmpfile();
    ok = validate_if_node_info(check);
    std::rewind(check.err);
    char buf[256];
    while (std::fgets(buf, sizeof buf, check.err))
      err += buf;
    std::fclose(check.err);
  }
};

TEST(NodeInfoValidation, RealTablesAgree) {
  CheckRun r;
  r.run({});
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.stops, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.debug, " *** VALIDATING OPCODE TABLES\n *** OPCODE TABLES ARE OK\n");
}

TEST(NodeInfoValidation, ArityMismatchIsReportedAndStops) {
  FakeInterchange fake;
  fake.ops[PLUS].arity = 1;
  OpTableCheck check;
  check.interchange = fake.lookup();
  CheckRun r;
  r.run(check);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.stops, 1);
  EXPECT_EQ(r.err, "INTERNAL ERROR: if_node_info[] mismatch\n");
  EXPECT_EQ(r.debug, " *** VALIDATING OPCODE TABLES\n"
                     "OP#6: 6 || 6 || (2 != 1) <<PLUS>> <<PLUS>>\n");
}

TEST(NodeInfoValidation, EveryMismatchIsListedBeforeTheStop) {
  FakeInterchange fake;
  fake.ops[SQRT].name = nullptr;
  fake.ops[VREG].name = "VREGX";
  OpTableCheck check;
  check.interchange = fake.lookup();
  CheckRun r;
  r.run(check);
  EXPECT_EQ(r.stops, 1);
  EXPECT_EQ(r.debug, " *** VALIDATING OPCODE TABLES\n"
                     "\tNo match for SQRT\n"
                     "OP#163: 163 || 163 || (0 != 0) <<VREG>> <<VREGX>>\n");
}

TEST(NodeInfoValidation, AnchorOperatorsAreCheckedFirst) {
  FakeInterchange fake;
  fake.ops[CALL].code = 71;
  OpTableCheck check;
  check.interchange = fake.lookup();
  CheckRun r;
  r.run(check);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.err, "INTERNAL ERROR: if_node_info[] mismatch\n");
  EXPECT_EQ(r.debug, " *** VALIDATING OPCODE TABLES\n");
}

TEST(NodeInfoValidation, BrokenMicroOpsAreReported) {
  std::array<NodeInfo, kNumOps> spoiled = if_node_info;
  spoiled[FLE].micro_ops = float_op_to_micro_ops(FGE);
  OpTableCheck check;
  check.info = spoiled.data();
  CheckRun r;
  r.run(check);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.err, "float_micro_ops_to_op is not the reverse of float_op_to_micro_ops at FLE\n");
}

TEST(NodeInfoValidationDeathTest, MismatchStopsTheProgram) {
  FakeInterchange fake;
  fake.ops[UMINUS].name = "NEG";
  OpTableCheck check;
  check.interchange = fake.lookup();
  check.stop = [] { std::exit(1); };
  EXPECT_EXIT(validate_if_node_info(check), testing::ExitedWithCode(1),
              "INTERNAL ERROR: if_node_info\\[\\] mismatch");
}

} // namespace
} // namespace zor
