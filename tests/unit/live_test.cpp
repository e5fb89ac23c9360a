// Live variables, dead-assignment elimination, the sinking of assignments
// and the adjacent-assignment merger on small functions built from trees:
// the candidates chosen, the per-block sets on a loop, what a dead
// assignment leaves (effects, values), what must stay (conditional arms,
// loop-carried values, aliasing), and trees too deep to walk.
// (End-to-end cases with traces: tests/lit/deadasg.)
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cfg/flowgraph.h"
#include "ir/bitvector.h"
#include "ir/funinfo.h"
#include "ir/node.h"
#include "ir/symtab.h"
#include "ir/tree_build.h"
#include "ir/tree_print.h"
#include "ir/type.h"
#include "opt/combine_asgs.h"
#include "opt/deadasg.h"
#include "opt/live.h"
#include "tests/support/cfg_graphs.h"

namespace zor {
namespace {

class LiveTest : public testing::Test {
protected:
  LiveTest() {
    fn.name_text = "f";
    fn.type_ = pkg.mk_function(i32());
    fn.funinfo = &fi;
    fi.symbol = &fn;
    fi.types = &pkg;
    local(x, "x");
    local(y, "y");
    local(z, "z");
    param(a, "a", i32());
    param(p, "p", pkg.mk_pointer(i32()));
    declare(g, "g", i32());
    declare(callee, "callee", pkg.mk_function(i32()));
    g.sclass = SC_EXTERN_DEF;
    callee.sclass = SC_EXTERN_DEF;
    saved_fi_ = currfuninfo;
    saved_fn_ = currfunc;
    currfuninfo = &fi;
    currfunc = &fn;
  }
  ~LiveTest() override {
    fi.release_flow_graph();
    fi.release_statements();
    currfuninfo = saved_fi_;
    currfunc = saved_fn_;
  }

  void declare(SYMTAB &s, const char *name, TYPE *t) {
    s.name_text = name;
    s.type_ = t;
    s.otype = t;
    s.size_bits = t->size;
    s.sclass = SC_AUTO;
  }
  void local(SYMTAB &s, const char *name, TYPE *t = nullptr) {
    declare(s, name, t ? t : i32());
    s.level = 2;
    fi.locals.push_back(&s);
  }
  void param(SYMTAB &s, const char *name, TYPE *t) {
    declare(s, name, t);
    s.level = 1;
    fi.params.push_back(&s);
  }

  TYPE *i32() { return pkg.mk_int(IK_INT); }
  TYPE *v() { return pkg.mk_void(); }
  NODE *n(SYMTAB &s) { return mk_name(&s); }
  NODE *k(int64_t value) { return mk_icon(value, i32()); }
  NODE *bin(uint32_t op, NODE *l, NODE *r) { return mk_binary(op, l, r, l->type); }
  NODE *asg(SYMTAB &s, NODE *value) { return bin(ASG, n(s), value); }
  NODE *call() { return mk_unary(UCALL, mk_unary(UAND, n(callee), pkg.mk_pointer(callee.type_)), i32()); }
  NODE *ret(NODE *value) { return make_node(RETURN, value, new_node(NOP, v()), v()); }
  NODE *label_def(uint32_t number) {
    NODE *d = new_node(LABELDEF, v());
    d->set_label_number(number);
    return d;
  }
  NODE *label(uint32_t number) {
    NODE *l = new_node(LABEL, v());
    l->set_label_number(number);
    return l;
  }
  // Jumps to `number` when `cond` is false.
  NODE *cbranch(NODE *cond, uint32_t number) { return make_node(CBRANCH, cond, label(number), v()); }
  NODE *branch(uint32_t number) { return make_node(BRANCH, label(number), nullptr, v()); }

  void stmt(NODE *t, uint32_t line = 0) { fi.statements.push_back({t, SrcPos{"t.c", line, 1}}); }
  void build() { build_flow_graph(); }

  // The statements of every block in dfn order, in source form.
  std::vector<std::string> texts() {
    std::vector<std::string> out;
    FOR_EACH_BLOCK(bb, fi)
      for (STLIST *s = bb->statements; s; s = s->rest)
        out.push_back(tree_source(s->first));
    return out;
  }
  bool has(const std::string &text) {
    for (const std::string &t : texts())
      if (t == text)
        return true;
    return false;
  }
  bool is_local(const SYMTAB &s) {
    for (SYMTAB *l : fi.locals)
      if (l == &s)
        return true;
    return false;
  }

