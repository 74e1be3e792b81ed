/*
 * Tests of the string utilities: white-space tests, the cleaning chain used
 * on calibration lines, splitting (including the NUL written after words
 * beyond the stored ones), fields, tokens with their continuation rule,
 * bounded concatenation into the source buffer itself, and case handling
 * of bytes above 0x7f.
 */
#include "strlib.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

TEST(Strlib, VersionText)
{
  EXPECT_STREQ(strlib_version(), "strlib : V1.06 Kelvardo 2012-08-02");
}

TEST(Strlib, WhiteSpaceIsExactlySixCharactersByLowByte)
{
  for (int c = 0; c < 256; ++c) {
    const bool white = c == ' ' || c == '\t' || c == '\r' || c == '\n' ||
                       c == '\f' || c == '\v';
    EXPECT_EQ(strlib_is_white(c), white ? 1 : 0) << "c = " << c;
  }
  EXPECT_EQ(strlib_is_white(0x100 + ' '), 1); /* only the low byte counts */
  EXPECT_EQ(strlib_is_white(0x100), 0);       /* low byte NUL */
  EXPECT_EQ(strlib_is_white(-1), 0);          /* 0xff */
}

TEST(Strlib, IsNoSkipGivesZeroOnlyForPlaceholdersElseSignAgainstDot)
{
  struct Case {
    const char *text;
    int expected;
  };
  const Case cases[] = {
      {"...", 0}, {"-", 0},    {".", 0},     {"..", 1}, {"-1", -1},  {"", -1},
      {"/", 1},   {"....", 1}, {"2.385", 1}, {"+", -1}, {"\xe9", 1},
  };
  for (const Case &c : cases)
    EXPECT_EQ(strlib_is_no_skip(c.text), c.expected) << '"' << c.text << '"';
  EXPECT_EQ(strlib_is_no_skip(nullptr), -1);
}

TEST(Strlib, IsEmptyMeansNullEmptyOrOnlyWhiteSpace)
{
  EXPECT_EQ(strlib_is_empty(nullptr), 1);
  EXPECT_EQ(strlib_is_empty(""), 1);
  EXPECT_EQ(strlib_is_empty(" \t\r\n"), 1);
  EXPECT_EQ(strlib_is_empty("\f\v "), 1);
  EXPECT_EQ(strlib_is_empty("   q"), 0);
  EXPECT_EQ(strlib_is_empty("\xa0"), 0); /* no-break space is not white */
}

TEST(Strlib, SpnCountsTheAcceptedPrefix)
{
  EXPECT_EQ(strlib_spn("1234.5e", "0123456789"), 4u);
  EXPECT_EQ(strlib_spn("abc", ""), 0u);
  EXPECT_EQ(strlib_spn("", "abc"), 0u);
  EXPECT_EQ(strlib_spn("cabx", "abc"), 3u);
  EXPECT_EQ(strlib_spn("\xe9\xe9z", "\xe9"), 2u);
  EXPECT_EQ(strlib_spn(nullptr, "a"), 0u);
  EXPECT_EQ(strlib_spn("a", nullptr), 0u);
}

/* The three in-place cleaners: uncomment cuts at the first hash keeping
 * what precedes, trim drops white space at both ends, collapse writes each
 * white run as one blank.  Each returns its argument. */
TEST(Strlib, CleanersWorkInPlace)
{
  const struct {
    const char *name;
    char *(*clean)(char *);
    const char *input;
    const char *expected;
  } cases[] = {
      {"uncomment", strlib_uncomment, "1 2 # c", "1 2 "},
      {"uncomment", strlib_uncomment, "#all", ""},
      {"uncomment", strlib_uncomment, "no comment", "no comment"},
      {"uncomment", strlib_uncomment, "a#b#c", "a"},
      {"uncomment", strlib_uncomment, "", ""},
      {"trim", strlib_trim, "\tx y \n", "x y"},
      {"trim", strlib_trim, " \t\r\n\f\v", ""},
      {"trim", strlib_trim, "", ""},
      {"trim", strlib_trim, "abc", "abc"},
      {"trim", strlib_trim, "  a", "a"},
      {"trim", strlib_trim, "a  ", "a"},
      {"trim", strlib_trim, "\xa0z\xa0", "\xa0z\xa0"},
      {"collapse", strlib_collapse, "  a \t b  ", " a b "},
      {"collapse", strlib_collapse, "a\r\n\f\vb", "a b"},
      {"collapse", strlib_collapse, "", ""},
      {"collapse", strlib_collapse, "\t", " "},
      {"collapse", strlib_collapse, "ab", "ab"},
      {"collapse", strlib_collapse, "1  2\t\t3", "1 2 3"},
  };
  for (const auto &c : cases) {
    std::string text = c.input;
    char *result = c.clean(text.data());
    EXPECT_EQ(result, text.data()) << c.name;
    EXPECT_STREQ(result, c.expected) << c.name << " \"" << c.input << '"';
  }
}

