// tests/fuzz/make_seeds.cpp - writes the seed images of the reader's corpus.
//
// Usage: reader_fuzz_seeds DIRECTORY.  Each seed is a valid image that
// exercises one part of the format; the type identifiers match the ones the
// fuzz target binds (1 int, 2 unsigned, 3 float, 4 double, 5 pointer,
// 6 structure with members 1 and 2, 7 short).
#include <cstdio>
#include <string>

#include "icode/reader.h"
#include "ir/opcodes.h"
#include "tests/support/icode_image.h"

using namespace zor;
using test::IcodeImage;

namespace {

enum : uint32_t { T_INT = 1, T_UINT, T_FLOAT, T_DOUBLE, T_PTR, T_STRUCT, T_SHORT };

void write(const std::string &dir, const char *name, const IcodeImage &img) {
  std::string path = dir + "/" + name;
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::perror(path.c_str());
    return;
  }
  std::fwrite(img.bytes().data(), 1, img.size(), f);
  std::fclose(f);
}

IcodeImage::Symbol sym(const char *name, uint32_t type, uint8_t lists = 0) {
  IcodeImage::Symbol s;
  s.name = name;
  s.type = type;
  s.lists = lists;
  s.file = 1;
  s.line = 2;
  s.column = 3;
  return s;
}

IcodeImage program() {
  IcodeImage img;
  img.header();
  img.begin(TAG_FUNC_BEGIN).pos(1, 1, 1).uleb(0).end();
  img.symbol(sym("p", T_INT));
  img.begin(TAG_BODY_BEGIN).pos(1, 1, 10).end();
  img.symbol(sym("l", T_FLOAT, 1));
  img.attribute_list(TAG_ATTRIBUTES, 37, {"4"});
  img.begin(TAG_POSITION).pos(1, 2, 1).end();
  img.begin(TAG_STATEMENT).pos(1, 2, 1).end();
  img.node(ASG, T_FLOAT).end().name(T_FLOAT, 1, 1);
  img.node(PLUS, T_FLOAT).end().name(T_FLOAT, 1, 1).node(FCON, T_FLOAT).text("0x1p+0").end();
  img.begin(TAG_STATEMENT).pos(1, 3, 1).end();
  img.node(CBRANCH, 0).end().node(NEQ, T_INT).end().name(T_FLOAT, 1, 1);
  img.node(FCON, T_FLOAT).text("0x0p+0").end().node(LABEL, 0).uleb(7).end();
  img.begin(TAG_BLOCK_BEGIN).pos(1, 4, 1).end();
  img.symbol(sym("s", T_STRUCT));
  img.begin(TAG_STATEMENT).pos(1, 5, 1).end();
  img.node(ASG, T_INT).end().node(STDOT, T_INT).end().name(T_STRUCT, 1, 2);
  img.node(FIELD, T_INT).byte(1).uleb(1).type_ref(T_STRUCT).end().icon_signed(T_INT, -3);
  img.begin(TAG_BLOCK_END).pos(1, 6, 1).end();
  img.begin(TAG_LABEL).uleb(7).end();
  img.begin(TAG_STATEMENT).pos(1, 7, 1).end();
  img.node(RETURN, T_INT).end().name(T_INT, 1, 0).node(LCON, T_INT).text("-5").end();
  img.begin(TAG_FUNC_END).pos(1, 8, 1).end();
  img.end_stream();
  img.section_here(IcodeImage::INITIALIZERS);
  img.begin(TAG_INITIALIZER).uleb(1).end().icon_unsigned(T_UINT, 0xFFFFFFFFu).leaf(ENDINIT, 0);
  img.end_stream();
  img.section_here(IcodeImage::OPTIONS);
  img.option_set(0, {"-O2"}).option_set(1, {"-O0", "-g"}).end_stream();
  img.section_here(IcodeImage::TYPES);
  img.begin(TAG_TYPE).uleb(40).byte(49).end().end_stream();
  img.section_here(IcodeImage::FILES);
  img.file_name("main.c").end_stream();
  img.section_here(IcodeImage::GLOBALS);
  img.symbol(sym("main", T_INT));
  img.symbol(sym("g", T_UINT, 1));
  img.attribute_list(TAG_ATTRIBUTES, 69, {"g", "x"});
  img.end_stream();
  return img;
}

