// Expression-tree nodes: the BASE_NODE payload operations as the reader and
// writer use them, the creation adjustments, copying and erasing.
#include "ir/node.h"

#include <gtest/gtest.h>

#include <cstring>

#include "ir/funinfo.h"
#include "ir/node_info.h"
#include "ir/symtab.h"
#include "ir/tree_build.h"
#include "ir/tree_print.h"
#include "ir/type.h"

namespace zor {
namespace {

class NodeTest : public testing::Test {
protected:
  void SetUp() override {
    saved_ = currfuninfo;
    currfuninfo = &fi;
  }
  void TearDown() override {
    currfuninfo = saved_;
    isp2char_enabled = false;
  }

  TYPE *ty(IntKind k) { return pkg.mk_int(k); }

  // An ICON of `type` filled the way the reader fills an LCON record.
  IntConst lcon(const char *text, TYPE *type) {
    NODE *n = new_node(LCON, type);
    n->set_lcon_text(text);
    EXPECT_EQ(n->op, ICON);
    IntConst v = n->icon;
    erase_tree(n);
    return v;
  }

  TYPE_PKG pkg;
  FUNINFO fi;

private:
  FUNINFO *saved_ = nullptr;
};

// -------------------------------------------------------- integer payloads

TEST_F(NodeTest, LconTextIsTruncatedAndExtendedByTheType) {
  TYPE *s16 = ty(IK_SHORT), *u16 = ty(IK_USHORT);
  EXPECT_EQ(lcon("-5", s16), (IntConst{-5, -1}));
  EXPECT_EQ(lcon("-0", s16), (IntConst{0, 0}));
  EXPECT_EQ(lcon("65531", s16), (IntConst{-5, -1}));      // same bits as -5
  EXPECT_EQ(lcon("40000", s16), (IntConst{40000 - 65536, -1}));
  EXPECT_EQ(lcon("-5", u16), (IntConst{65531, 0}));
  EXPECT_EQ(lcon("70000", u16), (IntConst{70000 - 65536, 0}));
  TYPE *s64 = ty(IK_LLONG), *u64 = ty(IK_ULLONG);
  EXPECT_EQ(lcon("-9223372036854775808", s64), (IntConst{INT64_MIN, -1}));
  EXPECT_EQ(lcon("18446744073709551615", u64), (IntConst{-1, 0}));
  EXPECT_EQ(lcon("18446744073709551616", u64), (IntConst{0, 0}));
  // Text past 128 bits wraps; only the low bits are kept anyway.
  EXPECT_EQ(lcon("340282366920938463463374607431768211457", u64), (IntConst{1, 0}));
  // Enumerations answer by their integral type, pointers are unsigned.
  TYPE e(TK_ENUM, 16, 16);
  e.base = s16;
  EXPECT_EQ(lcon("-1", &e), (IntConst{-1, -1}));
  EXPECT_EQ(lcon("-1", pkg.mk_pointer(ty(IK_INT))), (IntConst{65535, 0}));
}

TEST_F(NodeTest, LconTextReadsBackAsDecimal) {
  struct Case {
    const char *in;
    IntKind kind;
    const char *out;
  };
  for (Case c : {Case{"-5", IK_SHORT, "-5"}, Case{"-5", IK_USHORT, "65531"},
                 Case{"-0", IK_INT, "0"},
                 Case{"18446744073709551615", IK_ULLONG, "18446744073709551615"},
                 Case{"-9223372036854775808", IK_LLONG, "-9223372036854775808"}}) {
    NODE *n = new_node(LCON, ty(c.kind));
    n->set_lcon_text(c.in);
    EXPECT_EQ(n->lcon_text(), c.out) << c.in;
    erase_tree(n);
  }
}

TEST_F(NodeTest, IconIsExtendedBySignedness) {
  NODE *s = new_node(ICON, ty(IK_SHORT));
  s->set_icon(0xFFFFFFFBu);
  EXPECT_EQ(s->icon, (IntConst{-5, -1}));
  EXPECT_EQ(s->icon_signed(), -5);
  NODE *u = new_node(ICON, ty(IK_UINT));
  u->set_icon(0xFFFFFFFBu);
  EXPECT_EQ(u->icon, (IntConst{0xFFFFFFFBll, 0}));
  EXPECT_EQ(u->icon_unsigned(), 0xFFFFFFFBu);
  erase_tree(s);
  erase_tree(u);
}

TEST_F(NodeTest, NumberPayloads) {
  NODE *n = new_node(LABEL, pkg.mk_void());
  n->set_label_number(0xFFFFFFFFu);
  EXPECT_EQ(n->icon, (IntConst{0xFFFFFFFFll, 0}));
  n->set_skip_number(0xFFFFFFFFu);
  EXPECT_EQ(n->icon, (IntConst{-1, -1}));
  n->set_switch_number(7);
  EXPECT_EQ(n->switch_number(), 7u);
  n->set_vreg_number(12);
  EXPECT_EQ(n->vreg_number(), 0);
  n->set_ddnode(4, 5, 6);
  EXPECT_EQ(n->ddnode_index(), 0);
  EXPECT_EQ(n->ddnode_second(), 0u);
  EXPECT_EQ(n->ddnode_flag(), 0);
  n->set_epval_index(9);
  EXPECT_EQ(n->epval_index(), 9);
  erase_tree(n);
}

TEST(IntConstTest, OrderAndWrapAround) {
  EXPECT_LT(IntConst::from_signed(-1), IntConst::from_unsigned(0));
  EXPECT_LT(IntConst::from_unsigned(1), IntConst::from_unsigned(UINT64_MAX));
  EXPECT_FALSE(IntConst::from_unsigned(UINT64_MAX).fits_int64());
  EXPECT_TRUE(IntConst::from_signed(INT64_MIN).fits_int64());
  // 96-bit wrap: the top of the range plus one is the bottom.
  __int128 top = (static_cast<__int128>(1) << 95) - 1;
  EXPECT_EQ(IntConst::from_i128(top + 1).to_i128(), -(static_cast<__int128>(1) << 95));
  EXPECT_EQ(IntConst::from_i128(-1).to_decimal(true), "79228162514264337593543950335");
  EXPECT_EQ(fit_int(255, 8, true), IntConst::from_signed(-1));
  EXPECT_EQ(fit_int(255, 8, false), IntConst::from_unsigned(255));
  EXPECT_EQ(fit_int(32768, 16, true), IntConst::from_signed(-32768));
}

// --------------------------------------------------------- other payloads

TEST_F(NodeTest, FconTextIsRoundedToTheTypeAndCached) {
  NODE *f32 = new_node(FCON, pkg.mk_fltpt(FK_FLOAT));      // 32 bits
  NODE *f64 = new_node(FCON, pkg.mk_fltpt(FK_LDOUBLE));    // 64 bits
  f32->set_fcon_text("0x1.0000001p+0");
  f64->set_fcon_text("0x1.0000001p+0");
  EXPECT_STREQ(f32->fcon_text(), "0x1p+0");
  EXPECT_STREQ(f64->fcon_text(), "0x1.0000001p+0");
  const char *cached = f64->fcon_text();
  EXPECT_EQ(f64->fcon_text(), cached);
  f64->set_fcon_text("-0x1.8p+1");
  EXPECT_EQ(f64->text(), nullptr);
  EXPECT_STREQ(f64->fcon_text(), "-0x1.8p+1");
  EXPECT_EQ(f64->fval()->to_double(), -3.0);
  NODE *unset = new_node(FCON, pkg.mk_fltpt(FK_DOUBLE));
  EXPECT_STREQ(unset->fcon_text(), "0x0p+0");
  for (NODE *n : {f32, f64, unset})
    erase_tree(n);
}

TEST_F(NodeTest, SconAndCalleeTextsAreOwnedCopies) {
  char bytes[] = {'a', '\0', 'b'};
  NODE *s = new_node(SCON, pkg.mk_pointer(ty(IK_CHAR)));
  s->set_scon(bytes, 3);
  bytes[0] = 'z';
  EXPECT_EQ(s->scon_length(), 3u);
  EXPECT_EQ(std::memcmp(s->scon_bytes(), "a\0b", 4), 0);
  NODE *c = new_node(ICALL, ty(IK_INT));
  std::string name = "memset";
  c->set_callee_name(name.c_str());
  name[0] = 'X';
  EXPECT_STREQ(c->callee_name(), "memset");
  EXPECT_EQ(c->sym(), nullptr);   // the payload word holds a text, not a symbol
  erase_tree(s);
  erase_tree(c);
}

TEST_F(NodeTest, NameSymbolMarksControlRegisterUse) {
  SYMTAB plain, creg;
  plain.name_text = "x";
  plain.type_ = ty(IK_INT);
  creg.name_text = "cr0";
  creg.flag_bits = SF_CREGISTER;
  NODE *a = mk_name(&plain);
  EXPECT_EQ(a->name_symbol(), &plain);
  EXPECT_EQ(a->type, ty(IK_INT));
  EXPECT_EQ(fi.flags & FI_HAS_CREGISTER, 0u);
  NODE *b = new_node(NAME, ty(IK_INT));
  b->set_name_symbol(&creg);
  EXPECT_EQ(b->sym(), &creg);
  EXPECT_NE(fi.flags & FI_HAS_CREGISTER, 0u);
  erase_tree(a);
  erase_tree(b);
}

TEST_F(NodeTest, FieldTakesTheNormalizedTypeAndMarksFlaggedMembers) {
  MEMBER m;
  m.id = 3;
  m.name = "f";
  m.type = ty(IK_INT);
  m.flag = 1;
  TYPE *st = pkg.mk_struct(TK_STRUCT, "S", 32, 16, {m});
  const MEMBER *mem = st->member_by_id(3);
  NODE *f = new_node(FIELD, pkg.mk_typedef("int_t", ty(IK_INT)));
  f->set_field(1, mem, st);
  EXPECT_EQ(f->type, ty(IK_INT));
  EXPECT_EQ(f->field_member(), mem);
  EXPECT_EQ(f->field_type(), st);
  EXPECT_EQ(f->field_flag(), 1);
  EXPECT_NE(fi.flags & FI_FIELD_FLAGGED, 0u);
  erase_tree(f);
}

TEST_F(NodeTest, FieldWithAnotherFlagIsAnInternalError) {
  NODE *f = new_node(FIELD, ty(IK_INT));
  EXPECT_DEATH(f->set_field(0, nullptr, nullptr), "Optimizer terminated abnormally");
  erase_tree(f);
}

// ----------------------------------------------------------------- creation

TEST_F(NodeTest, FreshNodeState) {
  NODE *n = new_node(PLUS, ty(IK_INT));
  EXPECT_EQ(n->left, nullptr);
  EXPECT_EQ(n->right, nullptr);
  EXPECT_EQ(n->epval_index(), -1);
  EXPECT_EQ(n->pass_value, -1.0);
  EXPECT_EQ(n->flags, 0u);
  EXPECT_EQ(n->annotation, 0u);
  EXPECT_EQ(n->creation_type, ty(IK_INT));
  EXPECT_EQ(n->arity(), 2u);
  // The reader's view of the structure.
  BASE_NODE *b = n;
  b->set_operand(0, new_node(ICON, ty(IK_INT)));
  b->set_opcode(MINUS);
  EXPECT_EQ(b->opcode(), MINUS);
  EXPECT_EQ(b->operand(0), n->left);
  EXPECT_EQ(b->operand(1), nullptr);
  erase_tree(n);
}

TEST_F(NodeTest, CallsMarkTheFunction) {
  NODE *u = new_node(UCALL, ty(IK_INT));
  EXPECT_FALSE(fi.no_calls);
  fi.no_calls = true;
  NODE *c = new_node(CALL, ty(IK_INT));
  EXPECT_TRUE(fi.no_calls);   // CALL is marked by its record, not its creation
  c->set_call(0xFFFFFFFFu, 42);
  EXPECT_FALSE(fi.no_calls);
  EXPECT_EQ(c->icon, (IntConst{0xFFFFFFFFll, 0}));
  EXPECT_EQ(c->call_word(), 42u);
  fi.no_calls = true;
  u->set_ucall(5);
  EXPECT_FALSE(fi.no_calls);
  EXPECT_EQ(u->call_word(), 5u);
  currfuninfo = nullptr;   // outside a function nothing is marked
  erase_tree(new_node(UCALL, ty(IK_INT)));
  erase_tree(u);
  erase_tree(c);
}

TEST_F(NodeTest, SconvToAnEnumerationTakesItsIntegralType) {
  TYPE e(TK_ENUM, 16, 16);
  e.base = ty(IK_USHORT);
  NODE *n = new_node(SCONV, &e);
  EXPECT_EQ(n->type, ty(IK_USHORT));
  NODE *p = new_node(PLUS, &e);   // only conversions are adjusted
  EXPECT_EQ(p->type, &e);
  erase_tree(n);
  erase_tree(p);
}

TEST_F(NodeTest, PconvToCharPointerBecomesIsp2char) {
  TYPE *to_char = pkg.mk_pointer(ty(IK_CHAR));
  TYPE *to_const_uchar = pkg.mk_pointer(pkg.mk_qualified(ty(IK_UCHAR), Q_CONST));
  TYPE *to_short = pkg.mk_pointer(ty(IK_SHORT));
  auto op_of = [](uint32_t op, TYPE *t) {
    NODE *n = new_node(op, t);
    uint32_t r = n->op;
    erase_tree(n);
    return r;
  };
  EXPECT_EQ(op_of(PCONV, to_char), PCONV);   // flag off
  isp2char_enabled = true;
  EXPECT_EQ(op_of(PCONV, to_char), ISP2CHAR);
  EXPECT_EQ(op_of(PCONV, to_const_uchar), ISP2CHAR);
  EXPECT_EQ(op_of(PCONV, to_short), PCONV);
  EXPECT_EQ(op_of(SCONV, to_char), SCONV);
  // Only where char is as wide as short.
  DataModel dm = DataModel::zor();
  dm.int_size[IK_CHAR] = 8;
  TYPE_PKG narrow(dm);
  EXPECT_EQ(op_of(PCONV, narrow.mk_pointer(narrow.mk_int(IK_CHAR))), PCONV);
}

TEST_F(NodeTest, MakeNodeStripsConversionTypes) {
  TYPE *int_t = pkg.mk_typedef("int_t", pkg.mk_qualified(ty(IK_INT), Q_VOLATILE));
  NODE *x = make_node(SCONV, mk_icon(1, ty(IK_SHORT)), nullptr, int_t, 77);
  EXPECT_EQ(x->type, ty(IK_INT));
  EXPECT_EQ(x->annotation, 77u);
  NODE *y = make_node(PLUS, x, mk_icon(2, ty(IK_INT)), int_t);
  EXPECT_EQ(y->type, int_t);
  isp2char_enabled = true;
  NODE *z = make_node(PCONV, nullptr, nullptr, pkg.mk_typedef("str", pkg.mk_pointer(ty(IK_CHAR))));
  EXPECT_EQ(z->op, ISP2CHAR);
  erase_tree(y);
  erase_tree(z);
}

TEST_F(NodeTest, BuildersAndMatchers) {
  NODE *k = mk_icon(-1, ty(IK_USHORT));
  EXPECT_EQ(k->icon, (IntConst{65535, 0}));   // fitted to the type
  NODE *sum = mk_binary(PLUS, mk_icon(4, ty(IK_INT)), k, ty(IK_INT));
  auto ops = match_binary(sum, PLUS);
  ASSERT_TRUE(ops);
  EXPECT_EQ(ops->right, k);
  EXPECT_FALSE(match_binary(sum, MINUS));
  EXPECT_EQ(match_icon(ops->left), 4);
  EXPECT_TRUE(is_icon_value(k, 65535));
  EXPECT_FALSE(match_icon(sum));
  NODE *neg = mk_unary(UMINUS, sum, ty(IK_INT));
  EXPECT_EQ(match_unary(neg, UMINUS), sum);
  EXPECT_EQ(match_unary(neg, NOTB), nullptr);
  NODE *f = mk_fcon(0.1, pkg.mk_fltpt(FK_FLOAT));
  ASSERT_NE(match_fcon(f), nullptr);
  EXPECT_EQ(match_fcon(f)->to_double(), static_cast<double>(0.1f));
  EXPECT_EQ(match_name(f), nullptr);
  erase_tree(neg);
  erase_tree(f);
}

// ------------------------------------------------------------ copy and erase

class NodeCopyTest : public NodeTest {
protected:
  void SetUp() override {
    NodeTest::SetUp();
    a.name_text = "a";
    a.type_ = ty(IK_INT);
    b.name_text = "b";
    b.type_ = ty(IK_INT);
    // a = b * 1.5
    fcon = mk_fcon(1.5, pkg.mk_fltpt(FK_LDOUBLE));
    fcon->fcon_text();   // fill the cache
    root = make_node(ASG, mk_name(&a), mk_binary(MULT, mk_name(&b), fcon, ty(IK_INT)),
                     ty(IK_INT), 7);
  }
  void TearDown() override {
    erase_tree(root);
    NodeTest::TearDown();
  }
  SYMTAB a, b;
  NODE *fcon = nullptr;
  NODE *root = nullptr;
};

TEST_F(NodeCopyTest, ShallowCopySharesOperands) {
  NODE *c = copy_node(root, false, false);
  EXPECT_NE(c, root);
  EXPECT_EQ(c->left, root->left);
  EXPECT_EQ(c->right, root->right);
  EXPECT_EQ(c->annotation, 0u);
  c->left = c->right = nullptr;   // the operands stay with the original
  erase_tree(c);
}

TEST_F(NodeCopyTest, DeepCopyOwnsEverything) {
  NODE *c = copy_node(root, true, true);
  EXPECT_EQ(c->annotation, 7u);
  EXPECT_EQ(tree_source(c), tree_source(root));
  EXPECT_NE(c->left, root->left);
  EXPECT_EQ(c->left->sym(), &a);
  NODE *cf = c->right->right;
  ASSERT_NE(cf, fcon);
  EXPECT_NE(cf->fval(), fcon->fval());
  EXPECT_EQ(cf->text(), nullptr);   // the text cache is not carried over
  fcon->set_fval(XFLOAT::from_double(2.0));
  EXPECT_EQ(cf->fval()->to_double(), 1.5);
  EXPECT_STREQ(cf->fcon_text(), "0x1.8p+0");
  erase_tree(c);
}

TEST_F(NodeTest, CopyGivesOwnPayloadRecordsAndDropsPassLists) {
  NODE *p = new_node(PPRAGMA, pkg.mk_void());
  p->pragma = new PragmaRecord(37, {"4"});
  p->dval = new DDREC{5, mk_icon(1, ty(IK_INT))};
  p->list = new NODE_LIST{p, nullptr};
  p->annotation = 3;
  NODE *c = copy_node(p, true, false);
  ASSERT_NE(c->pragma, nullptr);
  EXPECT_NE(c->pragma, p->pragma);
  EXPECT_EQ(c->pragma->kind, 37);
  EXPECT_EQ(c->pragma->args, std::vector<std::string>{"4"});
  EXPECT_EQ(c->dval, nullptr);
  EXPECT_EQ(c->list, nullptr);
  EXPECT_EQ(p->ddnode_index(), 5);
  EXPECT_EQ(c->annotation, 3u);
  NODE *s = new_node(SCON, ty(IK_INT));
  s->set_scon("hi", 2);
  NODE *sc = copy_node(s, false, false);
  EXPECT_NE(sc->scon_bytes(), s->scon_bytes());
  EXPECT_STREQ(sc->scon_bytes(), "hi");
  for (NODE *n : {p, c, s, sc})
    erase_tree(n);   // the leak checker sees what was not released
}

TEST_F(NodeTest, EraseLeavesCseDupeOperandsAlone) {
  SYMTAB x;
  x.name_text = "x";
  NODE *shared = mk_binary(PLUS, mk_name(&x, ty(IK_INT)), mk_icon(1, ty(IK_INT)), ty(IK_INT));
  NODE *dupe = make_node(CSE_DUPE, shared, shared->right, ty(IK_INT));
  NODE *deep = copy_node(dupe, false, true);
  EXPECT_EQ(deep->left, shared);   // references, not operands
  erase_tree(dupe);
  erase_tree(deep);
  EXPECT_EQ(shared->op, PLUS);
  EXPECT_EQ(tree_source(shared), "x+1");
  erase_tree(shared);
}

TEST_F(NodeTest, EraseWalksLongChainsWithoutDeepRecursion) {
  NODE *chain = mk_icon(0, ty(IK_INT));
  for (int i = 1; i < 200000; ++i)
    chain = make_node(COMMA, chain, mk_icon(i, ty(IK_INT)), ty(IK_INT));
  erase_tree(chain);
}

TEST_F(NodeTest, EraseTwiceStopsTheProgram) {
  NODE *n = new_node(ILLOP, ty(IK_INT));   // what an erased node carries
  EXPECT_DEATH(erase_tree(n), "\n\n!!! COMPILER \\(OPTIMIZER\\) ERROR IN 'erase_node' "
                              ".* !!!\n\n(.|\n)*Optimizer terminated abnormally");
  // With debug output on the message goes to the debug stream as well.
  EXPECT_DEATH(
      {
        ir_debug_stream = []() -> FILE * { return stderr; };
        erase_tree(n);
      },
      "ERROR IN 'erase_node'.*ERROR IN 'erase_node'");
  n->op = NOP;
  erase_tree(n);
}

} // namespace
} // namespace zor