TEST(Strlib, CleaningChainTurnsADataLineIntoSingleBlanks)
{
  char line[] = "  0.2385\t 512.5   498.25  # peak 3\n";
  strlib_collapse(strlib_trim(strlib_uncomment(line)));
  EXPECT_STREQ(line, "0.2385 512.5 498.25");
  char only_comment[] = "   # nothing here\n";
  EXPECT_EQ(strlib_is_empty(strlib_trim(strlib_uncomment(only_comment))), 1);
}

/* strlib_clean must leave exactly what the chain leaves, on random lines of
 * white space, comment marks, bytes above 0x7f and control bytes. */
TEST(Strlib, CleanIsTheCleaningChainInOnePass)
{
  const char alphabet[] = " \t\r\n\f\v#a1.-\x01\xa0\xff";
  std::srand(20131209);
  for (int n = 0; n < 20000; ++n) {
    std::string line;
    const int length = std::rand() % 24;
    for (int i = 0; i < length; ++i)
      line += alphabet[std::rand() % (sizeof alphabet - 1)];
    std::string chained = line, cleaned = line;
    strlib_collapse(strlib_trim(strlib_uncomment(chained.data())));
    char *result = strlib_clean(cleaned.data());
    ASSERT_EQ(result, cleaned.data());
    ASSERT_STREQ(result, chained.c_str()) << '"' << line << '"';
  }
}

TEST(Strlib, CleanersGiveAStaticEmptyTextForNull)
{
  for (char *(*clean)(char *) :
       {strlib_uncomment, strlib_trim, strlib_collapse, strlib_clean}) {
    const char *result = clean(nullptr);
    ASSERT_NE(result, nullptr);
    EXPECT_STREQ(result, "");
  }
}

TEST(Strlib, SplitStoresAtMostScMinusOneWordsAndCutsAfterEveryWord)
{
  char text[] = "a b c d";
  char *sv[3] = {nullptr, nullptr, reinterpret_cast<char *>(1)};
  EXPECT_EQ(strlib_split(sv, 3, text), 2);
  EXPECT_STREQ(sv[0], "a");
  EXPECT_STREQ(sv[1], "b");
  EXPECT_EQ(sv[2], nullptr);
  /* The blanks after a, b and c are all NUL now; d is untouched. */
  EXPECT_EQ(std::memcmp(text, "a\0b\0c\0d", 8), 0);
}

TEST(Strlib, SplitSkipsWhiteRunsAndCutsOnlyTheFirstCharacterOfEach)
{
  char text[] = " \t12.5 \t -3\n";
  char *sv[8];
  EXPECT_EQ(strlib_split(sv, 8, text), 2);
  EXPECT_STREQ(sv[0], "12.5");
  EXPECT_STREQ(sv[1], "-3");
  EXPECT_EQ(sv[2], nullptr);
  EXPECT_EQ(sv[0], text + 2);
  EXPECT_EQ(text[7], '\t'); /* the second character of the run stays */
}

TEST(Strlib, SplitWithOneEntryStoresOnlyTheNullEntry)
{
  char text[] = "x y";
  char *sv[1] = {text};
  EXPECT_EQ(strlib_split(sv, 1, text), 0);
  EXPECT_EQ(sv[0], nullptr);
  EXPECT_EQ(text[1], '\0');
}

TEST(Strlib, SplitOfNothingChangesNothing)
{
  char text[] = "a b";
  char *sv[4] = {text, text, text, text};
  EXPECT_EQ(strlib_split(sv, 0, text), 0);
  EXPECT_EQ(strlib_split(sv, -5, text), 0);
  EXPECT_EQ(strlib_split(nullptr, 4, text), 0);
  EXPECT_EQ(strlib_split(sv, 4, nullptr), 0);
  EXPECT_EQ(sv[0], text);
  EXPECT_STREQ(text, "a b");
  char blank[] = "   ";
  EXPECT_EQ(strlib_split(sv, 4, blank), 0);
  EXPECT_EQ(sv[0], nullptr);
}

/* Concatenation of a and b into a buffer of buflen bytes: nconcat appends
 * at most n characters of b, concat (n = kWhole) as much as fits.  Each
 * returns the buffer and writes nothing past it. */
