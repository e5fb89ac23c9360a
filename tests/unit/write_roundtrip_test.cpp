// tests/unit/write_roundtrip_test.cpp - files read and written back.
//
// A file read into the program context and written at level 0 must decode
// like the original, up to what the writer changes on purpose (see
// test::comparable), and writing the result again must give the same bytes.
// The bundled example and an image that uses every type kind, initializers,
// attribute lists, nested scopes, exception tables and most operators go
// through it; the last tests run zopt itself on its own output.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "icode/record_tags.h"
#include "ir/opcodes.h"
#include "ir/program.h"
#include "ir/symtab.h"
#include "ir/type.h"
#include "tests/support/icode_image.h"
#include "tests/support/icode_roundtrip.h"

namespace zor {
namespace {

using test::comparable;
using test::IcodeImage;
using test::joined;
using test::rewrite;

std::vector<uint8_t> read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

// ----------------------------------------------------------- the images

enum : uint32_t {
  T_INT = 1, T_VOID, T_CHAR, T_PCHAR, T_S, T_PS, T_E, T_ARR, T_MYINT, T_VINT, T_FUNC,
  T_PFUNC, T_LLONG, T_VEC, T_K, T_UNUSED, T_FLOAT, T_FIXED, T_COMPLEX, T_PTM, T_REF, T_FUNC0,
};
enum : uint32_t {
  G_COUNTER, G_SVAR, G_ARR, G_MYINT, G_VOL, G_FN, G_BIG, G_VEC, G_KVAR, G_FX, G_CX, G_PM,
  G_RF, G_MSG, G_MAIN2,
};
enum : uint32_t { L_X, L_S, L_I, L_J };

void type_section(IcodeImage &img) {
  img.section_here(IcodeImage::TYPES);
  auto integral = [&](uint32_t id, uint8_t kind, uint32_t size) {
    img.begin(TAG_TYPE).uleb(id).byte(kind).flag(false).uleb(size).uleb(size > 32 ? 32 : size)
        .flag(false).flag(false).end();
  };
  auto group = [&](uint32_t id, uint8_t marker, uint8_t g) {
    img.begin(TAG_TYPE).uleb(id).byte(marker).byte(g).end();
  };
  auto data_member = [&](uint32_t owner, uint32_t mid, const char *name, uint32_t type,
                         int32_t offset) {
    img.begin(TAG_TYPE).uleb(owner).byte(28).uleb(mid).text(name).type_ref(type).byte(0)
        .sleb(offset).byte(0).uleb(0).flag(false).flag(false).flag(false).pos(1, 1, 1).end();
  };
  integral(T_INT, 6, 32);
  img.begin(TAG_TYPE).uleb(T_VOID).byte(49).end();
  integral(T_CHAR, 1, 16);
  img.begin(TAG_TYPE).uleb(T_PCHAR).byte(15).type_ref(T_CHAR).uleb(16).uleb(16).end();
  // struct S { int a; struct S *next; }: the pointer is defined between the
  // structure and its members.
  img.begin(TAG_TYPE).uleb(T_S).byte(24).byte(0).text("S").flag(true).flag(false).uleb(64)
      .uleb(32).flag(true).flag(false).flag(false).pos(1, 1, 1).end();
  img.begin(TAG_TYPE).uleb(T_PS).byte(15).type_ref(T_S).uleb(16).uleb(16).end();
  group(T_S, 254, 7);
  data_member(T_S, 1, "a", T_INT, 0);
  data_member(T_S, 2, "next", T_PS, 32);
  group(T_S, 255, 7);
  img.begin(TAG_TYPE).uleb(T_E).byte(22).text("E").uleb(32).uleb(32).type_ref(T_INT).flag(false)
      .pos(1, 2, 1).end();
  group(T_E, 254, 1);
  img.begin(TAG_TYPE).uleb(T_E).byte(23).text("RED").sleb(0).pos(1, 2, 10).end();
  img.begin(TAG_TYPE).uleb(T_E).byte(23).text("BLUE").sleb(-1).pos(1, 2, 15).end();
  group(T_E, 255, 1);
  img.begin(TAG_TYPE).uleb(T_ARR).byte(18).type_ref(T_INT).uleb(4).uleb(128).uleb(32)
      .flag(true).flag(false).flag(false).end();
  img.begin(TAG_TYPE).uleb(T_MYINT).byte(14).text("myint").type_ref(T_INT).uleb(32).uleb(32)
      .flag(false).flag(false).pos(1, 3, 1).end();
  img.begin(TAG_TYPE).uleb(T_VINT).byte(17).type_ref(T_INT).uleb(2).uleb(32).uleb(32).end();
  img.begin(TAG_TYPE).uleb(T_FUNC).byte(20).type_ref(T_INT).flag(true).flag(false).byte(0)
      .flag(false).end();
  group(T_FUNC, 254, 0);
  img.begin(TAG_TYPE).uleb(T_FUNC).byte(21).type_ref(T_INT).flag(false).uleb(0).text("x").end();
  img.begin(TAG_TYPE).uleb(T_FUNC).byte(21).type_ref(T_PCHAR).flag(false).uleb(1).text("s").end();
  group(T_FUNC, 255, 0);
  img.begin(TAG_TYPE).uleb(T_PFUNC).byte(15).type_ref(T_FUNC).uleb(16).uleb(16).end();
  integral(T_LLONG, 50, 64);
  img.begin(TAG_TYPE).uleb(T_VEC).byte(18).type_ref(T_INT).uleb(4).uleb(128).uleb(32)
      .flag(true).flag(false).flag(true).end();
  // class K : S { int m; } in the full form: groups 2 (bases) and 7.
  img.begin(TAG_TYPE).uleb(T_K).byte(25).byte(2).text("K").flag(true).flag(false).uleb(96)
      .uleb(32).uleb(0);
  for (int g : {2, 3, 4, 5, 6, 7, 8, 9, 0})
    img.flag(g == 2 || g == 7);
  img.flag(false).flag(false).pos(1, 4, 1).end();
  group(T_K, 254, 2);
  img.begin(TAG_TYPE).uleb(T_K).byte(29).type_ref(T_S).sleb(0).byte(1).flag(false).end();
  group(T_K, 255, 2);
  group(T_K, 254, 7);
  data_member(T_K, 1, "m", T_INT, 64);
  group(T_K, 255, 7);
  img.begin(TAG_TYPE).uleb(T_UNUSED).byte(14).text("unused_t").type_ref(T_CHAR).uleb(16)
      .uleb(16).flag(false).flag(false).pos(0, 0, 0).end();
  img.begin(TAG_TYPE).uleb(T_FLOAT).byte(10).uleb(32).uleb(32).end();
  img.begin(TAG_TYPE).uleb(T_FIXED).byte(13).byte(0xf1).flag(false).type_ref(T_INT).uleb(32)
      .uleb(32).end();
  img.begin(TAG_TYPE).uleb(T_COMPLEX).byte(36).uleb(64).uleb(32).type_ref(T_FLOAT).end();
  img.begin(TAG_TYPE).uleb(T_PTM).byte(19).type_ref(T_INT).type_ref(T_K).uleb(16).uleb(16).end();
  img.begin(TAG_TYPE).uleb(T_REF).byte(16).type_ref(T_INT).uleb(16).uleb(16).end();
  img.begin(TAG_TYPE).uleb(T_FUNC0).byte(20).type_ref(T_VOID).flag(true).flag(false).byte(0)
      .flag(false).end();
  group(T_FUNC0, 254, 0);
  group(T_FUNC0, 255, 0);
  img.end_stream();
}

void global_section(IcodeImage &img) {
  img.section_here(IcodeImage::GLOBALS);
  img.symbol({.name = "counter", .type = T_INT, .lists = 2, .file = 1, .line = 5, .column = 5});
  img.attribute_list(TAG_ATTRIBUTES, 34, {"bank1"});
  img.attribute_list(TAG_ATTRIBUTES, 69, {"comdat", "x"});
  img.symbol({.name = "s_var", .size = 64, .type = T_S});
  img.symbol({.name = "arr", .size = 128, .type = T_ARR, .option_set = 1});
  img.symbol({.name = "mi", .storage_class = 3, .type = T_MYINT});
  img.symbol({.name = "vol", .flags = 0x80, .type = T_VINT});
  img.symbol({.name = "fn", .size = 0, .type = T_FUNC, .alignment = 16, .file = 1, .line = 7});
  img.symbol({.name = "big", .size = 64, .type = T_LLONG});
  img.symbol({.name = "vec", .size = 128, .type = T_VEC});
  img.symbol({.name = "k_var", .size = 96, .type = T_K});
  img.symbol({.name = "fx", .type = T_FIXED});
  img.symbol({.name = "cx", .size = 64, .type = T_COMPLEX});
  img.symbol({.name = "pm", .size = 16, .type = T_PTM, .second_type = T_INT});
  img.symbol({.name = "rf", .size = 16, .storage_class = 5, .type = T_REF});
  img.symbol({.name = "msg", .size = 16, .offset = 40, .storage_class = 22, .type = T_PCHAR});
  img.symbol({.name = "main2", .size = 0, .type = T_FUNC0, .alignment = 16});
  img.end_stream();
}

void initializer_section(IcodeImage &img) {
  img.section_here(IcodeImage::INITIALIZERS);
  img.begin(TAG_INITIALIZER).uleb(G_COUNTER).end();
  img.icon_signed(T_INT, 7);
  img.leaf(ENDINIT, T_VOID);
  img.begin(TAG_INITIALIZER).uleb(G_ARR).end();
  img.icon_signed(T_INT, 1);
  img.node(SKIP, T_VOID).uleb(64).end();
  img.icon_signed(T_E, -1);
  img.leaf(ENDINIT, T_VOID);
  img.begin(TAG_INITIALIZER).uleb(G_BIG).end();
  img.node(LCON, T_LLONG).text("-1099511627776").end();
  img.leaf(ENDINIT, T_VOID);
  img.begin(TAG_INITIALIZER).uleb(G_MSG).end();
  img.node(SCON, T_PCHAR).counted(std::string("hi\0!", 4)).end();
  img.leaf(ENDINIT, T_VOID);
  img.begin(TAG_INITIALIZER).uleb(G_SVAR).end();
  img.icon_signed(T_INT, 3);
  img.node(UAND, T_PS).end();
  img.name(T_S, 0, G_SVAR);
  img.leaf(ENDINIT, T_VOID);
  img.end_stream();
}

IcodeImage rich_image() {
  IcodeImage img;
  img.header();
  auto stmt = [&](uint32_t line) { img.begin(TAG_STATEMENT).pos(1, line, 3).end(); };
  auto label = [&](uint32_t n) { img.node(LABEL, T_VOID).uleb(n).end(); };
  auto local = [&](uint32_t index, uint32_t type) { img.name(type, 1, index); };

  // int fn(int x, char *s)
  img.begin(TAG_FUNC_BEGIN).pos(1, 7, 1).uleb(G_FN).end();
  img.symbol({.name = "x", .storage_class = 1, .type = T_INT, .file = 1, .line = 7, .column = 12});
  img.symbol({.name = "s", .size = 16, .storage_class = 1, .type = T_PCHAR});
  img.begin(TAG_BODY_BEGIN).pos(1, 7, 20).end();
  img.symbol({.name = "i", .storage_class = 1, .type = T_INT});
  img.begin(TAG_BLOCK_BEGIN).pos(1, 8, 3).end();
  img.symbol({.name = "j", .offset = 8, .storage_class = 27, .type = T_INT, .lists = 1});
  img.attribute_list(TAG_ATTRIBUTES, 37, {"2"});
  img.begin(TAG_BLOCK_END).pos(1, 8, 9).end();
  img.begin(TAG_PRAGMA).text("MUST_ITERATE(1)").end();
  stmt(9);
  img.node(ASG, T_INT).end();
  local(L_I, T_INT);
  img.node(PLUS, T_INT).end();
  local(L_X, T_INT);
  img.icon_signed(T_INT, 1);
  stmt(10);
  img.node(ASG, T_INT).end();
  local(L_J, T_INT);
  img.node(NEQ, T_INT).end();
  img.node(FCON, T_FLOAT).text("0x1p+0").end();
  img.node(FCON, T_FLOAT).text("0x1.8p+1").end();
  img.begin(TAG_LABEL).uleb(5).end();
  stmt(11);
  img.node(CBRANCH, T_VOID).end();
  img.node(LT, T_INT).end();
  local(L_I, T_MYINT);
  img.icon_signed(T_INT, 10);
  label(6);
  stmt(12);
  img.node(ASG, T_INT).end();
  img.name(T_INT, 0, G_COUNTER);
  img.node(CALL, T_INT).uleb(2).uleb(0).end();
  img.node(UAND, T_PFUNC).end();
  img.name(T_FUNC, 0, G_FN);
  img.node(COMMA, T_INT).end();
  local(L_I, T_INT);
  local(L_S, T_PCHAR);
  stmt(13);
  img.node(BRANCH, T_VOID).end();
  label(5);
  img.begin(TAG_LABEL).uleb(6).end();
  img.begin(TAG_ASM).text("  nop").pos(1, 14, 1).end();
  img.attribute_list(TAG_ATTRIBUTES, 39, {"1", "8"});
  stmt(15);
  img.node(ASG, T_INT).end();
  img.node(STDOT, T_INT).end();
  img.name(T_S, 0, G_SVAR);
  img.node(FIELD, T_INT).byte(1).uleb(1).type_ref(T_S).end();
  img.node(EPVAL, T_INT).uleb(3).end();
  img.node(MCALL, T_INT).text("_rt_abs").end();
  local(L_I, T_INT);
  stmt(16);
  img.node(ASG, T_LLONG).end();
  img.name(T_LLONG, 0, G_BIG);
  img.node(LCON, T_LLONG).text("1099511627776").end();
  stmt(17);
  img.node(SWITCH, T_VOID).uleb(1).end();
  local(L_I, T_INT);
  img.node(COMMA, T_VOID).end();
  img.node(CASE, T_VOID).end();
  img.icon_signed(T_INT, 1);
  label(5);
  img.node(DEFAULT, T_VOID).end();
  label(6);
  stmt(18);
  img.node(ASG, T_INT).end();
  img.name(T_VINT, 0, G_VOL);
  img.node(DDNODE, T_INT).uleb(2).uleb(5).byte(1).end();
  img.node(UMINUS, T_INT).end();
  img.node(VREG, T_INT).sleb(-3).end();
  stmt(19);
  img.node(RETURN, T_INT).end();
  local(L_I, T_INT);
  img.leaf(NOP, T_VOID);
  img.begin(TAG_EHT).uleb(3).end();
  img.begin(TAG_EHT_ENTRY).uleb(0).uleb(0).uleb(0).uleb(0).end();
  img.begin(TAG_EHT_ENTRY).uleb(1).uleb(1).uleb(0).uleb(0).end();
  img.begin(TAG_STATEMENT).pos(1, 19, 9).end();
  img.node(UCALL, T_VOID).uleb(0).end();
  img.node(UAND, T_PFUNC).end();
  img.name(T_FUNC0, 0, G_MAIN2);
  img.begin(TAG_EHT_ENTRY).uleb(2).uleb(2).uleb(1).uleb(2).end();
  img.begin(TAG_EHT_HANDLERS).text("_ZTI1S").uleb(6).flag(true).text("").uleb(5).flag(false).end();
  img.begin(TAG_FUNC_END).pos(1, 20, 1).end();

  // void main2(void) { return; }
  img.begin(TAG_FUNC_BEGIN).pos(1, 22, 1).uleb(G_MAIN2).end();
  img.begin(TAG_BODY_BEGIN).pos(1, 22, 15).end();
  stmt(23);
  img.node(URETURN, T_VOID).end();
  img.leaf(NOP, T_VOID);
  img.begin(TAG_FUNC_END).pos(1, 24, 1).end();
  // A pragma record outside functions is copied through.
  img.attribute_list(TAG_ATTRIBUTES, 70, {"main2"});
  img.end_stream();

  img.section_here(IcodeImage::OPTIONS);
  img.option_set(0, {"-o0"}).option_set(1, {"-o2", "--size_speed_goal=2"}).end_stream();
  type_section(img);
  img.section_here(IcodeImage::FILES);
  img.file_name("rich.c").end_stream();
  global_section(img);
  initializer_section(img);
  return img;
}

// ------------------------------------------------------------- the tests

TEST(WriterRoundTrip, BundledExampleDecodesAlike) {
  std::vector<uint8_t> demo = read_file(ZOR_SOURCE_DIR "/examples/demo.if");
  ASSERT_FALSE(demo.empty());
  EXPECT_EQ(joined(comparable(rewrite(demo))), joined(comparable(demo)));
}

TEST(WriterRoundTrip, EveryKindOfRecordDecodesAlike) {
  std::vector<uint8_t> image = rich_image().bytes();
  std::vector<std::string> original = comparable(image);
  ASSERT_GT(original.size(), 50u);
  EXPECT_EQ(joined(comparable(rewrite(image))), joined(original));
}

// Written, read and written again: the same bytes.
TEST(WriterRoundTrip, RewritingAWrittenFileGivesTheSameBytes) {
  for (const std::vector<uint8_t> &image :
       {read_file(ZOR_SOURCE_DIR "/examples/demo.if"), rich_image().bytes()}) {
    std::vector<uint8_t> once = rewrite(image);
    std::vector<uint8_t> twice = rewrite(once);
    EXPECT_EQ(once, twice);
    EXPECT_EQ(joined(test::decode(once)), joined(test::decode(twice)));
  }
}

// Types keep their members, enumerators and parameters: the full printed
// form of every global's type is the same before and after (the writer
// writes normalized symbol types, so the original's are normalized first).
TEST(WriterRoundTrip, TypesKeepTheirMembers) {
  std::vector<uint8_t> image = rich_image().bytes();
  test::ReadProgram before = test::read_program(image);
  test::ReadProgram after = test::read_program(rewrite(image));
  ASSERT_EQ(before->globals().size(), after->globals().size());
  for (size_t i = 0; i < before->globals().size(); ++i) {
    TYPE *was = before->types().normalize(before->globals()[i]->otype);
    TYPE *is = after->globals()[i]->otype;
    EXPECT_EQ(is->print(true), was->print(true)) << before->globals()[i]->name();
  }
}

// What a rewrite changes on purpose, seen in the decoded files.
TEST(WriterRoundTrip, DeliberateChanges) {
  const std::string got = joined(test::decode(rewrite(rich_image().bytes())));
  // Offsets only for classes 4, 9 and 22; class 27 written back as 27.
  EXPECT_NE(got.find("new_symbol msg size=16 offset=40 class=22 "), std::string::npos) << got;
  EXPECT_NE(got.find("new_symbol j size=32 offset=8 class=27 "), std::string::npos) << got;
  // The nested block is gone: j is a local of the body.
  EXPECT_EQ(got.find("block_begin"), std::string::npos);
  EXPECT_NE(got.find("set_scope_level j 2"), std::string::npos);
  // The exception table loses its root entry.
  EXPECT_NE(got.find("exception_table 2\n  entry id=1 kind=1 next=0"), std::string::npos) << got;
  // Wide constants go out as LCON.
  EXPECT_NE(got.find("(LCON:llong lcon=\"1099511627776\")"), std::string::npos) << got;
  EXPECT_NE(got.find("initializer big (LCON:llong lcon=\"-1099511627776\")"), std::string::npos);
  // Dependence numbers and register numbers are not kept.
  EXPECT_NE(got.find("(DDNODE:int ddnode=0,0,0 "), std::string::npos) << got;
  EXPECT_NE(got.find("(VREG:int vreg=0)"), std::string::npos) << got;
  // The unused typedef is not written.
  EXPECT_EQ(got.find("unused_t"), std::string::npos);
}

// ----------------------------------------------------------- zopt itself

class ZoptRoundTrip : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zopt_write_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  void write(const std::string &name, const std::vector<uint8_t> &bytes) const {
    std::ofstream out(path(name), std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  int zopt(const std::string &args) const {
    std::string cmd = "cd '" + dir_ + "' && '" ZOPT_PATH "' " + args + " 2> zopt.err";
    return std::system(cmd.c_str());
  }

  std::string error_text() const {
    std::vector<uint8_t> b = read_file(path("zopt.err"));
    return std::string(b.begin(), b.end());
  }

  std::string dir_;
};

// zopt -o0 keeps every declaration, also on its own output; its first
// record is the command-line comment.  The bodies change shape (blocks are
// laid out in depth-first order and the branches rewritten), so they are
// compared with the input by running the programs (tests/lit/zopt).
TEST_F(ZoptRoundTrip, LevelZeroKeepsTheDeclarations) {
  for (const std::vector<uint8_t> &image :
       {read_file(ZOR_SOURCE_DIR "/examples/demo.if"), rich_image().bytes()}) {
    write("a0.if", image);
    ASSERT_EQ(zopt("-o0 a0.if a1.if"), 0) << error_text();
    ASSERT_EQ(zopt("-o0 a1.if a2.if"), 0) << error_text();
    std::vector<uint8_t> first = read_file(path("a1.if"));
    std::vector<uint8_t> second = read_file(path("a2.if"));
    ASSERT_FALSE(first.empty());
    std::vector<test::RawRecord> records = test::main_records(first);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].tag, TAG_ASM);   // the command line comes first
    EXPECT_NE(test::without_comment(first), first);
    const std::string declared = joined(test::declarations(comparable(image)));
    EXPECT_EQ(joined(test::declarations(comparable(first))), declared);
    EXPECT_EQ(joined(test::declarations(comparable(second))), declared);
  }
}

} // namespace
} // namespace zor
