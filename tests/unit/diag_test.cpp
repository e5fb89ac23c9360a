// Diagnostics: header forms, wrapping, routing, counting and the ends of a run.
#include "diag/diag.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace zor {
namespace {

// Every test starts from the default settings and a zero error count, and
// captures the diagnostics in a temporary file unless it tests routing.
class DiagTest : public ::testing::Test {
protected:
  void SetUp() override {
    diag_reset();
    capture_ = std::tmpfile();
    ASSERT_NE(capture_, nullptr);
    diag_settings().stream = capture_;
  }
  void TearDown() override {
    diag_reset();
    std::fclose(capture_);
  }
  std::string captured() {
    std::fflush(capture_);
    std::string text;
    std::rewind(capture_);
    for (int c; (c = std::fgetc(capture_)) != EOF;)
      text += static_cast<char>(c);
    return text;
  }

  std::FILE *capture_ = nullptr;
};

// A message with a hand-made descriptor, for the kinds of descriptor this
// tool's table does not hold (internal, debug, no suffix).
class test_message : public DIAGNOSTIC {
public:
  test_message(const DIAG_DESCRIPTOR &desc, const char *text)
      : DIAGNOSTIC(desc, "OPT5/test", 42), text_(text) {}
  std::unique_ptr<DIAGNOSTIC> clone() const override {
    return std::make_unique<test_message>(*this);
  }
  int emit() override { return emit_formatted(descriptor().std_msg, text_); }

private:
  const char *text_;
};

const DIAG_DESCRIPTOR kInternalError = {99990, "%s", nullptr, DS_ERROR, 1, 0};
const DIAG_DESCRIPTOR kInternalFatal = {99991, "%s", nullptr, DS_FATAL, 1, 0};
const DIAG_DESCRIPTOR kDebugNoSuffix = {99992, "%s", nullptr, DS_DEBUG, 0, 1};
const DIAG_DESCRIPTOR kBadSeverity = {99993, "%s", nullptr, 9, 0, 0};

// --- Header forms -----------------------------------------------------------

TEST_F(DiagTest, PlainHeaderIsTheSeverityWord) {
  int n = DIAG::optgen_missing_parameter(DIAG_HERE, "--info", "N").emit();
  const std::string want = "error: option --info is missing its parameter 'N'\n";
  EXPECT_EQ(captured(), want);
  EXPECT_EQ(n, static_cast<int>(want.size()));
}

TEST_F(DiagTest, NumberedHeaderCarriesCodeAndSuffix) {
  diag_settings().show_numbers = true;
  DIAG::optgen_missing_parameter(DIAG_HERE, "--info", "N").emit();
  DIAG::optgen_conflict_override_option(DIAG_HERE, "-a", "-b").emit();
  diag_settings().show_debug = true;
  test_message(kDebugNoSuffix, "quiet").emit();
  EXPECT_EQ(captured(), "error #24010-D: option --info is missing its parameter 'N'\n"
                        "warning #24003-D: option -a overrides preceding option -b\n"
                        "debug #99992: quiet\n");
}

TEST_F(DiagTest, SourcePositionPrecedesTheWord) {
  DIAG::optgen_bad_argument approx(DIAG_HERE, "--mode", "a,b");
  approx.set_position(std::make_unique<DIAG_SRCINFO_DATA>("opts.txt", 12, 3, true));
  approx.emit();
  DIAG::optgen_bad_argument no_line(DIAG_HERE, "--mode", "a,b");
  no_line.set_position(std::make_unique<DIAG_SRCINFO_DATA>("opts.txt", 0, 0, false));
  no_line.emit();
  // An empty file name is no position at all.
  DIAG::optgen_bad_argument no_file(DIAG_HERE, "--mode", "a,b");
  no_file.set_position(std::make_unique<DIAG_SRCINFO_DATA>("", 4, 1, false));
  no_file.emit();
  EXPECT_EQ(captured(),
            "\"opts.txt\", line 12 (approximate): error: bad argument to option --mode: should\n"
            "   be one of {a,b}\n"
            "\"opts.txt\": error: bad argument to option --mode: should be one of {a,b}\n"
            "error: bad argument to option --mode: should be one of {a,b}\n");
}

TEST_F(DiagTest, InternalPositionAndInternalDiagnostics) {
  diag_settings().show_internal_position = true;
  test_message(kDebugNoSuffix, "x").emit();  // debug messages are off
  DIAG::optgen_conflict_option("OPT5/opts", 7, "-a", "-b").emit();
  diag_settings().show_internal_position = false;
  test_message(kInternalError, "broken").emit();
  EXPECT_EQ(captured(), "OPT5/opts:7:error: option -a conflicts with previous option -b\n"
                        "OPT5/test:42:internal error #99990: broken\n");
}

TEST_F(DiagTest, InternalFatalAborts) {
  diag_settings().stream = nullptr;
  EXPECT_DEATH(test_message(kInternalFatal, "gone").emit(),
               "OPT5/test:42:internal fatal error #99991: gone");
}

TEST_F(DiagTest, UnknownSeverityHasItsOwnWord) {
  test_message(kBadSeverity, "odd").emit();
  EXPECT_EQ(captured(), "(unknown): odd\n");
}

// The out-of-range message really lacks its closing parenthesis.
TEST_F(DiagTest, OutOfRange2TextHasNoClosingParenthesis) {
  diag_settings().wrap = false;
  DIAG::optgen_arg_out_of_range2(DIAG_HERE, "--level", "9", 0, 4).emit();
  EXPECT_EQ(captured(),
            "error: argument to option --level (9) is out of range (must be a number from 0 to 4\n");
}

// --- Wrapping ---------------------------------------------------------------

TEST_F(DiagTest, BreaksAtBlanksAndKeepsTheLastColumnFree) {
  diag_settings().console_width = 20;
  DIAG::optgen_conflict_option(DIAG_HERE, "X", "Y").emit();
  // "previous option Y" is exactly as long as a continuation line (17), so
  // it does not fit there: only shorter text is written whole.
  EXPECT_EQ(captured(), "error: option X\n"
                        "   conflicts with\n"
                        "   previous option\n"
                        "   Y\n");
}

TEST_F(DiagTest, LineFillsTheWidthWhenABlankFollowsTheEdge) {
  // "option XXXXXX" takes exactly the 13 columns left after the header and
  // is followed by a blank, so the first line is the full 20 columns.
  diag_settings().console_width = 20;
  DIAG::optgen_conflict_option(DIAG_HERE, "XXXXXX", "Y").emit();
  EXPECT_EQ(captured(), "error: option XXXXXX\n"
                        "   conflicts with\n"
                        "   previous option\n"
                        "   Y\n");
}

TEST_F(DiagTest, WordLongerThanALineIsCut) {
  diag_settings().console_width = 20;
  DIAG::optgen_missing_parameter(DIAG_HERE, "--averyveryverylongoption", "N").emit();
  EXPECT_EQ(captured(), "error: option\n"
                        "   --averyveryverylo\n"
                        "   ngoption is\n"
                        "   missing its\n"
                        "   parameter 'N'\n");
}

TEST_F(DiagTest, NewlineInTextStartsAnIndentedLine) {
  DIAG::optgen_missing_parameter(DIAG_HERE, "a\nb", "N").emit();
  diag_settings().wrap = false;
  DIAG::optgen_missing_parameter(DIAG_HERE, "c\nd", "N").emit();
  EXPECT_EQ(captured(), "error: option a\n"
                        "   b is missing its parameter 'N'\n"
                        "error: option c\n"
                        "   d is missing its parameter 'N'\n");
}

TEST_F(DiagTest, WrapIndentPrefixesEveryLine) {
  diag_settings().console_width = 20;
  diag_settings().wrap_indent = 2;
  DIAG::optgen_conflict_option(DIAG_HERE, "X", "Y").emit();
  EXPECT_EQ(captured(), "  error: option X\n"
                        "     conflicts with\n"
                        "     previous option\n"
                        "     Y\n");
}

TEST_F(DiagTest, WrappingOffWritesOneLine) {
  diag_settings().console_width = 20;
  diag_settings().wrap = false;
  DIAG::optgen_conflict_option(DIAG_HERE, "X", "Y").emit();
  EXPECT_EQ(captured(), "error: option X conflicts with previous option Y\n");
}

TEST_F(DiagTest, ConsoleNarrowerThanIndentsIsAnInternalCheck) {
  diag_settings().console_width = 3;
  EXPECT_DEATH(DIAG::optgen_conflict_option(DIAG_HERE, "X", "Y").emit(),
               "diag_cols > \\(indent \\+ wrap_indent\\)");
}

// --- Routing and counting ---------------------------------------------------

TEST_F(DiagTest, RoutesBySeverity) {
  diag_settings().stream = nullptr;
  diag_settings().show_remarks = true;
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  DIAG::optgen_conflict_quiet_option(DIAG_HERE, "-q", "-r").emit();
  DIAG::optgen_conflict_override_option(DIAG_HERE, "-o", "-p").emit();
  const std::string err = ::testing::internal::GetCapturedStderr();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "remark: option -q clears preceding option -r\n");
  EXPECT_EQ(err, "warning: option -o overrides preceding option -p\n");
}

