// tests/unit/example_image_test.cpp - the bundled example program.
//
// examples/demo.if is the I-code of this small C program, built here byte by
// byte so that it cannot rot: the test fails when the file differs from
// what the builder makes, and ZOR_UPDATE_EXAMPLES=1 rewrites it.
//
//   int counter;
//   int scale(int x) { int y; y = x * 3 + 1; return y; }
//   int main(void) {
//     counter = scale(4);
//   again:
//     if (counter < 100) { counter *= 2; goto again; }
//     return counter;
//   }
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "icode/reader.h"
#include "icode/record_tags.h"
#include "ir/node.h"
#include "ir/opcodes.h"
#include "ir/program.h"
#include "tests/support/icode_image.h"

namespace zor {
namespace {

using test::IcodeImage;

enum : uint32_t { T_INT = 1, T_VOID, T_FUNC, T_PFUNC };
enum : uint32_t { G_COUNTER, G_SCALE, G_MAIN };
constexpr uint8_t SC_AUTO = 1, SC_EXTERN_DEF = 2;

IcodeImage demo_image() {
  IcodeImage img;
  test::HeaderFields h;
  h.producer = "zor examples";
  img.header(h);

  auto stmt = [&](uint32_t line) -> IcodeImage & {
    return img.begin(TAG_STATEMENT).pos(1, line, 3).end();
  };
  auto nop = [&] { img.leaf(NOP, T_VOID); };
  auto label = [&](uint32_t n) { img.node(LABEL, T_VOID).uleb(n).end(); };

  // int scale(int x) { int y; y = x * 3 + 1; return y; }
  img.begin(TAG_FUNC_BEGIN).pos(1, 2, 5).uleb(G_SCALE).end();
  img.symbol({.name = "x", .storage_class = SC_AUTO, .type = T_INT, .file = 1, .line = 2, .column = 15});
  img.begin(TAG_BODY_BEGIN).pos(1, 2, 18).end();
  img.symbol({.name = "y", .storage_class = SC_AUTO, .type = T_INT, .file = 1, .line = 2, .column = 24});
  stmt(2);
  img.node(ASG, T_INT).end();
  img.name(T_INT, 1, 1);
  img.node(PLUS, T_INT).end();
  img.node(MULT, T_INT).end();
  img.name(T_INT, 1, 0);
  img.icon_signed(T_INT, 3);
  img.icon_signed(T_INT, 1);
  stmt(2);
  img.node(RETURN, T_INT).end();
  img.name(T_INT, 1, 1);
  nop();
  img.begin(TAG_FUNC_END).pos(1, 2, 50).end();

  // int main(void) { ... }
  img.begin(TAG_FUNC_BEGIN).pos(1, 3, 5).uleb(G_MAIN).end();
  img.begin(TAG_BODY_BEGIN).pos(1, 3, 16).end();
  stmt(4);
  img.node(ASG, T_INT).end();
  img.name(T_INT, 0, G_COUNTER);
  img.node(CALL, T_INT).uleb(1).uleb(0).end();
  img.node(UAND, T_PFUNC).end();
  img.name(T_FUNC, 0, G_SCALE);
  img.icon_signed(T_INT, 4);
  img.begin(TAG_LABEL).uleb(1).end();
  stmt(6);
  img.node(CBRANCH, T_VOID).end();
  img.node(LT, T_INT).end();
  img.name(T_INT, 0, G_COUNTER);
  img.icon_signed(T_INT, 100);
  label(2);
  stmt(6);
  img.node(MULTASG, T_INT).end();
  img.name(T_INT, 0, G_COUNTER);
  img.icon_signed(T_INT, 2);
  stmt(6);
  img.node(BRANCH, T_VOID).end();
  label(1);
  img.begin(TAG_LABEL).uleb(2).end();
  stmt(7);
  img.node(RETURN, T_INT).end();
  img.name(T_INT, 0, G_COUNTER);
  nop();
  img.begin(TAG_FUNC_END).pos(1, 8, 1).end();
  img.end_stream();

  img.section_here(IcodeImage::OPTIONS);
  img.option_set(0, {"-o2"}).end_stream();

  img.section_here(IcodeImage::TYPES);
  img.begin(TAG_TYPE).uleb(T_INT).byte(6).flag(false).uleb(32).uleb(32).flag(false).flag(false).end();
  img.begin(TAG_TYPE).uleb(T_VOID).byte(49).end();
  img.begin(TAG_TYPE).uleb(T_FUNC).byte(20).type_ref(T_INT).flag(true).flag(false).byte(0)
      .flag(false).end();
  img.begin(TAG_TYPE).uleb(T_FUNC).byte(254).byte(0).end();
  img.begin(TAG_TYPE).uleb(T_FUNC).byte(21).type_ref(T_INT).flag(false).uleb(0).text("x").end();
  img.begin(TAG_TYPE).uleb(T_FUNC).byte(255).byte(0).end();
  img.begin(TAG_TYPE).uleb(T_PFUNC).byte(15).type_ref(T_FUNC).uleb(16).uleb(16).end();
  img.end_stream();

  img.section_here(IcodeImage::FILES);
  img.file_name("demo.c").end_stream();

  img.section_here(IcodeImage::GLOBALS);
  img.symbol({.name = "counter", .storage_class = SC_EXTERN_DEF, .type = T_INT,
              .file = 1, .line = 1, .column = 5});
  img.symbol({.name = "scale", .size = 0, .storage_class = SC_EXTERN_DEF, .type = T_FUNC,
              .alignment = 16, .file = 1, .line = 2, .column = 5});
  img.symbol({.name = "main", .size = 0, .storage_class = SC_EXTERN_DEF, .type = T_FUNC,
              .alignment = 16, .file = 1, .line = 3, .column = 5});
  img.end_stream();
  return img;
}

const char *example_path() { return ZOR_SOURCE_DIR "/examples/demo.if"; }

TEST(ExampleImage, BundledFileIsUpToDate) {
  IcodeImage img = demo_image();
  if (const char *u = std::getenv("ZOR_UPDATE_EXAMPLES"); u && *u == '1') {
    std::ofstream out(example_path(), std::ios::binary);
    out.write(reinterpret_cast<const char *>(img.bytes().data()),
              static_cast<std::streamsize>(img.bytes().size()));
  }
  std::ifstream in(example_path(), std::ios::binary);
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(file, img.bytes()) << "run with ZOR_UPDATE_EXAMPLES=1 to rewrite " << example_path();
}

// The program context reads the example into two functions with their
// statements, the labels as LABELDEF statements.
TEST(ExampleImage, ReadsIntoTheProgram) {
  IcodeImage img = demo_image();
  test::MemFile f(img.bytes());
  PROGRAM program;
  auto reader = IcodeReader::open(f.get(), program, program.types());
  ASSERT_TRUE(reader);
  reader->read_all();
  ASSERT_EQ(program.functions().size(), 2u);
  const FUNINFO &scale = *program.functions()[0];
  const FUNINFO &main_fn = *program.functions()[1];
  EXPECT_STREQ(scale.symbol->name(), "scale");
  EXPECT_EQ(scale.file_name, "demo.c");
  ASSERT_EQ(scale.statements.size(), 2u);
  EXPECT_EQ(scale.statements[0].tree->op, ASG);
  EXPECT_EQ(scale.statements[0].pos.line, 2u);
  ASSERT_EQ(main_fn.statements.size(), 7u);
  EXPECT_EQ(main_fn.statements[1].tree->op, LABELDEF);
  EXPECT_EQ(main_fn.statements[1].tree->label_number(), 1u);
  EXPECT_FALSE(main_fn.no_calls);
  EXPECT_TRUE(scale.no_calls);
  EXPECT_EQ(program.globals().size(), 3u);
  NODE *call = main_fn.statements[0].tree->right;
  ASSERT_EQ(call->op, CALL);
  EXPECT_EQ(call->left->left->sym(), program.globals()[G_SCALE]);
}

} // namespace
} // namespace zor
