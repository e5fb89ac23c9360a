// tests/unit/write_function_test.cpp - the function writer (OPT5/write):
// what is written for a function and in which order, the symbol records of
// parameters and locals, and the pre-output normalization wrtree.
//
// Programs are read from images into a program context, written with the
// function writer and read back; the reader's report shows what reached
// the file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "driver/run.h"
#include "icode/record_tags.h"
#include "icode/writer.h"
#include "ir/funinfo.h"
#include "ir/node.h"
#include "ir/node_info.h"
#include "ir/opcodes.h"
#include "ir/program.h"
#include "ir/symtab.h"
#include "ir/type.h"
#include "opt/write.h"
#include "tests/support/icode_image.h"
#include "tests/support/icode_roundtrip.h"

namespace zor {
namespace {

using test::decode;
using test::IcodeImage;
using test::joined;

enum : uint32_t { T_INT = 1, T_VOID, T_LLONG, T_ULLONG, T_FUNC, T_PFUNC, T_CINT };
enum : uint32_t { G_G, G_F, G_H, G_K };
constexpr uint8_t SC_AUTO_ = 1;

void add_types(IcodeImage &img) {
  img.section_here(IcodeImage::TYPES);
  img.begin(TAG_TYPE).uleb(T_INT).byte(6).flag(false).uleb(32).uleb(32).flag(false).flag(false).end();
  img.begin(TAG_TYPE).uleb(T_VOID).byte(49).end();
  img.begin(TAG_TYPE).uleb(T_LLONG).byte(50).flag(false).uleb(64).uleb(32).flag(false).flag(false).end();
  img.begin(TAG_TYPE).uleb(T_ULLONG).byte(51).flag(false).uleb(64).uleb(32).flag(false).flag(false).end();
  img.begin(TAG_TYPE).uleb(T_FUNC).byte(20).type_ref(T_INT).flag(true).flag(false).byte(0).flag(false).end();
  img.begin(TAG_TYPE).uleb(T_FUNC).byte(254).byte(0).end();
  img.begin(TAG_TYPE).uleb(T_FUNC).byte(21).type_ref(T_INT).flag(false).uleb(0).text("p").end();
  img.begin(TAG_TYPE).uleb(T_FUNC).byte(255).byte(0).end();
  img.begin(TAG_TYPE).uleb(T_PFUNC).byte(15).type_ref(T_FUNC).uleb(16).uleb(16).end();
  img.begin(TAG_TYPE).uleb(T_CINT).byte(17).type_ref(T_INT).uleb(1).uleb(32).uleb(32).end();
  img.end_stream();
}

void add_globals(IcodeImage &img) {
  img.section_here(IcodeImage::FILES);
  img.file_name("f.c").end_stream();
  img.section_here(IcodeImage::GLOBALS);
  img.symbol({.name = "g", .type = T_INT, .file = 1, .line = 1, .column = 1});
  img.symbol({.name = "f", .size = 0, .type = T_FUNC, .alignment = 16});
  img.symbol({.name = "h", .size = 0, .type = T_FUNC, .alignment = 16});
  img.symbol({.name = "k", .type = T_CINT});
  img.end_stream();
}

// int f(int p) with parameters, locals of several classes, a pending
// pragma, statements, a label, inline assembly, a pragma record and an
// exception table with its root entry; int h(void) calls f.
IcodeImage function_image() {
  IcodeImage img;
  img.header();
  img.begin(TAG_FUNC_BEGIN).pos(1, 1, 1).uleb(G_F).end();
  img.symbol({.name = "p", .offset = 4, .storage_class = SC_AUTO_, .type = T_INT});
  img.begin(TAG_BODY_BEGIN).pos(1, 1, 10).end();
  img.symbol({.name = "r", .offset = 12, .storage_class = 4, .type = T_INT});
  img.symbol({.name = "s", .offset = 20, .storage_class = SC_AUTO_, .type = T_INT});
  img.symbol({.name = "t", .offset = 6, .storage_class = 27, .type = T_INT});
  img.begin(TAG_PRAGMA).text("UNROLL(2)").end();
  img.begin(TAG_POSITION).pos(1, 2, 1).end();
  img.begin(TAG_STATEMENT).pos(1, 2, 3).end();
  img.node(ASG, T_INT).end();
  img.name(T_INT, 0, G_G);
  img.node(SCONV, T_INT).end();
  img.node(LCON, T_LLONG).text("4294967296").end();
  img.begin(TAG_STATEMENT).pos(1, 3, 3).end();
  img.node(ASG, T_INT).end();
  img.name(T_INT, 1, 2);
  img.icon_signed(T_INT, 5);
  img.begin(TAG_LABEL).uleb(3).end();
  img.begin(TAG_ASM).text("nop").pos(1, 4, 1).end();
  img.attribute_list(TAG_ATTRIBUTES, 37, {"4"});
  img.begin(TAG_STATEMENT).pos(1, 5, 3).end();
  img.node(ASG, T_INT).end();
  img.name(T_INT, 1, 1);
  img.name(T_CINT, 0, G_K);
  img.begin(TAG_STATEMENT).pos(1, 6, 3).end();
  img.node(RETURN, T_INT).end();
  img.name(T_INT, 1, 0);
  img.leaf(NOP, T_VOID);
  img.begin(TAG_EHT).uleb(3).end();
  img.begin(TAG_EHT_ENTRY).uleb(0).uleb(EHT_ROOT).uleb(0).uleb(0).end();
  img.begin(TAG_EHT_ENTRY).uleb(4).uleb(EHT_CLEANUP).uleb(0).uleb(0).end();
  img.begin(TAG_STATEMENT).pos(1, 6, 5).end();
  img.leaf(NOP, T_VOID);
  img.begin(TAG_EHT_ENTRY).uleb(7).uleb(EHT_CATCH).uleb(4).uleb(1).end();
  img.begin(TAG_EHT_HANDLERS).text("_ZTIi").uleb(3).flag(true).end();
  img.begin(TAG_FUNC_END).pos(1, 7, 1).end();

  img.begin(TAG_FUNC_BEGIN).pos(1, 9, 1).uleb(G_H).end();
  img.begin(TAG_BODY_BEGIN).pos(1, 9, 5).end();
  img.begin(TAG_STATEMENT).pos(1, 10, 3).end();
  img.node(UCALL, T_INT).uleb(0).end();
  img.node(UAND, T_PFUNC).end();
  img.name(T_FUNC, 0, G_F);
  img.begin(TAG_FUNC_END).pos(1, 11, 1).end();
  img.end_stream();
  add_types(img);
  add_globals(img);
  return img;
}

// The lines of the reader's report from `from` up to and including the
// next line that starts with `to`.
std::string lines_between(const std::vector<std::string> &lines, const std::string &from,
                          const std::string &to) {
  std::string out;
  bool on = false;
  for (const std::string &l : lines) {
    if (!on && l.rfind(from, 0) == 0)
      on = true;
    if (on) {
      out += l + "\n";
      if (l.rfind(to, 0) == 0)
        break;
    }
  }
  return out;
}

class WriteFunctionTest : public ::testing::Test {
protected:
  test::ReadProgram program = test::read_program(function_image().bytes());
  FUNINFO &f() { return *program->functions().at(0); }
  FUNINFO &h() { return *program->functions().at(1); }
};

// The records of a function in their order: begin, parameters, body begin,
// locals, position, pending pragmas, the statements with labels, assembly
// and pragma records, the exception table without its root entry, end.
TEST_F(WriteFunctionTest, RecordsComeInTheirOrder) {
  std::vector<std::string> lines = decode(test::write_program(*program));
  EXPECT_EQ(lines_between(lines, "function_begin f", "function_end"),
            "function_begin f @f.c:1:1\n"
            "new_symbol p size=32 offset=0 class=1 flags=0x0 type=int type2=- align=32 init=0 "
            "optset=0 @-\n"
            "set_scope_level p 1\n"
            "set_index p 0\n"
            "symbol_complete p lists=0\n"
            "body_begin @f.c:1:10\n"
            "new_symbol r size=32 offset=12 class=4 flags=0x0 type=int type2=- align=32 init=0 "
            "optset=0 @-\n"
            "set_scope_level r 2\n"
            "set_index r 1\n"
            "symbol_complete r lists=0\n"
            "new_symbol s size=32 offset=0 class=1 flags=0x0 type=int type2=- align=32 init=0 "
            "optset=0 @-\n"
            "set_scope_level s 2\n"
            "set_index s 2\n"
            "symbol_complete s lists=0\n"
            "new_symbol t size=32 offset=6 class=27 flags=0x0 type=int type2=- align=32 init=0 "
            "optset=0 @-\n"
            "set_scope_level t 2\n"
            "set_index t 3\n"
            "symbol_complete t lists=0\n"
            "position @f.c:6:3\n"
            "pragma \"UNROLL(2)\"\n"
            "statement @f.c:2:3 (ASG:int (NAME:int sym=g) (SCONV:int (LCON:llong "
            "lcon=\"4294967296\")))\n"
            "statement @f.c:3:3 (ASG:int (NAME:int sym=s) (ICON:int icon=5))\n"
            "label 3\n"
            "asm \"nop\" @f.c:4:1\n"
            "pragma_record 37 [\"4\"]\n"
            "statement @f.c:5:3 (ASG:int (NAME:int sym=r) (NAME:{const int} sym=k))\n"
            "statement @f.c:6:3 (RETURN:int (NAME:int sym=p) (NOP:{void}))\n"
            "exception_table 2\n"
            "  entry id=1 kind=1 next=0 count=0 cleanup @f.c:6:5 (NOP:{void})\n"
            "  entry id=2 kind=2 next=1 count=1 handler \"_ZTIi\":3:1\n"
            "function_end @f.c:7:1\n");
}

// The byte record 'L' follows the position record of a function without
// calls; the pending pragmas follow, announced by "*".
TEST_F(WriteFunctionTest, NoCallsRecordAndPendingPragmas) {
  std::vector<test::RawRecord> records = test::main_records(test::write_program(*program));
  std::vector<uint8_t> tags;
  for (const test::RawRecord &r : records)
    tags.push_back(r.tag);
  const std::vector<uint8_t> f_begin = {TAG_FUNC_BEGIN, TAG_SYMBOL,   TAG_BODY_BEGIN,
                                        TAG_SYMBOL,     TAG_SYMBOL,   TAG_SYMBOL,
                                        TAG_POSITION,   TAG_BYTE_RECORD, TAG_PRAGMA,
                                        TAG_PRAGMA,     TAG_STATEMENT};
  ASSERT_GE(tags.size(), f_begin.size());
  EXPECT_EQ(std::vector<uint8_t>(tags.begin(), tags.begin() + 11), f_begin);
  EXPECT_EQ(records[7].payload, std::vector<uint8_t>{'L'});
  EXPECT_EQ(records[8].payload, (std::vector<uint8_t>{'*', 0}));
  // h calls f: its position record is followed by a statement at once.
  size_t h_begin = 0;
  for (size_t i = 1; i < tags.size(); ++i)
    if (tags[i] == TAG_FUNC_BEGIN)
      h_begin = i;
  ASSERT_GT(h_begin, 0u);
  EXPECT_EQ(std::vector<uint8_t>(tags.begin() + static_cast<long>(h_begin),
                                 tags.begin() + static_cast<long>(h_begin) + 4),
            (std::vector<uint8_t>{TAG_FUNC_BEGIN, TAG_BODY_BEGIN, TAG_POSITION, TAG_STATEMENT}));
}

// NAME references carry the writer's local index: a parameter left out
// (its creation bit cleared) moves the locals up.
TEST_F(WriteFunctionTest, LocalIndexesFollowWhatIsWritten) {
  f().params[0]->state &= static_cast<uint8_t>(~SS_CREATED);
  test::ScratchFile file;
  auto w = IcodeWriter::open(file.get(), program->types(), "t");
  write_function_begin(*w, f());
  EXPECT_EQ(f().locals[0]->index(), 0u);   // r
  EXPECT_EQ(f().locals[2]->index(), 2u);   // t
  EXPECT_EQ(f().locals[2]->scope_level(), 2u);
  w->close(true);
}

TEST_F(WriteFunctionTest, FunctionFlaggedNotWrittenWritesNothing) {
  f().flags |= 64;
  std::vector<std::string> lines = decode(test::write_program(*program));
  EXPECT_EQ(lines_between(lines, "function_begin f", "function_end"), "");
  EXPECT_NE(lines_between(lines, "function_begin h", "function_end"), "");
}

// With debug output on, the function records and the written symbols are
// traced.
TEST_F(WriteFunctionTest, DebugOutputTracesSymbolsAndFunctionRecords) {
  FILE *saved = run.debug;
  long saved_flag = run.debug_flag;
  test::ScratchFile log;
  run.debug = log.get();
  run.debug_flag = 1;
  test::write_program(*program);
  run.debug = saved;
  run.debug_flag = saved_flag;
  std::vector<uint8_t> b = log.bytes();
  const std::string text(b.begin(), b.end());
  EXPECT_NE(text.find("I_BF\t1\t1\t\t\t;f\n"), std::string::npos) << text;
  EXPECT_NE(text.find("I_EA\t5\t1\t\t\t;f\n"), std::string::npos) << text;
  EXPECT_NE(text.find("I_EL\t6\t6\t\t\t;f\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n-- variable -- size -- offset/class/scqual/aln/otype;\n"), std::string::npos);
  // t: size 32, offset 6, class 27, flags, alignment 32.
  EXPECT_NE(text.find(" 6/27/0x0000/32/"), std::string::npos) << text;
}

// ------------------------------------------------------------------ wrtree

class WrtreeTest : public ::testing::Test {
protected:
  TYPE_PKG types;
  TYPE *ll = types.mk_int(IK_LLONG);
  TYPE *ull = types.mk_int(IK_ULLONG);
  TYPE *i = types.mk_int(IK_INT);