TEST_F(DiagTest, HiddenMessagesAreNotWrittenNorCounted) {
  diag_settings().show_warnings = false;
  DIAG::optgen_case_insensitivity_deprecated warning(DIAG_HERE, "-O", "-o");
  EXPECT_EQ(warning.emit(), 0);
  EXPECT_FALSE(warning.emitted());
  EXPECT_EQ(DIAG::optgen_conflict_quiet_option(DIAG_HERE, "-q", "-r").emit(), 0);
  EXPECT_EQ(captured(), "");
  EXPECT_EQ(diag_error_count(), 0u);

  DIAG::optgen_arg_out_of_range(DIAG_HERE, "-x", "7").emit();
  EXPECT_EQ(diag_error_count(), 1u);
  diag_settings().show_warnings = true;
  DIAG::optgen_case_insensitivity_deprecated(DIAG_HERE, "-O", "-o").emit();
  EXPECT_EQ(diag_error_count(), 1u);

  diag_settings().count_errors = false;
  DIAG::optgen_arg_out_of_range_non_neg(DIAG_HERE, "-x", "-7").emit();
  EXPECT_EQ(diag_error_count(), 1u);
}

TEST_F(DiagTest, HundredErrorsPassTheHundredAndFirstEndsTheRun) {
  for (int i = 0; i < 100; ++i)
    DIAG::optgen_conflict_option(DIAG_HERE, "-a", "-b").emit();
  EXPECT_EQ(diag_error_count(), 100u);
  diag_settings().stream = nullptr;
  EXPECT_EXIT(DIAG::optgen_conflict_option(DIAG_HERE, "-a", "-b").emit(),
              ::testing::ExitedWithCode(1),
              "error: option -a conflicts with previous option -b\n"
              "fatal error: error limit reached; 100 errors detected\n$");
}