  TYPE_PKG pkg;
  SYMTAB fn, x, y, z, a, p, g, callee;
  FUNINFO fi;

private:
  FUNINFO *saved_fi_;
  SYMTAB *saved_fn_;
};

// ------------------------------------------------------------- candidates

TEST_F(LiveTest, CandidatesAreScalarLocalsWhoseAddressIsNeverTaken) {
  SYMTAB vol, arr, addr;
  local(vol, "vol", pkg.mk_qualified(i32(), Q_VOLATILE));
  local(addr, "addr");
  local(arr, "arr", pkg.mk_array(i32(), 4, 64, 32, true));
  stmt(asg(x, k(1)));
  stmt(asg(p, mk_unary(UAND, n(addr), pkg.mk_pointer(i32()))));
  stmt(ret(n(x)));
  build();
  LVA_CANDIDATES c = choose_lva_candidates(fi, false);
  ASSERT_EQ(c.size(), 3u);   // x, y, z
  EXPECT_EQ(c.number_of(&x), 0);
  EXPECT_EQ(c.number_of(&z), 2);
  EXPECT_EQ(c.number_of(&vol), -1);
  EXPECT_EQ(c.number_of(&addr), -1);
  EXPECT_EQ(c.number_of(&arr), -1);
  EXPECT_EQ(c.number_of(&a), -1);
  EXPECT_EQ(c.number_of(&g), -1);   // globals never
  // With parameters, the pointer parameter joins; the int one does not.
  c = choose_lva_candidates(fi, true);
  EXPECT_EQ(c.number_of(&p), 3);
  EXPECT_EQ(c.number_of(&a), -1);
  // A symbol of another function with a stale number is no candidate here.
  SYMTAB other;
  other.candidate_number = 1;
  EXPECT_EQ(c.number_of(&other), -1);
}

// ---------------------------------------------------------- the live sets

// x = 0; L1: if (x < a) { y = x; x = x + 1; goto L1 } return y + z
TEST_F(LiveTest, LoopCarriedVariablesAreLiveAroundTheBackEdge) {
  stmt(asg(x, k(0)));
  stmt(label_def(1));
  stmt(cbranch(bin(LT, n(x), n(a)), 2));
  stmt(asg(y, n(x)));
  stmt(asg(x, bin(PLUS, n(x), k(1))));
  stmt(branch(1));
  stmt(label_def(2));
  stmt(ret(bin(PLUS, n(y), n(z))));
  build();
  LVA_CANDIDATES c = find_live_variables(0, 0);
  ASSERT_EQ(c.size(), 3u);
  BBLK *entry = fi.bb_list;
  BBLK *header = entry->successors->bb;
  const bitvector &in = *header->dataflow[DF_IN];
  EXPECT_TRUE(in.test(0));    // x: read by the test
  EXPECT_TRUE(in.test(1));    // y: read after the loop when it does not run
  EXPECT_TRUE(in.test(2));    // z: never assigned, read at the end
  EXPECT_FALSE(entry->dataflow[DF_IN]->test(0));   // assigned first in the entry
  EXPECT_TRUE(entry->dataflow[DF_KILL]->test(0));
  EXPECT_TRUE(header->dataflow[DF_GEN]->test(0));
  for (BBLK *bb = fi.bb_list; bb; bb = bb->next) {
    if (!bb->successors) {
      EXPECT_TRUE(bb->dataflow[DF_OUT]->empty());
    }
  }
  release_live_variables(fi);
  EXPECT_EQ(entry->dataflow[DF_IN], nullptr);
  EXPECT_EQ(fi.df_vector_size, 0u);
}

TEST_F(LiveTest, AssignmentsInConditionalArmsKillNothing) {
  // y = a ? (x = 1) : 2; return x  -- x stays live on entry.
  stmt(asg(y, bin(QUEST, n(a), bin(COLON, asg(x, k(1)), k(2)))));
  stmt(ret(n(x)));
  build();
  find_live_variables(0, 0);
  EXPECT_TRUE(fi.bb_list->dataflow[DF_IN]->test(0));
  EXPECT_FALSE(fi.bb_list->dataflow[DF_KILL]->test(0));
  release_live_variables(fi);
}

TEST_F(LiveTest, AnOperatorOutsideTheTreeFormIsAnInternalError) {
  stmt(asg(x, mk_unary(SSA_USE, n(y), i32())));
  stmt(ret(n(x)));
  build();
  EXPECT_DEATH(find_live_variables(0, 0), "Error in 'local_lva_defs\\(\\)', opcode=187 SSA_USE");
}

TEST_F(LiveTest, SideEffectsKeepCallsDivisionsAndConditionalArms) {
  auto effects = [&](NODE *t) {
    NODE *r = side_effects_of(t);
    std::string text = r ? tree_source(r) : "";
    erase_tree(r);
    return text;
  };
  EXPECT_EQ(effects(bin(PLUS, n(x), bin(MULT, n(y), k(3)))), "");
  EXPECT_EQ(effects(bin(PLUS, call(), bin(DIV, n(x), n(y)))), "(&callee)() , x/y");
  EXPECT_EQ(effects(bin(QUEST, call(), bin(COLON, k(1), n(x)))), "(&callee)()");
  EXPECT_EQ(effects(bin(ANDAND, n(x), asg(y, k(1)))), "x && (y = 1)");
  // A right-leaning chain deeper than any walk: kept as it is.
  NODE *deep = call();
  for (int i = 0; i < 3000; ++i)
    deep = bin(PLUS, n(x), deep);
  NODE *r = side_effects_of(deep);
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(has_effects_or_traps(r));
  erase_tree(r);
}

// ------------------------------------------------ dead-assignment elimination

TEST_F(LiveTest, AnOverwrittenAssignmentGoesAndTheOtherStays) {
  stmt(asg(x, k(1)));
  stmt(asg(x, n(g)));
  stmt(asg(y, n(x)));
  stmt(ret(n(y)));
  build();
  test::DebugCapture trace;
  EXPECT_TRUE(elim_dead_assigns(0, 0));
  EXPECT_FALSE(has("x = 1"));
  EXPECT_TRUE(has("x = g"));
  EXPECT_TRUE(has("y = x"));
  EXPECT_FALSE(elim_dead_assigns(0, 0));   // nothing more to do
}

TEST_F(LiveTest, ADeadAssignmentKeepsTheEffectsOfItsValue) {
  // x = callee() + g / a; never read: the call and the division stay.
  stmt(asg(x, bin(PLUS, call(), bin(DIV, n(g), n(a)))));
  stmt(ret(k(0)));
  build();
  test::DebugCapture trace;
  elim_dead_assigns(0, 0);
  EXPECT_TRUE(has("(&callee)() , g/a"));
  EXPECT_FALSE(is_local(x));
  EXPECT_NE(trace.text().find("\tNo references in the function for (0) 'x'\n"), std::string::npos);
  EXPECT_FALSE(is_local(y));   // mentioned nowhere: it goes too
  EXPECT_TRUE(is_local(z) == false && is_local(x) == false);
}

TEST_F(LiveTest, DeadAssignmentsInsideExpressionsGiveWayToTheirValues) {
  // Each variable is dead after the expression that assigns it.
  stmt(asg(y, bin(PLUS, asg(x, k(3)), k(1))));
  stmt(asg(z, bin(MULT, bin(PLUSASG, n(y), k(2)), n(a))));
  stmt(asg(x, bin(PLUS, mk_binary(PLUSPLUS, n(z), k(1), i32()), n(a))));
  // w++ + w reads the stepped w: that step stays.
  SYMTAB w;
  local(w, "w");
  stmt(asg(w, bin(PLUS, mk_binary(PLUSPLUS, n(w), k(1), i32()), n(w))));
  stmt(ret(bin(PLUS, n(x), n(w))));
  build();
  elim_dead_assigns(0, 0);
  EXPECT_TRUE(has("y = 3+1") || has("y = 4"));
  EXPECT_TRUE(has("z = (y+2)*a"));
  EXPECT_TRUE(has("x = z+a"));      // z++ with z dead: the old z
  EXPECT_TRUE(has("w = w+++w"));
}

TEST_F(LiveTest, StatementLevelStepsOfDeadVariablesGo) {
  stmt(asg(x, n(g)));
  stmt(mk_binary(PLUSPLUS, n(x), k(1), i32()));
  stmt(mk_binary(MINUSASG, n(x), n(a), i32()));
  stmt(ret(n(g)));
  build();
  elim_dead_assigns(0, 0);
  EXPECT_EQ(texts(), std::vector<std::string>({"return g"}));
  EXPECT_FALSE(is_local(x));
}

TEST_F(LiveTest, AssignmentsReadOnlyOnSomePathsStay) {
  // x = 1; if (a) x = 2; return x
  stmt(asg(x, k(1)));
  stmt(cbranch(n(a), 1));
  stmt(asg(x, k(2)));
  stmt(label_def(1));
  stmt(ret(n(x)));
  build();
  EXPECT_FALSE(elim_dead_assigns(0, 0));
  EXPECT_TRUE(has("x = 1"));
  EXPECT_TRUE(has("x = 2"));
}

TEST_F(LiveTest, AFunctionWithoutCandidatesIsLeftAlone) {
  stmt(asg(g, k(1)));
  stmt(asg(g, k(2)));
  stmt(ret(n(g)));
  fi.locals.clear();
  fi.params.clear();
  build();
  test::DebugCapture trace;
  EXPECT_FALSE(elim_dead_assigns(0, 0));
  EXPECT_TRUE(has("g = 1"));
  EXPECT_NE(trace.text().find("'find_live_variables'"), std::string::npos);
  EXPECT_EQ(trace.text().find("'elim_dead_assigns'"), std::string::npos);
}

TEST_F(LiveTest, ThePassSplitsCommaStatementsAndDropsPureOnes) {
  stmt(bin(COMMAOP, asg(x, n(g)), bin(PLUS, n(x), call())));
  stmt(bin(PLUS, n(y), k(1)));
  stmt(ret(n(x)));
  build();
  elim_dead_assigns(0, 0);
  EXPECT_EQ(texts(), std::vector<std::string>({"x = g", "(&callee)()", "return x"}));
}

TEST_F(LiveTest, TreesTooDeepToWalkCountAsReads) {
  NODE *deep = n(x);
  for (int i = 0; i < 5000; ++i)
    deep = bin(PLUS, deep, k(1));
  stmt(asg(x, k(7)));
  stmt(asg(y, deep));
  stmt(asg(y, bin(PLUS, n(y), n(a))));
  stmt(ret(n(y)));
  build();
  elim_dead_assigns(0, 0);
  EXPECT_TRUE(has("x = 7"));
  EXPECT_TRUE(is_local(x));
}

TEST_F(LiveTest, FixupLiftsACompoundAssignmentOutOfAnAssignment) {
  stmt(asg(x, n(a)));
  stmt(asg(y, bin(PLUSASG, n(x), k(2))));
  stmt(ret(bin(PLUS, n(x), n(y))));
  build();
  elim_dead_assigns(0, 1);
  EXPECT_EQ(texts(), std::vector<std::string>({"x = a", "x += 2", "y = x", "return x+y"}));
}

// ------------------------------------------------------------ sinking

TEST_F(LiveTest, DelayingMovesAnAssignmentDownToItsUse) {
  // x = z + 1; g = 5; callee(); y = x  ->  g = 5; callee(); x = z + 1; y = x
  stmt(asg(x, bin(PLUS, n(z), k(1))));
  stmt(asg(g, k(5)));
  stmt(call());
  stmt(asg(y, n(x)));
  stmt(ret(n(y)));
  // z = g is not moved: a call may change g.
  build();
  delay_assignments();
  EXPECT_EQ(texts(), std::vector<std::string>(
                         {"g = 5", "(&callee)()", "x = z+1", "y = x", "return y"}));
}

TEST_F(LiveTest, DelayingStopsWhereAnOperandChangesAndFollowsJumps) {
  // x = y + 1; z = 2; y = 3; ...: x cannot pass y = 3.
  // z = 2 follows the jump into the block that uses it.
  stmt(asg(x, bin(PLUS, n(y), k(1))));
  stmt(asg(z, k(2)));
  stmt(asg(y, k(3)));
  stmt(asg(g, n(y)));
  stmt(branch(1));
  stmt(label_def(1));
  stmt(asg(g, bin(PLUS, n(z), n(x))));
  stmt(ret(n(g)));
  build();
  delay_assignments();
  std::vector<std::string> t = texts();
  ASSERT_GE(t.size(), 6u);
  EXPECT_EQ(t[0], "x = y+1");
  EXPECT_EQ(t[1], "y = 3");
  auto z_at = std::find(t.begin(), t.end(), "z = 2");
  auto use_at = std::find(t.begin(), t.end(), "g = z+x");
  ASSERT_NE(z_at, t.end());
  EXPECT_EQ(z_at + 1, use_at);
}

// -------------------------------------------------------------- merging

TEST_F(LiveTest, MergerCombinesStepsAndAssignmentsButRespectsAliasing) {
  TYPE *pi = pkg.mk_pointer(i32());
  SYMTAB q;
  param(q, "q", pi);
  auto deref = [&](SYMTAB &s) { return mk_unary(UMULT, n(s), i32()); };
  stmt(bin(PLUSASG, deref(p), k(1)));
  stmt(bin(PLUSASG, deref(p), k(2)));
  stmt(asg(g, k(5)));
  stmt(bin(MULTASG, n(g), k(3)));
  stmt(bin(ASG, deref(p), k(1)));
  stmt(bin(ASG, deref(p), bin(PLUS, deref(q), k(1))));   // q may be p
  stmt(bin(ASG, deref(q), k(4)));
  stmt(bin(ASG, deref(q), n(x)));
  stmt(ret(k(0)));
  build();
  EXPECT_TRUE(combine_asgs_to_memory());
  EXPECT_EQ(texts(), std::vector<std::string>({"*p += 3", "g = 15", "*p = 1", "*p = *q+1",
                                               "*q = x", "return 0"}));
}

} // namespace
} // namespace zor
