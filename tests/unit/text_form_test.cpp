// tests/unit/text_form_test.cpp - the text form of I-code (tools/textform):
// what zdis prints assembles back into the file it came from, for every file
// the decoder can follow to its end, whatever its bytes.
//
// The fixtures of the textual tests (tests/lit/Inputs) serve as images; every
// prefix and many one-byte changes of them are decoded, printed, parsed and
// encoded again.  Files laid out otherwise than the writer lays them out
// come back as equivalent files: the reader reports the same for both.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "icode/reader.h"
#include "icode/record_tags.h"
#include "ir/opcodes.h"
#include "ir/type.h"
#include "tests/support/icode_image.h"
#include "tests/support/recording_client.h"
#include "tools/textform/decode.h"
#include "tools/textform/encode.h"
#include "tools/textform/parse.h"
#include "tools/textform/print.h"
#include "tools/textform/tool_io.h"

namespace zor::text {
namespace {

using test::IcodeImage;
using test::MemFile;
using test::RecordingClient;

std::vector<uint8_t> assemble(const std::string &text) {
  return encode_listing(parse_listing(text));
}

std::string fixture(const char *name) {
  std::ifstream in(std::string(ZOR_SOURCE_DIR) + "/tests/lit/Inputs/" + name);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

const char *const kFixtures[] = {"records.ict",    "operators.ict",  "fields.ict",
                                 "symbols.ict",    "types-v72.ict",  "types-v86.ict",
                                 "types-v84.ict",  "types-v83.ict",  "types-v77.ict",
                                 "types-v75.ict"};

bool decodes_whole(const Listing &l) {
  if (!l.have_header || !l.header_problem.empty() || !l.stream.problem.empty())
    return false;
  for (const Region &r : l.sections)
    if (!r.problem.empty())
      return false;
  return true;
}

// Lists `bytes` and checks that the listing gives the file back; returns
// whether the decoder followed the file to its end.
bool lists_back(const std::vector<uint8_t> &bytes, const std::string &what) {
  Listing l = decode_image(bytes);
  std::string text = print_listing(l);
  if (!decodes_whole(l))
    return false;
  std::string diff = check_round_trip(bytes, l, text);
  EXPECT_EQ(diff, "") << what << "\n" << text;
  return true;
}

// What the reader reports for a file, with a RecordingClient.  Initializer
// positions are where the initializers lie, so they move with the sections.
std::vector<std::string> reader_report(const std::vector<uint8_t> &bytes) {
  MemFile f(bytes);
  RecordingClient client;
  TYPE_PKG types;
  std::unique_ptr<IcodeReader> r = IcodeReader::open(f.get(), client, types);
  if (!r)
    return {"refused"};
  try {
    r->read_all();
  } catch (const IcodeFatal &e) {
    client.lines.push_back(std::string("fatal ") + e.what());
  }
  std::vector<std::string> out;
  static const std::regex init(" init=[0-9]+");
  for (const std::string &line : client.lines)
    out.push_back(std::regex_replace(line, init, " init=?"));
  return out;
}

// ----------------------------------------------------------- fixtures

TEST(TextRoundTrip, FixturesComeBackByteForByte) {
  for (const char *name : kFixtures) {
    std::vector<uint8_t> bytes = assemble(fixture(name));
    Listing l = decode_image(bytes);
    EXPECT_TRUE(l.writer_layout) << name;
    EXPECT_TRUE(lists_back(bytes, name)) << name;
    EXPECT_EQ(reader_error(bytes, name), "") << name;
  }
}

TEST(TextRoundTrip, TheBundledExampleAndTheFuzzCorpus) {
  std::vector<std::string> files = {std::string(ZOR_SOURCE_DIR) + "/examples/demo.if"};
  for (const auto &e : std::filesystem::directory_iterator(std::string(ZOR_SOURCE_DIR) +
                                                           "/tests/fuzz/corpus"))
    files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  size_t followed = 0;
  for (const std::string &f : files) {
    std::string data;
    ASSERT_TRUE(read_file(f, data)) << f;
    followed += lists_back(std::vector<uint8_t>(data.begin(), data.end()), f);
  }
  EXPECT_GE(followed, 2u);
}

// Every prefix of a file: what the decoder follows comes back; nothing
// crashes or loops where the file ends.
TEST(TextRoundTrip, EveryPrefixOfAFile) {
  std::vector<uint8_t> whole = assemble(fixture("records.ict"));
  size_t followed = 0;
  for (size_t n = 0; n <= whole.size(); ++n) {
    std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<long>(n));
    followed += lists_back(part, "prefix " + std::to_string(n));
  }
  // Cuts between records leave a file the decoder follows.
  EXPECT_GT(followed, 20u);
}

// One-byte changes all over the fixtures: lossless wherever the decoder can
// follow the result.
TEST(TextRoundTrip, ChangedBytes) {
  uint32_t state = 12345;
  auto rnd = [&] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  for (const char *name : kFixtures) {
    std::vector<uint8_t> base = assemble(fixture(name));
    for (int k = 0; k < 100; ++k) {
      std::vector<uint8_t> b = base;
      size_t at = rnd() % b.size();
      b[at] = static_cast<uint8_t>(k % 3 == 0 ? rnd() : b[at] ^ (1u << (rnd() % 8)));
      lists_back(b, std::string(name) + " byte " + std::to_string(at));
    }
  }
}

// ------------------------------------------------------------- layouts

// Sections in another order, a gap and bytes after the end: zas lays the
// file out as the writer does, and the reader reports the same for both.
TEST(TextRoundTrip, OtherLayoutsComeBackEquivalent) {
  IcodeImage img;
  img.header();
  img.begin(TAG_FUNC_BEGIN).pos(1, 1, 1).uleb(0).end();
  img.begin(TAG_BODY_BEGIN).no_pos().end();
  img.begin(TAG_STATEMENT).pos(1, 2, 1).end();
  img.node(URETURN, 2).end().leaf(NOP, 2);
  img.begin(TAG_FUNC_END).no_pos().end();
  img.end_stream();
  img.raw({1, 2, 3});   // a gap
  img.section_here(IcodeImage::GLOBALS);
  IcodeImage::Symbol f;
  f.name = "f";
  f.type = 3;
  f.size = 0;
  img.symbol(f);
  IcodeImage::Symbol g;
  g.name = "g";
  g.type = 1;
  g.initializer_position = 0;
  img.symbol(g);
  img.end_stream();
  img.section_here(IcodeImage::TYPES);
  img.begin(TAG_TYPE).uleb(1).byte(6).flag(false).uleb(32).uleb(32).flag(false).flag(false).end();
  img.begin(TAG_TYPE).uleb(2).byte(49).end();
  img.begin(TAG_TYPE).uleb(3).byte(20).uleb(2).flag(false).flag(false).byte(0).flag(false).end();
  img.begin(TAG_TYPE).uleb(3).byte(254).byte(0).end();
  img.begin(TAG_TYPE).uleb(3).byte(255).byte(0).end();
  img.end_stream();
  img.section_here(IcodeImage::INITIALIZERS);
  img.begin(TAG_INITIALIZER).uleb(1).end().icon_signed(1, 5).leaf(ENDINIT, 2);
  img.end_stream();
  img.section_here(IcodeImage::FILES);
  img.file_name("x.c").end_stream();
  img.raw({9, 9});   // after the end
  const std::vector<uint8_t> &bytes = img.bytes();

  Listing l = decode_image(bytes);
  ASSERT_TRUE(decodes_whole(l));
  EXPECT_FALSE(l.writer_layout);
  std::string text = print_listing(l);
  EXPECT_NE(text.find("; note: the sections do not lie as the writer lays them out"),
            std::string::npos);
  EXPECT_EQ(check_round_trip(bytes, l, text), "");
  std::vector<uint8_t> again = assemble(text);
  EXPECT_NE(again, bytes);
  EXPECT_TRUE(decode_image(again).writer_layout);
  std::vector<std::string> a = reader_report(bytes);
  std::vector<std::string> b = reader_report(again);
  EXPECT_EQ(a, b);
  EXPECT_GT(a.size(), 10u);
}

// ---------------------------------------------------------- deep trees

std::string chain(size_t depth) {
  std::string text = "section globals\n  symbol @f fn.void\nstream\nfunction @f -\n"
                     "  body -\n    stmt - ";
  for (size_t i = 0; i < depth; ++i)
    text += "(UMINUS int ";
  text += "(ICON int 1)";
  text.append(depth, ')');
  return text + "\nend -\n";
}

TEST(TextTrees, AsDeepAsTheReaderGoesAndNoDeeper) {
  std::vector<uint8_t> bytes = assemble(chain(kMaxTreeDepth - 1));
  Listing l = decode_image(bytes);
  ASSERT_TRUE(decodes_whole(l));
  std::string text = print_listing(l);
  EXPECT_EQ(check_round_trip(bytes, l, text), "");
  // Deep operands stop moving right (the closing parentheses pile up on the
  // last line, as s-expressions have them).
  size_t deepest = 0;
  for (size_t i = 0, j; i < text.size(); i = j + 1) {
    j = text.find('\n', i);
    deepest = std::max(deepest, text.find_first_not_of(' ', i) - i);
  }
  EXPECT_LE(deepest, 60u);

  EXPECT_THROW(assemble(chain(kMaxTreeDepth)), ParseError);
  // One level more, written as bytes: the decoder stops where the reader does.
  IcodeImage img;
  img.header();
  img.begin(TAG_STATEMENT).no_pos().end();
  for (size_t i = 0; i < kMaxTreeDepth; ++i)
    img.node(UMINUS, 0).end();
  img.leaf(NOP, 0);
  img.end_stream();
  Listing too = decode_image(img.bytes());
  EXPECT_EQ(too.stream.problem, kInvalidRecord);
  EXPECT_EQ(reader_error(img.bytes(), "deep"), kInvalidRecord);
}

// ------------------------------------------------------------- names

// Symbol, type and file names that need quoting, escaping or another name
// come back as they were.
TEST(TextNames, AwkwardNamesComeBack) {
  const std::vector<std::string> names = {"", "a b", "q\"uote", "back\\slash", "new\nline",
                                          "#x", "%y", "\xff\x80", "semi;colon", "(paren)",
                                          "x", "x", "x.1", "-"};
  IcodeImage img;
  img.header();
  img.end_stream();
  img.section_here(IcodeImage::TYPES);
  img.begin(TAG_TYPE).uleb(1).byte(6).flag(false).uleb(32).uleb(32).flag(false).flag(false).end();
  img.begin(TAG_TYPE).uleb(2).byte(14).text("my type").type_ref(1).uleb(32).uleb(32);
  img.flag(false).flag(false).no_pos().end();
  img.begin(TAG_TYPE).uleb(3).byte(14).text("int").type_ref(1).uleb(32).uleb(32);
  img.flag(false).flag(false).no_pos().end();
  img.end_stream();
  img.section_here(IcodeImage::FILES);
  img.file_name("a b.c").file_name("x.c").file_name("x.c").file_name("#1").end_stream();
  img.section_here(IcodeImage::GLOBALS);
  uint32_t file = 1;
  for (const std::string &n : names) {
    IcodeImage::Symbol s;
    s.name = n;
    s.type = 1 + file % 3;
    s.file = file;
    s.line = 1;
    s.column = 2;
    file = file % 4 + 1;
    img.symbol(s);
  }
  img.end_stream();
  const std::vector<uint8_t> &bytes = img.bytes();
  Listing l = decode_image(bytes);
  ASSERT_TRUE(l.writer_layout);
  std::string text = print_listing(l);
  EXPECT_EQ(check_round_trip(bytes, l, text), "") << text;
  EXPECT_NE(text.find("symbol @\"a b\""), std::string::npos) << text;
  // A name taken gets a suffix, and the record's name is given with it.
  EXPECT_NE(text.find("symbol @x.1 %t2 at #4:1:2 name \"x\""), std::string::npos) << text;
  EXPECT_NE(text.find("symbol @x.1.1 %t2 at #1:1:2 name \"x.1\""), std::string::npos) << text;
  // A typedef named like a builtin, or not a plain word, goes by identifier.
  EXPECT_NE(text.find("type %t2 = typedef \"my type\" int"), std::string::npos) << text;
  EXPECT_NE(text.find("type %t3 = typedef \"int\" int"), std::string::npos) << text;
  // Files named twice, or not as a plain word, go by index.
  EXPECT_NE(text.find("symbol @\"a b\" %t3 at x.c:1:2"), std::string::npos) << text;
  EXPECT_NE(text.find("symbol @\"q\\\"uote\" int at #3:1:2"), std::string::npos) << text;
  EXPECT_NE(text.find("symbol @\"\" %t2 at #1:1:2"), std::string::npos) << text;
}

// ------------------------------------------------------------- parser

// Text changed at random either assembles or fails with a position; the
// parser never fails otherwise.
TEST(TextParse, ChangedTextFailsWithAPosition) {
  const std::string base = fixture("records.ict");
  uint32_t state = 777;
  auto rnd = [&] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  const char junk[] = "()\"; \n@%#-0123456789abcxL.";
  int failed = 0;
  for (int k = 0; k < 400; ++k) {
    std::string t = base;
    for (int edits = 1 + static_cast<int>(rnd() % 3); edits > 0; --edits) {
      size_t at = rnd() % t.size();
      if (rnd() % 2)
        t.erase(at, 1 + rnd() % 4);
      else
        t.insert(at, 1, junk[rnd() % (sizeof junk - 1)]);
    }
    try {
      assemble(t);
    } catch (const ParseError &e) {
      EXPECT_GT(e.line, 0u);
      EXPECT_GT(e.column, 0u);
      ++failed;
    } catch (const IcodeFatal &) {
      ++failed;   // a value the writer's primitives refuse
    }
  }
  EXPECT_GT(failed, 0);
}

TEST(TextParse, WhatTheTextLeavesOutIsDerived) {
  std::vector<uint8_t> bytes = assemble(
      "section globals\n"
      "  symbol @g int\n"
      "  symbol @f fn.int\n"
      "section initializers\n"
      "  init @g\n"
      "    (ICON int 3)\n"
      "    (ENDINIT void)\n"
      "stream\n"
      "function @f t.c:1:1\n"
      "  symbol %p *int\n"
      "  body -\n"
      "    stmt t.c:2:1 (RETURN int (UMULT int (NAME *int %p)) (NOP void))\n"
      "end -\n");
  EXPECT_EQ(reader_error(bytes, "derived"), "");
  std::vector<std::string> report = reader_report(bytes);
  std::string all;
  for (const std::string &line : report)
    all += line + "\n";
  // Sizes and alignments from the types, the parameter at scope 1 and
  // index 0, the file interned.
  EXPECT_NE(all.find("new_symbol g size=32 offset=0 class=2 flags=0x0"), std::string::npos) << all;
  EXPECT_NE(all.find("set_scope_level p 1"), std::string::npos) << all;
  EXPECT_NE(all.find("function_begin f @t.c:1:1"), std::string::npos) << all;
  // The initializer position is where the initializer record lies.
  Listing l = decode_image(bytes);
  const Record &g = l.sections[SEC_GLOBALS].records[0];
  EXPECT_EQ(g.fields[9].num, l.sections[SEC_INITS].offset);
}

} // namespace
} // namespace zor::text