  NODE *icon(TYPE *t, __int128 v) {
    NODE *n = new_node(ICON, t);
    n->icon = fit_int_to_type(v, t);
    return n;
  }
  // The operator wrtree leaves on a lone ICON.
  uint32_t op_after(TYPE *t, __int128 v) {
    NODE *n = wrtree(icon(t, v), nullptr);
    uint32_t op = n->op;
    erase_tree(n);
    return op;
  }
};

// ICONs of types wider than 32 bits whose value does not survive the 32-bit
// field (sign-extended for signed types, zero-extended for unsigned) become
// LCONs.
TEST_F(WrtreeTest, WideIconsBecomeLcons) {
  const __int128 two32 = static_cast<__int128>(1) << 32;
  EXPECT_EQ(op_after(ll, two32), LCON);
  EXPECT_EQ(op_after(ll, 5), ICON);
  EXPECT_EQ(op_after(ll, -1), ICON);
  EXPECT_EQ(op_after(ll, INT32_MIN), ICON);
  EXPECT_EQ(op_after(ll, 0xffffffffLL), LCON);   // not -1 once sign-extended
  EXPECT_EQ(op_after(ll, -two32), LCON);
  EXPECT_EQ(op_after(ull, 0xffffffffLL), ICON);
  EXPECT_EQ(op_after(ull, two32), LCON);
  EXPECT_EQ(op_after(i, -7), ICON);

  NODE *n = wrtree(icon(ll, two32), nullptr);
  EXPECT_EQ(n->lcon_text(), "4294967296");
  erase_tree(n);
}

TEST_F(WrtreeTest, NamesOfGlobalsAreMarkedReferenced) {
  SYMTAB global, local;
  global.level = 0;
  local.level = 2;
  NODE *asg = make_node(ASG, new_node(NAME, i), new_node(NAME, i), i);
  asg->left->set_sym(&local);
  asg->right->set_sym(&global);
  asg = wrtree(asg, nullptr);
  EXPECT_EQ(global.flag_bits, SF_REFERENCED);
  EXPECT_EQ(local.flag_bits, 0);
  erase_tree(asg);
}

TEST_F(WrtreeTest, VectorConversionsBecomeSconv) {
  TYPE *v4 = types.mk_vector(i, 4);
  NODE *vr = make_node(VRCONV, new_node(NAME, i), nullptr, i);
  vr = wrtree(vr, nullptr);
  EXPECT_EQ(vr->op, SCONV);
  erase_tree(vr);
  NODE *vs = make_node(VSCONV, new_node(NAME, v4), nullptr, v4);
  vs = wrtree(vs, nullptr);
  EXPECT_EQ(vs->op, SCONV);
  erase_tree(vs);
}

TEST_F(WrtreeTest, VsconvOfScalarsIsAnInternalError) {
  EXPECT_EXIT(
      {
        NODE *vs = make_node(VSCONV, new_node(NAME, i), nullptr, i);
        wrtree(vs, nullptr);
      },
      ::testing::ExitedWithCode(1), "Optimizer terminated abnormally");
}

// Operators of the optimizer alone (above 163) cannot be written.
TEST_F(WrtreeTest, OperatorsAbove163StopTheRun) {
  EXPECT_EXIT(
      {
        NODE *n = make_node(PLUS, make_node(CSE_DUPE, nullptr, nullptr, i), nullptr, i);
        wrtree(n, nullptr);
      },
      ::testing::ExitedWithCode(1),
      "\n\n   !!! Error in 'wrtree', opcode=172 CSE_DUPE !!!\n(.|\n)*Optimizer terminated abnormally");
  EXPECT_EXIT(wrtree(make_node(ILLOP, nullptr, nullptr, i), nullptr),
              ::testing::ExitedWithCode(1), "opcode=222  \\?ILLOP\\? !!!");
}

// Under profiling state 2 a node carrying a profile-value index is written
// under an EPVAL of that index; otherwise it is left alone.
TEST_F(WrtreeTest, ProfileValuesGoUnderEpval) {
  FUNINFO fi;
  fi.profiling_state = 2;
  NODE *plus = make_node(PLUS, icon(i, 1), icon(i, 2), i);
  plus->right->epval = 9;
  plus = wrtree(plus, &fi);
  ASSERT_EQ(plus->right->op, EPVAL);
  EXPECT_EQ(plus->right->epval_index(), 9);
  EXPECT_EQ(plus->right->type, i);
  ASSERT_EQ(plus->right->left->op, ICON);
  EXPECT_EQ(plus->right->left->epval, -1);

  fi.profiling_state = 0;
  NODE *root = icon(i, 3);
  root->epval = 4;
  EXPECT_EQ(wrtree(root, &fi), root);
  fi.profiling_state = 2;
  root = wrtree(root, &fi);
  EXPECT_EQ(root->op, EPVAL);
  erase_tree(plus);
  erase_tree(root);
}

} // namespace
} // namespace zor
