// tests/unit/symbols_test.cpp - symbols made from symbol records: flags by
// level, enumeration types, storage classes and the printer, scopes of a
// function, the special names, the read-time redirection of external
// references, the interned-symbol statistics and the program dump.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "icode/reader.h"
#include "icode/record_tags.h"
#include "ir/funinfo.h"
#include "ir/node.h"
#include "ir/opcodes.h"
#include "ir/program.h"
#include "ir/program_dump.h"
#include "ir/symtab.h"
#include "ir/type.h"
#include "tests/support/icode_image.h"

namespace zor {
namespace {

using test::IcodeImage;
using test::MemFile;

enum : uint32_t { T_INT = 1, T_CINT, T_ENUM, T_CENUM, T_FUNC, T_UCHAR };

int level_now = 1;
int test_level() { return level_now; }

class SymbolsTest : public ::testing::Test {
protected:
  void SetUp() override {
    saved_level_ = ir_opt_level;
    ir_opt_level = test_level;
    level_now = 1;
  }
  void TearDown() override {
    ir_opt_level = saved_level_;
    currfunc = nullptr;
    currfuninfo = nullptr;
  }

  // Header, then the types every test uses as stream records.
  static IcodeImage image() {
    IcodeImage img;
    img.header();
    img.begin(TAG_TYPE).uleb(T_INT).byte(6).flag(false).uleb(32).uleb(32).flag(false)
        .flag(false).end();
    img.begin(TAG_TYPE).uleb(T_CINT).byte(17).type_ref(T_INT).uleb(Q_CONST).uleb(32).uleb(32)
        .end();
    img.begin(TAG_TYPE).uleb(T_UCHAR).byte(2).flag(false).uleb(16).uleb(16).flag(false)
        .flag(false).end();
    img.begin(TAG_TYPE).uleb(T_ENUM).byte(22).text("E").uleb(16).uleb(16).type_ref(T_UCHAR)
        .flag(false).no_pos().end();
    img.begin(TAG_TYPE).uleb(T_ENUM).byte(254).byte(1).end();
    img.begin(TAG_TYPE).uleb(T_ENUM).byte(23).text("A").uleb(1).no_pos().end();
    img.begin(TAG_TYPE).uleb(T_ENUM).byte(255).byte(1).end();
    img.begin(TAG_TYPE).uleb(T_CENUM).byte(17).type_ref(T_ENUM).uleb(Q_CONST | Q_VOLATILE)
        .uleb(16).uleb(16).end();
    img.begin(TAG_TYPE).uleb(T_FUNC).byte(20).type_ref(T_INT).flag(true).flag(false).byte(0)
        .flag(false).end();
    img.begin(TAG_TYPE).uleb(T_FUNC).byte(254).byte(0).end();
    img.begin(TAG_TYPE).uleb(T_FUNC).byte(255).byte(0).end();
    return img;
  }
  static IcodeImage::Symbol sym(const char *name, uint32_t type, uint8_t sclass = SC_EXTERN_DEF,
                                uint16_t flags = 0, uint32_t size = 32) {
    IcodeImage::Symbol s;
    s.name = name;
    s.type = type;
    s.storage_class = sclass;
    s.flags = flags;
    s.size = size;
    return s;
  }

  void read(IcodeImage img) {
    img.end_stream();
    file_ = std::make_unique<MemFile>(img.bytes());
    reader_ = IcodeReader::open(file_->get(), program, program.types());
    ASSERT_TRUE(reader_);
    reader_->read_all();
  }
  SYMTAB *global(size_t i) { return program.globals().at(i); }