TEST(Strlib, ConcatAppendsWithinTheBuffer)
{
  constexpr size_t kWhole = SIZE_MAX;
  const struct {
    size_t buflen;
    const char *a;
    const char *b;
    size_t n;
    const char *expected;
  } cases[] = {
      {8, "abc", "defgh", 2, "abcde"},
      {5, "abc", "defgh", 2, "abcd"},
      {4, "abcdef", "xyz", 3, "abc"},
      {1, "abc", "def", 3, ""},
      {16, "", "defgh", 99, "defgh"},
      {16, "abc", "", 4, "abc"},
      {16, "abc", "de", 0, "abc"},
      {16, nullptr, "de", 9, "de"},
      {16, "abc", nullptr, 9, "abc"},
      {6, "abc", "defgh", kWhole, "abcde"},
      {16, "abc", "defgh", kWhole, "abcdefgh"},
      {3, "abc", "defgh", kWhole, "ab"},
      {1, "abc", "defgh", kWhole, ""},
  };
  for (const auto &c : cases) {
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    char *result = c.n == kWhole
                       ? strlib_concat(buffer, c.buflen, c.a, c.b)
                       : strlib_nconcat(buffer, c.buflen, c.a, c.b, c.n);
    EXPECT_EQ(result, buffer);
    EXPECT_STREQ(result, c.expected)
        << c.buflen << " " << (c.a ? c.a : "(null)") << " n=" << c.n;
    EXPECT_EQ(buffer[c.buflen], '#') << "wrote past the buffer";
  }
}

TEST(Strlib, ConcatOntoItselfKeepsTheTextAndCutsItFirst)
{
  char buffer[8] = "abc";
  EXPECT_STREQ(strlib_concat(buffer, sizeof buffer, buffer, "defghijk"),
               "abcdefg");
  EXPECT_STREQ(strlib_concat(buffer, 4, buffer, "xyz"), "abc");

  char again[8] = "12";
  EXPECT_STREQ(strlib_nconcat(again, sizeof again, again, "3456789", 3),
               "12345");
}

TEST(Strlib, NconcatOntoItselfNeverReadsPastAnUnterminatedBuffer)
{
  char buffer[6];
  std::memset(buffer, 'q', sizeof buffer); /* no NUL at all */
  EXPECT_STREQ(strlib_nconcat(buffer, sizeof buffer, buffer, "z", 1), "qqqqq");
}

TEST(Strlib, ConcatWithoutBufferChangesNothing)
{
  char buffer[4] = "ab";
  EXPECT_EQ(strlib_concat(nullptr, 4, "x", "y"), nullptr);
  EXPECT_EQ(strlib_nconcat(nullptr, 4, "x", "y", 1), nullptr);
  EXPECT_EQ(strlib_concat(buffer, 0, "x", "y"), buffer);
  EXPECT_EQ(strlib_nconcat(buffer, 0, "x", "y", 1), buffer);
  EXPECT_STREQ(buffer, "ab");
}

/* {text, separator, parno, field or null} rows. */
struct ParamCase {
  const char *text;
  char separator;
  int parno;
  const char *expected;
};

TEST(Strlib, ParamCopiesFieldParnoOrGivesNull)
{
  // clang-format off
  const ParamCase cases[] = {
      {"x;y;z", ';', 1, "x"},   {"x;y;z", ';', 2, "y"},  {"x;y;z", ';', 3, "z"},
      {"x;y;z", ';', 4, nullptr}, {"x;y;z", ';', 0, nullptr},
      {"x;y;z", ';', -3, nullptr}, {"a,", ',', 1, "a"},  {"a,", ',', 2, ""},
      {"a,", ',', 3, nullptr},  {"", ',', 1, ""},        {"", ',', 2, nullptr},
      {"plain", ',', 1, "plain"}, {",,7.25", ',', 3, "7.25"},
      {"abc", '\0', 1, "abc"},  {"abc", '\0', 2, nullptr},
  };
  // clang-format on
  for (const ParamCase &c : cases) {
    char buffer[16] = "junk";
    char *result =
        strlib_param(buffer, sizeof buffer, c.text, c.separator, c.parno);
    if (c.expected == nullptr) {
      EXPECT_EQ(result, nullptr) << c.text << " field " << c.parno;
    } else {
      EXPECT_EQ(result, buffer);
      EXPECT_STREQ(buffer, c.expected) << c.text << " field " << c.parno;
    }
  }
}

TEST(Strlib, ParamCutsTheFieldToTheBuffer)
{
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_STREQ(strlib_param(buffer, 4, "1;234567;8", ';', 2), "234");
  EXPECT_EQ(buffer[4], '#');
  EXPECT_STREQ(strlib_param(buffer, 1, "1;234567;8", ';', 2), "");
  EXPECT_EQ(strlib_param(buffer, 0, "1;2", ';', 1), nullptr);
  EXPECT_EQ(strlib_param(nullptr, 8, "1;2", ';', 1), nullptr);
  EXPECT_EQ(strlib_param(buffer, 8, nullptr, ';', 1), nullptr);
}