IcodeImage operators() {
  IcodeImage img;
  img.header();
  auto stmt = [&] { img.begin(TAG_STATEMENT).no_pos().end(); };
  stmt();
  img.node(SCON, T_PTR).counted(std::string("ab\0c", 4)).end();
  stmt();
  img.node(VREG, T_INT).sleb(-3).end();
  stmt();
  img.node(SWITCH, 0).uleb(4).end().icon_signed(T_INT, 1).leaf(NOP, 0);
  stmt();
  img.node(CALL, T_INT).uleb(2).uleb(3).end().leaf(NOP, T_PTR).leaf(NOP, 0);
  stmt();
  img.node(UCALL, T_INT).uleb(5).end().leaf(NOP, T_PTR);
  stmt();
  img.node(EPVAL, T_INT).uleb(6).end().icon_unsigned(T_UINT, 1);
  stmt();
  img.node(DDNODE, T_INT).uleb(1).uleb(2).byte(3).end().leaf(NOP, 0);
  stmt();
  img.node(ICALL, T_INT).text("f").end().leaf(NOP, 0);
  stmt();
  img.node(UICALL, T_INT).text("g").end();
  stmt();
  img.node(MCALL, T_INT).text("h").end().leaf(NOP, 0);
  stmt();
  img.node(UMCALL, T_INT).text("i").end();
  stmt();
  img.node(SKIP, 0).uleb(9).end();
  stmt();
  img.node(ULE, T_INT).end().leaf(NOP, T_DOUBLE).leaf(NOP, T_INT);
  img.node(UMINUS, T_SHORT).end().node(LCON, T_SHORT).text("-5").end();
  img.end_stream();
  return img;
}

IcodeImage records() {
  IcodeImage img;
  test::HeaderFields h;
  h.version = -84;
  img.header(h);
  img.begin(TAG_SYMBOL_REF).uleb(1).sleb(-1).sleb(-5).byte(2).end();
  img.begin(TAG_RECORD_108).uleb(1).byte(0).uleb(2).sleb(-3).type_ref(T_INT).sleb(4).uleb(5).end();
  img.begin(TAG_RECORD_108).uleb(1).byte(1).uleb(2).uleb(3).type_ref(0).sleb(-4).uleb(5).end();
  img.begin(TAG_RECORD_108).uleb(1).byte(2).uleb(200).end();
  img.begin(TAG_RECORD_38).uleb(1).uleb(2).uleb(3).uleb(4).uleb(500).short_(-2).end();
  img.begin(TAG_RECORD_45).uleb(1).uleb(2).uleb(3).uleb(4).uleb(500).end();
  img.begin(TAG_DDEDGE).uleb(1).uleb(2).uleb(300).end();
  img.begin(TAG_RECORD_59).uleb(1).byte(2).byte(2).short_(1).short_(-1).end();
  img.begin(TAG_BYTE_RECORD).byte('L').end();
  img.begin(TAG_FILE_NAME).text("x.c").end();
  img.begin(TAG_SKIPPED).pos(3, 4, 5).raw({1, 2, 3}).end();
  img.begin(TAG_TYPE).uleb(9).byte(15).raw({1, 2}).end();
  img.begin(TAG_ASM).text(" nop").no_pos().end();
  img.begin(TAG_PRAGMA).text("*").end();
  img.begin(TAG_PRAGMA).text("UNROLL(2)").end();
  img.begin(TAG_ATTRIBUTES).uleb(41).uleb(1).text("x").end();
  img.begin(TAG_DECL_SCOPE_BEGIN).uleb(0).sleb(-1).byte(3).uleb(4).no_pos().end();
  img.symbol(sym("d", T_INT));
  img.begin(TAG_DECL_SCOPE_END).no_pos().end();
  img.raw({200, 3, TAG_LABEL, 1, 9});   // unknown tag, then a label
  img.end_stream();
  return img;
}

IcodeImage exception_table() {
  IcodeImage img;
  img.header();
  img.begin(TAG_EHT).uleb(3).end();
  img.begin(TAG_EHT_ENTRY).uleb(1).uleb(EHT_CLEANUP).uleb(0).uleb(0).end();
  img.begin(TAG_STATEMENT).no_pos().end().leaf(NOP, T_INT);
  img.begin(TAG_EHT_ENTRY).uleb(2).uleb(EHT_CATCH).uleb(1).uleb(2).end();
  img.begin(TAG_EHT_HANDLERS).text("_ZTIi").uleb(10).flag(true).text("...").uleb(11).flag(false).end();
  img.begin(TAG_EHT_ENTRY).uleb(3).uleb(EHT_THROW_TERMINATE).uleb(2).uleb(0).end();
  img.end_stream();
  return img;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 1;
  }
  write(argv[1], "seed-program", program());
  write(argv[1], "seed-operators", operators());
  write(argv[1], "seed-records", records());
  write(argv[1], "seed-eht", exception_table());
  return 0;
}