TEST_F(DiagTest, LowerErrorLimitAndNumberedLimitMessage) {
  diag_settings().error_limit = 1;
  diag_settings().show_numbers = true;
  diag_settings().show_internal_position = true;
  DIAG::optgen_conflict_option("OPT5/a", 1, "-a", "-b").emit();
  diag_settings().stream = nullptr;
  EXPECT_EXIT(DIAG::optgen_conflict_option("OPT5/a", 2, "-a", "-b").emit(),
              ::testing::ExitedWithCode(1),
              "DIAG/diag:148:fatal error #99900: error limit reached; 1 errors detected\n$");
}

TEST_F(DiagTest, FatalOptionErrorExitsAfterItsMessage) {
  diag_settings().stream = nullptr;
  EXPECT_EXIT(
      {
        DIAG::optgen_unhandled_option_handler(DIAG_HERE, 17).emit();
        std::fputs("not reached\n", stderr);
      },
      ::testing::ExitedWithCode(1), "^fatal error: unhandled option handler \\[17\\]\n$");
  // Fatal errors take no "-D" suffix.
  diag_settings().show_numbers = true;
  EXPECT_EXIT(DIAG::optgen_unhandled_clause_in_setarg(DIAG_HERE, 3).emit(),
              ::testing::ExitedWithCode(1),
              "^fatal error #24007: unhandled clause in setarg\\(\\) \\[3\\]\n$");
}

// --- Source excerpts, dump, clone and equality -----------------------------