TEST(Strlib, ParamMayWriteIntoItsOwnSource)
{
  char text[] = "alpha|beta|gamma";
  EXPECT_STREQ(strlib_param(text, sizeof text, text, '|', 3), "gamma");
}

TEST(Strlib, CaseConversionChangesOnlyAsciiLettersAndPassesNull)
{
  char text[] = "Pix1_dis-\xe9\xc9z";
  EXPECT_STREQ(strlib_toupper(text), "PIX1_DIS-\xe9\xc9Z");
  EXPECT_STREQ(strlib_tolower(text), "pix1_dis-\xe9\xc9z");
  EXPECT_EQ(strlib_toupper(nullptr), nullptr);
  EXPECT_EQ(strlib_tolower(nullptr), nullptr);
}

/* {s1, s2, n, sign of result} rows. */
struct CaseCmpCase {
  const char *s1;
  const char *s2;
  size_t n;
  int sign;
};

int sign_of(int v) { return (v > 0) - (v < 0); }

TEST(Strlib, NcasecmpComparesPrefixesIgnoringCase)
{
  const CaseCmpCase cases[] = {
      {"ABCx", "abcy", 3, 0},    {"ABCx", "abcy", 4, -1},
      {"abcy", "ABCx", 4, 1},    {"ab", "ABC", 3, -1},
      {"ab", "ABC", 2, 0},       {"", "", 5, 0},
      {nullptr, "", 5, 0},       {nullptr, "a", 5, -1},
      {"a", nullptr, 5, 1},      {"x", "y", 0, 0},
      {"[", "a", 1, -1},         {"\xe9", "a", 1, 1},
      {"Rot3", "ROT3", 1000, 0},
  };
  for (const CaseCmpCase &c : cases)
    EXPECT_EQ(sign_of(strlib_ncasecmp(c.s1, c.s2, c.n)), c.sign)
        << (c.s1 ? c.s1 : "(null)") << " vs " << (c.s2 ? c.s2 : "(null)")
        << " n=" << c.n;
}

/* Runs strlib_tok_r to the end; "<null>" marks the final null. */
std::string tokens(const char *input, const char *sep)
{
  std::string text = input;
  std::string out;
  char *lasts = reinterpret_cast<char *>(&out); /* must be overwritten */
  for (char *tok = strlib_tok_r(text.data(), sep, &lasts);;
       tok = strlib_tok_r(nullptr, sep, &lasts)) {
    if (tok == nullptr) {
      out += "<null>";
      break;
    }
    out += "[" + std::string(tok) + "]";
  }
  return out;
}

TEST(Strlib, TokRSkipsSeparatorsOnlyOnTheFirstCall)
{
  struct Case {
    const char *input;
    const char *sep;
    const char *expected;
  };
  const Case cases[] = {
      {"a,,b", ",", "[a][][b]<null>"}, {",a,", ",", "[a][]<null>"},
      {",,,", ",", "<null>"},          {"", ",", "<null>"},
      {"one", ",", "[one]<null>"},     {" 1;2 ;", " ;", "[1][2][][]<null>"},
      {"x", "", "[x]<null>"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(tokens(c.input, c.sep), c.expected) << '"' << c.input << '"';
}

TEST(Strlib, TokRWithoutContinuationGivesNull)
{
  char *lasts = nullptr;
  EXPECT_EQ(strlib_tok_r(nullptr, ",", &lasts), nullptr);
  char text[] = "a";
  EXPECT_EQ(strlib_tok_r(text, ",", nullptr), nullptr);
}

TEST(Strlib, TokKeepsItsOwnContinuation)
{
  char text[] = "pix1=50_um;;dis=0.11";
  EXPECT_STREQ(strlib_tok(text, ";"), "pix1=50_um");
  EXPECT_STREQ(strlib_tok(nullptr, ";"), "");
  EXPECT_STREQ(strlib_tok(nullptr, ";"), "dis=0.11");
  EXPECT_EQ(strlib_tok(nullptr, ";"), nullptr);
  EXPECT_EQ(strlib_tok(nullptr, ";"), nullptr);
}

TEST(Strlib, NewstrCopiesToTheHeap)
{
  const char original[] = "0.4712 1023.5 7.25";
  char *copy = strlib_newstr(original);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, original);
  EXPECT_STREQ(copy, original);
  std::free(copy);
  EXPECT_EQ(strlib_newstr(nullptr), nullptr);
}

} // namespace
