// tests/fuzz/make_seeds.cpp - writes the seed images of the reader's corpus.
//
// Usage: reader_fuzz_seeds DIRECTORY.  Each seed is a valid image that
// exercises one part of the format; the type identifiers match the ones the
// fuzz target binds (1 int, 2 unsigned, 3 float, 4 double, 5 pointer,
// 6 structure with members 1 and 2, 7 short).  The declaration seeds define
// identifiers from 10 on.
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

IcodeImage::Symbol sym(const char *name, uint32_t type, uint8_t lists = 0, uint32_t size = 32) {
  IcodeImage::Symbol s;
  s.name = name;
  s.type = type;
  s.lists = lists;
  s.size = size;
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
  img.symbol(sym("s", T_STRUCT, 0, 64));
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
  img.begin(TAG_TYPE).uleb(9).byte(15).type_ref(T_INT).uleb(16).uleb(16).end();
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

// The declaration part: a type record of every kind with its attribute
// groups, in the type section and in the stream, and symbols of every kind
// of type, for the format version `version` (its version-dependent fields
// included).
IcodeImage declarations(int version) {
  IcodeImage img;
  test::HeaderFields h;
  h.version = version;
  img.header(h);
  auto type = [&](uint32_t id, uint8_t kind) -> IcodeImage & {
    return img.begin(TAG_TYPE).uleb(id).byte(kind);
  };
  auto group = [&](uint32_t id, uint8_t mark, uint8_t g) { type(id, mark).byte(g).end(); };
  auto special = [&] {
    if (version >= -81)
      img.flag(true);
  };
  auto member = [&](uint32_t owner, uint32_t id, const char *name, uint32_t t, int32_t offset) {
    type(owner, 28).uleb(id).text(name).type_ref(t).byte(0).sleb(offset);
    if (version >= -74)
      img.byte(0x2a);
    if (version < -85)
      img.flag(false).uleb(0).flag(true);
    else
      img.uleb(3).flag(false).flag(true).flag(false);
    img.pos(1, 4, 2).end();
  };

  // Stream records: main stream first, the sections after it.
  type(20, 36).uleb(64).uleb(32).type_ref(T_FLOAT).end();
  type(21, 13).byte(0xf1).flag(true).type_ref(T_INT).uleb(32).uleb(32).end();
  img.begin(TAG_FUNC_BEGIN).pos(1, 9, 1).uleb(3).end();
  img.symbol(sym("a", T_PTR, 0, 16));
  img.begin(TAG_BODY_BEGIN).pos(1, 9, 9).end();
  img.symbol(sym("e", 14, 0, 16));
  IcodeImage::Symbol odd = sym("k", T_INT);
  odd.storage_class = 27;
  odd.flags = 0xffff;
  img.symbol(odd);
  img.begin(TAG_BLOCK_BEGIN).no_pos().end();
  img.symbol(sym("s", 16, 0, 48));
  img.begin(TAG_BLOCK_END).no_pos().end();
  img.begin(TAG_STATEMENT).pos(1, 10, 1).end();
  img.node(ASG, T_INT).end().name(T_INT, 0, 0).node(SCONV, 14).end().name(14, 1, 1);
  img.begin(TAG_FUNC_END).pos(1, 11, 1).end();
  img.end_stream();

  img.section_here(IcodeImage::TYPES);
  type(10, 1).flag(true).uleb(16).uleb(16).flag(false).flag(true).end();   // signed char
  type(11, 12).uleb(64).uleb(32).end();
  type(12, 17).type_ref(T_INT).uleb(1 /* const */).uleb(32).uleb(32).end();
  type(13, 14).text("cint").type_ref(12).uleb(32).uleb(32).flag(false).flag(true).pos(1, 1, 1)
      .end();
  type(14, 22).text("_4enum").uleb(16).uleb(16).type_ref(T_SHORT);
  special();
  img.pos(1, 2, 1).end();
  group(14, 254, 1);
  type(14, 23).text("A").sleb(-2).no_pos().end();
  type(14, 23).text("B").sleb(7).pos(1, 2, 9).end();
  group(14, 255, 1);
  type(15, 18).type_ref(T_SHORT).uleb(4).uleb(64).uleb(16).flag(true).flag(false);
  if (version >= -76)
    img.flag(version >= -74);
  if (version >= -75 && version < -73)
    img.flag(true);
  img.end();
  // struct node { int v; struct node *next; }, twice (the second is rebound).
  for (uint32_t s : {16u, 30u}) {
    type(s, 24).byte(0).text("node").flag(true).flag(false).uleb(48).uleb(32).flag(true);
    if (version >= -84)
      img.flag(false);
    special();
    img.pos(1, 3, 1).end();
    type(s + 1, 15).type_ref(s).uleb(16).uleb(16).end();
    group(s, 254, 7);
    member(s, 1, "v", T_INT, 0);
    member(s, 2, "next", s + 1, 32);
    group(s, 255, 7);
  }
  // A union in full form with a base group, a named group and parameters.
  type(18, 25).byte(1).text("U").flag(true).flag(true).uleb(32).uleb(32).uleb(2);
  for (int g : {2, 3, 4, 5, 6, 7, 8, 9, 0})
    img.flag(g != 7);
  if (version >= -84)
    img.flag(true);
  special();
  img.no_pos().end();
  group(18, 254, 2);
  type(18, 29).type_ref(16).sleb(-4).byte(1).flag(true).end();
  group(18, 255, 2);
  group(18, 254, 3);
  type(18, 30).type_ref(T_INT).byte(2).end();
  group(18, 255, 3);
  group(18, 254, 4);
  type(18, 31).text("t").type_ref(0).end();
  group(18, 255, 4);
  group(18, 254, 5);
  type(18, 32).type_ref(T_INT).end();
  group(18, 255, 5);
  group(18, 254, 6);
  type(18, 33).type_ref(T_SHORT).end();
  group(18, 255, 6);
  group(18, 254, 8);
  type(18, 34).text("f").type_ref(T_INT).byte(3).end();
  group(18, 255, 8);
  group(18, 254, 9);
  type(18, 35).text("g").type_ref(T_INT).byte(1).sleb(-1).flag(true).flag(false).flag(true)
      .flag(false).end();
  group(18, 255, 9);
  group(18, 254, 0);
  type(18, 21).type_ref(T_INT).flag(true).uleb(1).text("T").end();
  group(18, 255, 0);
  // int f(short, ...), a reference, a pointer to member, void, long long.
  type(19, 20).type_ref(T_INT).flag(true).flag(true).byte(0).flag(false).end();
  group(19, 254, 0);
  type(19, 21).type_ref(T_SHORT).flag(false).uleb(0).text("x").end();
  group(19, 255, 0);
  type(22, 16).type_ref(T_INT).uleb(16).uleb(16).end();
  type(23, 19).type_ref(T_INT).type_ref(18).uleb(16).uleb(16).end();
  type(24, 49).end();
  type(25, 50).flag(false).uleb(64).uleb(32).flag(false).flag(false).end();
  img.end_stream();

  img.section_here(IcodeImage::FILES);
  img.file_name("decl.c").end_stream();
  img.section_here(IcodeImage::GLOBALS);
  img.symbol(sym("i", T_INT));
  img.symbol(sym("c", 13));
  IcodeImage::Symbol en = sym("en", 14);
  en.size = 16;
  img.symbol(en);
  IcodeImage::Symbol fn = sym("_Z1fsz", 19);
  fn.size = 0;
  img.symbol(fn);
  IcodeImage::Symbol reg = sym("r", T_INT);
  reg.storage_class = 4;
  reg.flags = 0x10;
  img.symbol(reg);
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
  write(argv[1], "seed-declarations", declarations(-72));
  write(argv[1], "seed-declarations-75", declarations(-75));
  write(argv[1], "seed-declarations-86", declarations(-86));
  return 0;
}