  PROGRAM program;

private:
  int (*saved_level_)() = nullptr;
  std::unique_ptr<MemFile> file_;
  std::unique_ptr<IcodeReader> reader_;
};

// ------------------------------------------------------------------ flags

TEST_F(SymbolsTest, GlobalFlagsBelowLevel3) {
  for (int level : {2, 3}) {
    PROGRAM p;
    level_now = level;
    IcodeImage img = image();
    img.symbol(sym("plain", T_INT));
    img.symbol(sym("reg", T_INT, SC_EXTERN_DEF, SF_REGISTER));
    img.symbol(sym("creg", T_INT, SC_STATIC, SF_CREGISTER));
    img.symbol(sym("all", T_INT, SC_EXTERN_DEF, 0xffff));
    img.symbol(sym("konst", T_CINT));
    img.end_stream();
    MemFile f(img.bytes());
    auto r = IcodeReader::open(f.get(), p, p.types());
    ASSERT_TRUE(r);
    r->read_all();
    ASSERT_EQ(p.globals().size(), 5u);
    const auto &g = p.globals();
    if (level == 2) {
      EXPECT_EQ(g[0]->flags(), 0xe000);
      EXPECT_EQ(g[1]->flags(), 0x80 | 0xc000);
      EXPECT_EQ(g[2]->flags(), 0x10 | 0xc000);
      EXPECT_EQ(g[3]->flags(), 0x19ff | 0xc000);
    } else {
      EXPECT_EQ(g[0]->flags(), 0);
      EXPECT_EQ(g[1]->flags(), 0x80);
      EXPECT_EQ(g[2]->flags(), 0x10);
      EXPECT_EQ(g[3]->flags(), 0x19ff);
    }
    EXPECT_EQ(g[4]->flags(), 0) << level;   // const: nothing added
  }
}

// The level of a function's own option set decides for its locals; locals
// never get the global bits.
TEST_F(SymbolsTest, LocalsKeepTheirFileFlags) {
  level_now = 0;
  IcodeImage img = image();
  img.symbol(sym("f", T_FUNC, SC_EXTERN_DEF, 0, 0));
  img.begin(TAG_FUNC_BEGIN).no_pos().uleb(0).end();
  img.symbol(sym("p", T_INT, SC_AUTO, 0x2080));
  img.begin(TAG_FUNC_END).no_pos().end();
  read(img);
  const FUNINFO &fi = *program.functions().at(0);
  ASSERT_EQ(fi.params.size(), 1u);
  EXPECT_EQ(fi.params[0]->flags(), 0x80);   // 0x2000 is outside the mask
}

// ------------------------------------------------------------------ types

TEST_F(SymbolsTest, EnumerationSymbolsTakeTheIntegralType) {
  IcodeImage img = image();
  img.symbol(sym("e", T_ENUM, SC_EXTERN_DEF, 0, 16));
  img.symbol(sym("ce", T_CENUM, SC_EXTERN_DEF, 0, 16));
  read(img);
  TYPE *uchar = program.types().mk_int(IK_UCHAR);
  EXPECT_EQ(global(0)->type(), uchar);
  EXPECT_EQ(global(0)->otype->kind, TK_ENUM);
  EXPECT_EQ(global(0)->flags(), 0xe000);
  TYPE *ct = global(1)->type();
  EXPECT_EQ(ct->kind, TK_QUALIFIED);
  EXPECT_EQ(ct->qualifiers, Q_CONST | Q_VOLATILE);
  EXPECT_EQ(ct->base, uchar);
  EXPECT_EQ(global(1)->otype->getr()->kind, TK_ENUM);
  EXPECT_EQ(global(1)->flags(), 0);   // const
  EXPECT_EQ(program.types().normalize(global(1)->type()), ct);
}

TEST_F(SymbolsTest, SizeThatDiffersFromTheTypeIsAnInternalError) {
  EXPECT_EXIT(
      {
        IcodeImage img = image();
        img.symbol(sym("bad", T_INT, SC_EXTERN_DEF, 0, 16));
        read(img);
      },
      ::testing::ExitedWithCode(1),
      "Assertion failed: otype->is_func\\(\\) \\|\\| size == otype->size\\(\\)");
}

// ------------------------------------------------------ classes, printer

TEST_F(SymbolsTest, StorageClassesAndThePrinter) {
  IcodeImage img = image();
  img.symbol(sym("r", T_INT, SC_REGISTER));
  img.symbol(sym("cr", T_INT, SC_REGISTER, SF_CREGISTER));
  img.symbol(sym("fr", T_INT, SC_AUTO, SF_REGISTER));
  img.symbol(sym("x", T_INT, SC_EXTERN_REF));
  img.symbol(sym("s", T_CINT, SC_STATIC));
  img.symbol(sym("a", T_INT, SC_AUTO));
  img.symbol(sym("_Z3fooi", T_FUNC, SC_EXTERN_DEF, 0, 0));
  read(img);
  EXPECT_EQ(symbol_declaration(*global(0)), "register int r");
  EXPECT_EQ(symbol_declaration(*global(1)), "cregister int cr");
  EXPECT_EQ(symbol_declaration(*global(2)), "register int fr");
  EXPECT_EQ(symbol_declaration(*global(3)), "extern int x");
  EXPECT_EQ(symbol_declaration(*global(4)), "static const int s");
  EXPECT_EQ(symbol_declaration(*global(5)), "int a");
  EXPECT_EQ(symbol_declaration(*global(6)), "extern int () foo(int)");
  EXPECT_EQ(global(0)->state & SS_NOT_REGISTER_LIKE, 0);
  EXPECT_NE(global(5)->state & SS_NOT_REGISTER_LIKE, 0);
  EXPECT_NE(global(5)->state & SS_CREATED, 0);
  // Serial numbers count the symbols made, in order.
  EXPECT_EQ(global(1)->serial, global(0)->serial + 1);
}

TEST_F(SymbolsTest, StorageClass27MarksTheFunction) {
  IcodeImage img = image();
  img.symbol(sym("f", T_FUNC, SC_EXTERN_DEF, 0, 0));
  img.begin(TAG_FUNC_BEGIN).no_pos().uleb(0).end();
  img.begin(TAG_BODY_BEGIN).no_pos().end();
  img.symbol(sym("t", T_INT, SC_FILE_27));
  img.begin(TAG_FUNC_END).no_pos().end();
  read(img);
  FUNINFO &fi = *program.functions().at(0);
  EXPECT_EQ(fi.locals.at(0)->storage_class(), SC_STORED_27);
  EXPECT_EQ(fi.locals.at(0)->original_sclass, SC_FILE_27);
  EXPECT_EQ(fi.flags & 0x40022u, 0x40022u);
  EXPECT_EQ(global(0)->funinfo, &fi);   // made with the symbol
}

// -------------------------------------------------------------- scopes

TEST_F(SymbolsTest, ScopesOfAFunction) {
  IcodeImage img = image();
  img.symbol(sym("f", T_FUNC, SC_EXTERN_DEF, 0, 0));
  img.begin(TAG_FUNC_BEGIN).pos(0, 0, 0).uleb(0).end();
  img.symbol(sym("p", T_INT, SC_AUTO));
  img.begin(TAG_BODY_BEGIN).no_pos().end();
  img.symbol(sym("a", T_INT, SC_AUTO));
  img.symbol(sym("b", T_INT, SC_AUTO));
  img.begin(TAG_BLOCK_BEGIN).no_pos().end();
  img.symbol(sym("c", T_INT, SC_AUTO));
  img.begin(TAG_BLOCK_END).no_pos().end();
  img.symbol(sym("d", T_INT, SC_AUTO));
  img.begin(TAG_FUNC_END).no_pos().end();
  read(img);
  FUNINFO &fi = *program.functions().at(0);
  EXPECT_EQ(fi.file_name, "NO_PSN_FILE");
  EXPECT_EQ(fi.scope_level, 0u);
  ASSERT_EQ(fi.scopes().size(), 3u);
  auto names = [](const SCOPE &s) {
    std::string out;
    for (SYMTAB *x = s.symbols; x; x = x->next_local)
      out += x->name_text;
    return out;
  };
  EXPECT_EQ(names(*fi.scopes()[0]), "p");
  EXPECT_EQ(names(*fi.scopes()[1]), "abd");
  EXPECT_EQ(names(*fi.scopes()[2]), "c");
  EXPECT_EQ(fi.scopes()[2]->level, 3u);
  EXPECT_EQ(fi.scopes()[2]->parent, fi.scopes()[1].get());
  for (const auto &s : fi.scopes())
    EXPECT_TRUE(s->closed);
  EXPECT_EQ(fi.locals.size(), 4u);
  EXPECT_EQ(fi.locals[2]->scope_level(), 3u);
  EXPECT_EQ(currfunc, nullptr);   // only while the function is read
}

// ------------------------------------------------------- special names

TEST_F(SymbolsTest, TemporariesAndTheImplicitState) {
  EXPECT_EQ(temp_kind("$OT12"), 'T');
  EXPECT_EQ(temp_kind("$OC3"), 'C');
  EXPECT_EQ(temp_kind("$OT"), 0);
  EXPECT_EQ(temp_kind("$OT1a"), 0);
  EXPECT_EQ(temp_kind("$OX1"), 0);
  EXPECT_TRUE(is_temp_name("$Ox"));
  EXPECT_FALSE(is_temp_name("O$"));

  IcodeImage img = image();
  img.symbol(sym("f", T_FUNC, SC_EXTERN_DEF, 0, 0));
  img.begin(TAG_FUNC_BEGIN).no_pos().uleb(0).end();
  img.symbol(sym("p", T_INT, SC_AUTO));
  img.begin(TAG_BODY_BEGIN).no_pos().end();
  img.begin(TAG_FUNC_END).no_pos().end();
  read(img);
  FUNINFO &fi = *program.functions().at(0);
  currfuninfo = &fi;
  SYMTAB *t = program.new_temporary(kTempLetterCse, program.types().mk_int(IK_SHORT));
  EXPECT_EQ(temp_kind(t->name()), 'C');
  EXPECT_EQ(t->index(), 1u);   // after the parameter
  EXPECT_EQ(fi.locals.back(), t);
  SYMTAB *st = program.implicit_state_symbol();
  EXPECT_STREQ(st->name(), "__MCALL_implicit_state__");
  EXPECT_EQ(program.implicit_state_symbol(), st);
  EXPECT_EQ(program.globals().size(), 1u);   // not a global of the file
}

// ------------------------------------------------ read-time normalization

TEST_F(SymbolsTest, ExternalReferencesMeetTheirDefinition) {
  IcodeImage img = image();
  img.symbol(sym("f", T_FUNC, SC_EXTERN_DEF, 0, 0));      // 0
  img.symbol(sym("v", T_CINT, SC_EXTERN_DEF));            // 1: incompatible (const)
  img.symbol(sym("v", T_INT, SC_EXTERN_DEF));             // 2: the definition
  img.symbol(sym("v", T_INT, SC_EXTERN_REF));             // 3: the reference
  img.symbol(sym("w", T_INT, SC_EXTERN_REF));             // 4: no definition
  img.begin(TAG_FUNC_BEGIN).no_pos().uleb(0).end();
  img.begin(TAG_BODY_BEGIN).no_pos().end();
  img.begin(TAG_STATEMENT).no_pos().end();
  img.node(ASG, T_INT).end().name(T_INT, 0, 4).name(T_INT, 0, 3);
  img.begin(TAG_FUNC_END).no_pos().end();
  read(img);
  NODE *asg = program.functions().at(0)->statements.at(0).tree;
  EXPECT_EQ(asg->left->sym(), global(4));
  EXPECT_EQ(asg->right->sym(), global(2));
}

// ------------------------------------------------ statistics and the dump

TEST_F(SymbolsTest, InternedStatisticsAndTheDump) {
  IcodeImage img = image();
  img.symbol(sym("_Z3fooi", T_FUNC, SC_EXTERN_DEF, 0, 0));
  img.symbol(sym("g", T_ENUM, SC_STATIC, 0, 16));
  img.begin(TAG_FUNC_BEGIN).no_pos().uleb(0).end();
  img.symbol(sym("x", T_INT, SC_AUTO));
  img.begin(TAG_BODY_BEGIN).no_pos().end();
  img.begin(TAG_STATEMENT).pos(0, 0, 0).end();
  img.node(RETURN, T_INT).end().name(T_INT, 1, 0).leaf(NOP, 0);
  img.begin(TAG_FUNC_END).no_pos().end();
  read(img);

  char *buf = nullptr;
  size_t len = 0;
  FILE *f = open_memstream(&buf, &len);
  program.print_interned_stats(f);
  std::fclose(f);
  std::string stats(buf, len);
  std::free(buf);
  EXPECT_EQ(stats.rfind("\n3 interned symbols;  load factor ", 0), 0u) << stats;
  EXPECT_NE(stats.find(", max load factor 1.00, 2 with NULL funinfo.\n"), std::string::npos)
      << stats;

  static FILE *sink = nullptr;
  sink = std::tmpfile();
  FILE *(*saved)() = ir_debug_stream;
  ir_debug_stream = [] { return sink; };
  debug_dump_program(program);
  ir_debug_stream = saved;
  std::rewind(sink);
  std::string dump;
  for (int c; (c = std::fgetc(sink)) != EOF;)
    dump += static_cast<char>(c);
  std::fclose(sink);
  for (const char *part : {"==== PROGRAM AS READ", "enum E {A=1} ", "---- globals",
                           "extern int () foo(int)  <_Z3fooi>", "static enum E g",
                           "==== FUNCTION foo(int)", "parameters:", "int x", "RETURN",
                           "interned symbols"})
    EXPECT_NE(dump.find(part), std::string::npos) << part << "\n" << dump;
}

// Nothing is written while debug output is off.
TEST_F(SymbolsTest, NoDumpWithoutDebugOutput) {
  FILE *(*saved)() = ir_debug_stream;
  ir_debug_stream = [] { return static_cast<FILE *>(nullptr); };
  debug_dump_program(program);   // must not touch a stream
  ir_debug_stream = saved;
}

} // namespace
} // namespace zor