TEST_F(DiagTest, ExcerptShowsTheLineAndACaret) {
  char path[] = "/tmp/zor_diag_excerptXXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::FILE *src = fdopen(fd, "w");
  std::fputs("first line\n--mode=c,d\nlast", src);
  std::fclose(src);

  // The temporary name varies in length: keep each message on one line.
  diag_settings().wrap = false;
  diag_settings().show_excerpts = true;
  DIAG::optgen_bad_argument exact(DIAG_HERE, "--mode", "a,b");
  exact.set_position(std::make_unique<DIAG_SRCINFO_DATA>(path, 2, 8, false));
  exact.emit();
  DIAG::optgen_bad_argument last(DIAG_HERE, "--x", "y");
  last.set_position(std::make_unique<DIAG_SRCINFO_DATA>(path, 3, 1, false));
  last.emit();
  DIAG::optgen_bad_argument approx(DIAG_HERE, "--x", "y");
  approx.set_position(std::make_unique<DIAG_SRCINFO_DATA>(path, 2, 8, true));
  approx.emit();
  DIAG::optgen_bad_argument missing(DIAG_HERE, "--x", "y");
  missing.set_position(std::make_unique<DIAG_SRCINFO_DATA>("/nonexistent/zor.opts", 2, 8, false));
  missing.emit();
  std::remove(path);

  const std::string name = std::string("\"") + path + "\"";
  EXPECT_EQ(captured(), name + ", line 2: error: bad argument to option --mode: should be one of {a,b}\n"
                               "--mode=c,d\n"
                               "       ^\n" +
                            name + ", line 3: error: bad argument to option --x: should be one of {y}\n"
                                   "last\n"
                                   "^\n" +
                            name + ", line 2 (approximate): error: bad argument to option --x: "
                                   "should be one of {y}\n"
                                   "\"/nonexistent/zor.opts\", line 2: error: bad argument to "
                                   "option --x: should be one of {y}\n");
}

TEST_F(DiagTest, DumpListsCodeTextsAndPosition) {
  DIAG::optgen_missing_parameter d(DIAG_HERE, "--info", "N");
  d.set_position(std::make_unique<DIAG_SRCINFO_DATA>("a.c", 3, 4, false));
  d.dump(capture_);
  DIAG::max_errors(DIAG_HERE, 5).dump(capture_);
  EXPECT_EQ(captured(), "Code : 24010\n"
                        "std_msg : option %s is missing its parameter '%s'\n"
                        "vrb_msg : (null)\n"
                        "File : a.c\n"
                        "Line : 3\n"
                        "Column: 4\n"
                        "Code : 99900\n"
                        "std_msg : error limit reached; %u errors detected\n"
                        "vrb_msg : (null)\n");
}

TEST_F(DiagTest, CloneKeepsArgumentsAndPosition) {
  std::unique_ptr<DIAGNOSTIC> copy;
  {
    std::string opt = "--temp";
    DIAG::optgen_arg_out_of_range original(DIAG_HERE, opt.c_str(), "99");
    original.set_position(std::make_unique<DIAG_SRCINFO_DATA>("f.opt", 1, 2, false));
    copy = original.clone();
    EXPECT_TRUE(copy->equals(original));
    EXPECT_FALSE(copy->is_note());
    opt = "--changed";
  }
  copy->emit();
  EXPECT_EQ(captured(), "\"f.opt\", line 1: error: argument to option --temp (99) is out of range\n");
}

TEST_F(DiagTest, EqualityIsCodeAndPosition) {
  DIAG::optgen_arg_out_of_range a(DIAG_HERE, "-a", "1");
  DIAG::optgen_arg_out_of_range b(DIAG_HERE, "-b", "2");
  DIAG::optgen_arg_out_of_range_non_neg c(DIAG_HERE, "-a", "1");
  EXPECT_TRUE(a.equals(b));  // arguments do not matter
  EXPECT_FALSE(a.equals(c));
  a.set_position(std::make_unique<DIAG_SRCINFO_DATA>("f", 1, 1, false));
  EXPECT_FALSE(a.equals(b));
  b.set_position(std::make_unique<DIAG_SRCINFO_DATA>("f", 1, 1, true));
  EXPECT_TRUE(a.equals(b));
  b.set_position(std::make_unique<DIAG_SRCINFO_DATA>("f", 1, 2, false));
  EXPECT_FALSE(a.equals(b));
}

} // namespace
} // namespace zor
