/*
 * Tests of the keyed lists: the numcmp key order (table of key pairs), the
 * chain invariants (order, links, ElementsLen, Last) after every kind of
 * change, lookups in another spelling of a key, walking, the failure table,
 * the trace lines on standard output and both printouts byte for byte, and
 * a long ascending run of keys as the data reader produces it.
 */
#include "vabo_list.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using vabo_test::printed;
using vabo_test::StreamCapture;

int sign_of(int v) { return (v > 0) - (v < 0); }

/* The element keys of list in walking order, joined by blanks. */
std::string walk_keys(LList *list)
{
  std::string keys;
  LElement *e = nullptr;
  first_element(list, &e);
  while (e != nullptr) {
    if (!keys.empty()) keys += ' ';
    keys += e->Key;
    if (next_element(list, &e) != 0) return keys + " <walk failed>";
  }
  return keys;
}

/* Checks every invariant of one list: links both ways, strictly ascending
 * keys, owner pointers, ElementsLen and Last. */
void expect_sound_chain(const LList *list)
{
  ASSERT_NE(list, nullptr);
  size_t count = 0;
  const LElement *previous = nullptr;
  for (const LElement *e = list->Elements; e != nullptr; e = e->Next) {
    ASSERT_EQ(e->Previous, previous) << "at " << e->Key;
    ASSERT_EQ(e->List, list) << "at " << e->Key;
    if (previous != nullptr) {
      ASSERT_LT(numcmp(previous->Key, e->Key), 0)
          << previous->Key << " / " << e->Key;
    }
    previous = e;
    ++count;
  }
  EXPECT_EQ(list->ElementsLen, count);
  EXPECT_EQ(list->Last, previous);
}

class Lists : public ::testing::Test {
protected:
  void SetUp() override
  {
    list_debug_set(0);
    free_lists();
  }
  void TearDown() override
  {
    list_debug_set(0);
    free_lists();
  }
};

/* {key1, key2, sign of numcmp} rows; each is also checked reversed. */
struct OrderCase {
  const char *key1;
  const char *key2;
  int sign;
};

TEST(NumCmp, OrdersKeysNumericallyIgnoringCaseAndBlanks)
{
  // clang-format off
  const OrderCase cases[] = {
      {"9", "10", -1},          {"-10", "-9", -1},       {"-1", "1", -1},
      {"-0", "0", -1},          {"dis", "cen1", -1},     {"1.5", "1.10", -1},
      {"1.9", "1.10", -1},      {"1e3", "999", -1},      {"data", "start", -1},
      {"+5", "005", 0},         {"005", "5", 0},         {"+5", "5", 0},
      {"pix1", "PIX1", 0},      {"pix1", "pix 1", 0},    {"PIX1", "pix 1", 0},
      {"", "+", 0},             {"", "0", 0},            {"+", "000", 0},
      {"0", "000", 0},          {nullptr, "", 0},        {nullptr, "+0", 0},
      {"-", "0", -1},           {"-5", "-005", 0},       {"-", "-0", 0},
      {"8", "dis", -1},         {"10", "dis", -1},       {"10", "rot3", -1},
      {"cen2", "pix1", -1},     {"rot1", "rot2", -1},    {"rot3", "PIX2", 1},
      {"pix\t1", "PIX1", 0},    {"a\x01" "b", "AB", 0},  {"\xe9x", "X", 0},
      {"\n7\r", "7", 0},        {"99", "100", -1},       {"-99", "-100", 1},
      {"12345678901234567890", "9999999999999999999", 1},
      {"0.2385 512.5", "0.2385 512.4", 1},
  };
  // clang-format on
  for (const OrderCase &c : cases) {
    const char *k1 = c.key1 != nullptr ? c.key1 : "(null)";
    EXPECT_EQ(sign_of(numcmp(c.key1, c.key2)), c.sign)
        << k1 << " vs " << c.key2;
    EXPECT_EQ(sign_of(numcmp(c.key2, c.key1)), -c.sign)
        << c.key2 << " vs " << k1;
  }
}

TEST(NumCmp, ComparesOnlyTheFirst1024Characters)
{
  const std::string base(LIST_KEY_MAX, '7');
  EXPECT_EQ(numcmp((base + "1").c_str(), (base + "2").c_str()), 0);
  EXPECT_EQ(numcmp((base + "zzz").c_str(), base.c_str()), 0);
  /* Skipped characters count toward the limit: the blank pushes one 7 out. */
  EXPECT_LT(numcmp((" " + base).c_str(), base.c_str()), 0);
  /* Difference inside the limit still counts. */
  std::string lower = base;
  lower[LIST_KEY_MAX - 1] = '6';
  EXPECT_LT(numcmp(lower.c_str(), base.c_str()), 0);
}

TEST_F(Lists, ParameterNamesAndExtraNumbersWalkInKeyOrder)
{
  LList *start = nullptr;
  ASSERT_EQ(new_list("start", &start), 0);
  for (const char *key : {"rot2", "10", "pix1", "cen2", "8", "rot3", "dis",
                          "pix2", "rot1", "9", "cen1"})
    ASSERT_EQ(write_element_value(start, key, "2.385"), 0) << key;
  EXPECT_EQ(walk_keys(start), "8 9 10 dis cen1 cen2 pix1 pix2 rot1 rot2 rot3");
  expect_sound_chain(start);
}

TEST_F(Lists, ShuffledNumbersWalkInNumericOrder)
{
  LList *data = nullptr;
  ASSERT_EQ(new_list("data", &data), 0);
  for (const char *key :
       {"7", "12", "1", "10", "3", "11", "2", "9", "5", "8", "4", "6"})
    ASSERT_EQ(write_element_value(data, key, key), 0);
  EXPECT_EQ(walk_keys(data), "1 2 3 4 5 6 7 8 9 10 11 12");
  EXPECT_EQ(number_of_elements(data), 12u);
  expect_sound_chain(data);
  EXPECT_STREQ(data->Last->Key, "12");
}

TEST_F(Lists, OtherSpellingReplacesTheValueAndKeepsTheFirstKey)
{
  LList *start = nullptr;
  ASSERT_EQ(new_list("start", &start), 0);
  ASSERT_EQ(write_element_value(start, "pix1", "50_um"), 0);
  ASSERT_EQ(write_element_value(start, "dis", "11_cm"), 0);
  ASSERT_EQ(write_element_value(start, "PIX1", "75_um"), 0);
  EXPECT_EQ(number_of_elements(start), 2u);
  LElement *e = nullptr;
  ASSERT_EQ(search_element(start, "pi x1", &e), 0);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->Key, "pix1");
  const char *value = nullptr;
  ASSERT_EQ(read_element_value(start, "Pix1", &value), 0);
  EXPECT_STREQ(value, "75_um");

  LList *again = nullptr;
  ASSERT_EQ(insert_list("START", &again), 0);
  EXPECT_EQ(again, start);
  EXPECT_STREQ(again->Key, "start");
}

TEST_F(Lists, NewListOnAnExistingKeyGivesAnEmptyList)
{
  LList *start = nullptr;
  ASSERT_EQ(new_list("start", &start), 0);
  ASSERT_EQ(write_element_value(start, "pix1", "50_um"), 0);
  ASSERT_EQ(write_element_value(start, "pix2", "50_um"), 0);
  LList *fresh = nullptr;
  ASSERT_EQ(new_list("Start", &fresh), 0);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(number_of_elements(fresh), 0u);
  EXPECT_EQ(fresh->Elements, nullptr);
  EXPECT_EQ(fresh->Last, nullptr);
  EXPECT_STREQ(fresh->Key, "Start"); /* the new list takes the new form */
  LList *found = nullptr;
  ASSERT_EQ(search_list("start", &found), 0);
  EXPECT_EQ(found, fresh);
  EXPECT_EQ(fresh->Previous, nullptr);
  EXPECT_EQ(fresh->Next, nullptr);
}

TEST_F(Lists, ListsStandInKeyOrder)
{
  LList *start = nullptr, *data = nullptr, *ten = nullptr, *nine = nullptr;
  ASSERT_EQ(new_list("start", &start), 0);
  ASSERT_EQ(new_list("data", &data), 0);
  ASSERT_EQ(insert_list("10", &ten), 0);
  ASSERT_EQ(insert_list("9", &nine), 0);
  EXPECT_EQ(nine->Next, ten);
  EXPECT_EQ(ten->Next, data);
  EXPECT_EQ(data->Next, start);
  EXPECT_EQ(start->Next, nullptr);
  EXPECT_EQ(start->Previous, data);
  EXPECT_EQ(nine->Previous, nullptr);
}

TEST_F(Lists, AbsentKeyReadsAsNullWithSuccess)
{
  LList *start = nullptr;
  ASSERT_EQ(new_list("start", &start), 0);
  ASSERT_EQ(write_element_value(start, "cen1", "512.5"), 0);
  const char *value = "stale";
  EXPECT_EQ(read_element_value(start, "cen2", &value), 0);
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(is_element(start, "cen2"), 0);
  EXPECT_EQ(is_element(start, "CEN1"), 1);

  LElement *bare = nullptr;
  ASSERT_EQ(insert_element(start, "rot1", &bare), 0);
  value = "stale";
  EXPECT_EQ(read_element_value(start, "rot1", &value), 0);
  EXPECT_EQ(value, nullptr); /* present but without value */
  value = "stale";
  EXPECT_EQ(read_element_value(nullptr, "rot1", &value), 0);
  EXPECT_EQ(value, nullptr);
}

TEST_F(Lists, NextElementFailsPastTheEndAndForForeignElements)
{
  LList *a = nullptr, *b = nullptr;
  ASSERT_EQ(new_list("a", &a), 0);
  ASSERT_EQ(new_list("b", &b), 0);
  ASSERT_EQ(write_element_value(a, "1", "x"), 0);
  ASSERT_EQ(write_element_value(b, "1", "y"), 0);

  LElement *e = nullptr;
  ASSERT_EQ(first_element(a, &e), 0);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(next_element(a, &e), 0);
  EXPECT_EQ(e, nullptr);              /* after the last element */
  EXPECT_EQ(next_element(a, &e), -1); /* past the end */
  EXPECT_EQ(e, nullptr);

  LElement *foreign = b->Elements;
  e = foreign;
  EXPECT_EQ(next_element(a, &e), -1);
  EXPECT_EQ(e, foreign);
  EXPECT_EQ(is_member(a, foreign), 0);
  EXPECT_EQ(is_member(b, foreign), 1);

  EXPECT_EQ(next_element(nullptr, &e), 0); /* null list: unchanged */
  EXPECT_EQ(e, foreign);
  EXPECT_EQ(next_element(a, nullptr), -1);

  e = reinterpret_cast<LElement *>(&e);
  EXPECT_EQ(first_element(nullptr, &e), 0);
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(first_element(a, nullptr), 0);
}

TEST_F(Lists, RemoveListHandsBackTheFirstGreaterList)
{
  LList *l3 = nullptr, *l7 = nullptr, *l20 = nullptr, *next = nullptr;
  ASSERT_EQ(new_list("3", &l3), 0);
  ASSERT_EQ(new_list("7", &l7), 0);
  ASSERT_EQ(new_list("20", &l20), 0);

  EXPECT_EQ(remove_list("10", &next), 0); /* absent: nothing deleted */
  EXPECT_EQ(next, l20);
  EXPECT_EQ(remove_list("30", &next), 0);
  EXPECT_EQ(next, nullptr);

  ASSERT_EQ(write_element_value(l7, "1", "0.5"), 0);
  EXPECT_EQ(remove_list("007", &next), 0); /* present: deleted */
  EXPECT_EQ(next, l20);
  LList *found = reinterpret_cast<LList *>(&found);
  EXPECT_EQ(search_list("7", &found), 0);
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(l3->Next, l20);
  EXPECT_EQ(l20->Previous, l3);

  EXPECT_EQ(remove_list("3", &next), 0); /* the first list */
  EXPECT_EQ(next, l20);
  EXPECT_EQ(l20->Previous, nullptr);
  EXPECT_EQ(printed([](FILE *out) { print_lists(out, 1, 0); }),
            "  Key                = '20'\n  ElementsLen        = '0'\n");
}

TEST_F(Lists, RemoveElementHandsBackTheSuccessorOrNull)
{
  LList *data = nullptr;
  ASSERT_EQ(new_list("data", &data), 0);
  for (const char *key : {"1", "2", "3"})
    ASSERT_EQ(write_element_value(data, key, key), 0);
  LElement *next = nullptr;
  EXPECT_EQ(remove_element(data, "2", &next), 0);
  ASSERT_NE(next, nullptr);
  EXPECT_STREQ(next->Key, "3");
  next = reinterpret_cast<LElement *>(&next);
  EXPECT_EQ(remove_element(data, "2", &next), 0);
  EXPECT_EQ(next, nullptr);
  next = reinterpret_cast<LElement *>(&next);
  EXPECT_EQ(remove_element(nullptr, "2", &next), 0);
  EXPECT_EQ(next, nullptr);
  EXPECT_EQ(remove_element(data, nullptr, &next), -1);
  EXPECT_EQ(remove_element(data, "3", &next), 0); /* the last one */
  EXPECT_EQ(next, nullptr);
  EXPECT_EQ(walk_keys(data), "1");
  expect_sound_chain(data);
}

TEST_F(Lists, LastFollowsEveryChange)
{
  LList *data = nullptr;
  ASSERT_EQ(new_list("data", &data), 0);
  EXPECT_EQ(data->Last, nullptr);
  ASSERT_EQ(write_element_value(data, "5", "a"), 0);
  EXPECT_STREQ(data->Last->Key, "5");
  ASSERT_EQ(write_element_value(data, "3", "b"), 0); /* in front */
  EXPECT_STREQ(data->Last->Key, "5");
  ASSERT_EQ(write_element_value(data, "05", "c"), 0); /* equal to the last */
  EXPECT_EQ(number_of_elements(data), 2u);
  ASSERT_EQ(write_element_value(data, "4", "d"), 0); /* in between */
  EXPECT_STREQ(data->Last->Key, "5");
  expect_sound_chain(data);

  ASSERT_EQ(remove_element(data, "5", nullptr), 0);
  EXPECT_STREQ(data->Last->Key, "4");
  ASSERT_EQ(write_element_value(data, "6", "e"), 0);
  EXPECT_STREQ(data->Last->Key, "6");
  expect_sound_chain(data);

  LElement *e = data->Elements;
  while (e != nullptr) delete_element(e, &e);
  EXPECT_EQ(data->Elements, nullptr);
  EXPECT_EQ(data->Last, nullptr);
  EXPECT_EQ(number_of_elements(data), 0u);

  ASSERT_EQ(write_element_value(data, "2", "f"), 0);
  ASSERT_EQ(write_element_value(data, "1", "g"), 0);
  ASSERT_EQ(free_elements(data), 0);
  EXPECT_EQ(data->Last, nullptr);
  EXPECT_EQ(data->Elements, nullptr);
  EXPECT_EQ(number_of_elements(data), 0u);
  ASSERT_EQ(write_element_value(data, "9", "h"), 0);
  EXPECT_EQ(walk_keys(data), "9");
  expect_sound_chain(data);
}

TEST_F(Lists, HundredThousandAscendingKeysKeepOrderAndLast)
{
  constexpr int kLines = 100000;
  LList *data = nullptr;
  ASSERT_EQ(new_list("data", &data), 0);
  char key[16];
  for (int i = 1; i <= kLines; ++i) {
    std::snprintf(key, sizeof key, "%d", i);
    ASSERT_EQ(write_element_value(data, key, "0.2385 512.5 498.25"), 0);
  }
  EXPECT_EQ(number_of_elements(data), static_cast<size_t>(kLines));
  expect_sound_chain(data);
  EXPECT_STREQ(data->Last->Key, "100000");

  /* The walk visits the lines in input order. */
  int expected = 1;
  LElement *e = nullptr;
  first_element(data, &e);
  while (e != nullptr) {
    ASSERT_EQ(std::atoi(e->Key), expected);
    ++expected;
    ASSERT_EQ(next_element(data, &e), 0);
  }
  EXPECT_EQ(expected, kLines + 1);

  /* A key in front and another at the end still land right. */
  ASSERT_EQ(write_element_value(data, "0", "first"), 0);
  ASSERT_EQ(write_element_value(data, "100001", "last"), 0);
  EXPECT_STREQ(data->Elements->Key, "0");
  EXPECT_STREQ(data->Last->Key, "100001");
  EXPECT_STREQ(data->Last->Previous->Key, "100000");
  expect_sound_chain(data);
}

TEST_F(Lists, FreeListsTracesOneDeletePerListAndElement)
{
  const int sizes[] = {2, 3, 4};
  const char *names[] = {"start", "data", "extra"};
  char key[16];
  for (int l = 0; l < 3; ++l) {
    LList *list = nullptr;
    ASSERT_EQ(new_list(names[l], &list), 0);
    for (int i = 1; i <= sizes[l]; ++i) {
      std::snprintf(key, sizeof key, "%d", i);
      ASSERT_EQ(write_element_value(list, key, "7.25"), 0);
    }
  }
  std::string trace;
  {
    StreamCapture capture(stdout);
    list_debug_set(0x40);
    free_lists();
    list_debug_set(0);
    trace = capture.text();
  }
  std::string expected = "free_lists:\n";
  for (int l = 0; l < 3; ++l) { /* data, extra, start: sizes 3, 4, 2 */
    const int n = l == 0 ? 3 : l == 1 ? 4 : 2;
    expected += "delete_list:\nfree_elements:\n";
    for (int i = 0; i < n; ++i) expected += "delete_element:\n";
  }
  expected += "list_debug_set:\n";
  EXPECT_EQ(trace, expected);
  EXPECT_EQ(printed([](FILE *out) { print_lists(out, 3, 1); }),
            "  -   -   -   -   -   -   -   -   -   -   -   -   -   -   -\n");
}

TEST_F(Lists, TraceLinesNameTheOperationAndItsTexts)
{
  LList *start = nullptr;
  ASSERT_EQ(new_list("start", &start), 0);
  std::string trace;
  {
    StreamCapture capture(stdout);
    list_debug_set(1);
    write_element_value(start, "pix1", "50_um");
    const char *value = nullptr;
    read_element_value(start, "PIX1", &value);
    put_element_value(start->Elements, nullptr);
    new_list(nullptr, nullptr);
    write_element_value(start, nullptr, nullptr);
    list_debug_set(0);
    list_debug_set(0); /* tracing is off now: no line */
    trace = capture.text();
  }
  EXPECT_EQ(trace, "write_element_value: >>pix1<< <- >>50_um<<\n"
                   "insert_element: >>pix1<<\n"
                   "newstr:\n"
                   "insert_element: >>pix1<< inserted into list >>start<<\n"
                   "put_element_value: >>50_um<<\n"
                   "newstr:\n"
                   "read_element_value: >>PIX1<<\n"
                   "search_element: >>PIX1<<\n"
                   "get_element_value:\n"
                   "put_element_value: >>(null)<<\n"
                   "newstr:\n"
                   "new_list: >>(none)<<\n"
                   "search_list: >>(null)<<\n"
                   "write_element_value: >>(null)<< <- >>(null)<<\n"
                   "insert_element: >>(null)<<\n"
                   "list_debug_set:\n");
}

TEST_F(Lists, CountsKeysSeparatedBySingleBlanks)
{
  LList *start = nullptr;
  ASSERT_EQ(new_list("start", &start), 0);
  for (const char *key : {"pix1", "dis", "rot3"})
    ASSERT_EQ(write_element_value(start, key, "1"), 0);
  EXPECT_EQ(cnt_elements(start, "pix1 dis rot3"), 3);
  EXPECT_EQ(cnt_elements(start, "PIX1 Dis cen1"), 2);
  EXPECT_EQ(cnt_elements(start, "pix1 dis  rot3"), 3);
  ASSERT_EQ(write_element_value(start, "0", "zero"), 0);
  EXPECT_EQ(cnt_elements(start, "pix1 dis  rot3"), 4); /* the empty key is 0 */
  EXPECT_EQ(cnt_elements(start, ""), 1);
  EXPECT_EQ(cnt_elements(start, "dis\trot3"), 0); /* only blanks cut */
  EXPECT_EQ(cnt_elements(nullptr, "dis"), 0);
  EXPECT_EQ(cnt_elements(start, nullptr), 0);

  const char *const names[] = {"pix1", "pix2", "cen1", "cen2", "dis",
                               "rot1", "rot2", "rot3", nullptr};
  EXPECT_EQ(cnt_params(start, names), 3);
  EXPECT_EQ(cnt_params(nullptr, names), 0);
  EXPECT_EQ(cnt_params(start, nullptr), 0);
}

class Printing : public Lists {
protected:
  void SetUp() override
  {
    Lists::SetUp();
    LList *start = nullptr, *data = nullptr;
    ASSERT_EQ(new_list("start", &start), 0);
    ASSERT_EQ(new_list("data", &data), 0);
    ASSERT_EQ(write_element_value(start, "pix1", "50_um"), 0);
    LElement *bare = nullptr;
    ASSERT_EQ(insert_element(start, "dis", &bare), 0);
    ASSERT_EQ(write_element_value(data, "1", "0.2385 512.5 498.25"), 0);
  }
};

/* Both lists printed at each level, plain and verbose, byte for byte;
 * level 0 and below print nothing. */
TEST_F(Printing, ListsPrintByLevelAndLayout)
{
  const std::string list_dashes =
      "  -   -   -   -   -   -   -   -   -   -   -   -   -   -   -\n";
  const std::string element_dashes =
      "   -       -       -       -       -       -       -       -\n";
  struct Case {
    int level, verbose;
    std::string text;
  } cases[] = {
      {0, 0, ""},
      {0, 1, ""},
      {-3, 1, ""},
      {1, 0,
       "  Key                = 'data'\n"
       "  ElementsLen        = '1'\n"
       "  Key                = 'start'\n"
       "  ElementsLen        = '2'\n"},
      {2, 0,
       "  Key                = 'data'\n"
       "  ElementsLen        = '1'\n"
       "   '1' = '0.2385 512.5 498.25'\n"
       "  Key                = 'start'\n"
       "  ElementsLen        = '2'\n"
       "   'dis' = '(empty)'\n"
       "   'pix1' = '50_um'\n"},
      {1, 1,
       list_dashes +
           "  Key                = data\n"
           "  ElementsLen        = '1'\n"
           "  Previous Key       = (no previous list)\n"
           "  Next Key           = start\n" +
           list_dashes +
           "  Key                = start\n"
           "  ElementsLen        = '2'\n"
           "  Previous Key       = data\n"
           "  Next Key           = (no next list)\n" +
           list_dashes},
      {2, 1,
       list_dashes +
           "  Key                = data\n"
           "  ElementsLen        = '1'\n" +
           element_dashes +
           "   Key               = 1\n"
           "   Value             = 0.2385 512.5 498.25\n"
           "   Previous Key      = (no previous element)\n"
           "   Next Key          = (no next element)\n"
           "   List              = data\n" +
           element_dashes +
           "  Previous Key       = (no previous list)\n"
           "  Next Key           = start\n" +
           list_dashes +
           "  Key                = start\n"
           "  ElementsLen        = '2'\n" +
           element_dashes +
           "   Key               = dis\n"
           "   Value             = (empty)\n"
           "   Previous Key      = (no previous element)\n"
           "   Next Key          = pix1\n"
           "   List              = start\n" +
           element_dashes +
           "   Key               = pix1\n"
           "   Value             = 50_um\n"
           "   Previous Key      = dis\n"
           "   Next Key          = (no next element)\n"
           "   List              = start\n" +
           element_dashes +
           "  Previous Key       = data\n"
           "  Next Key           = (no next list)\n" +
           list_dashes},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(vabo_test::format("level %d verbose %d", c.level, c.verbose));
    EXPECT_EQ(printed([&](FILE *out) { print_lists(out, c.level, c.verbose); }),
              c.text);
  }
}

/* A verbose printout of an empty list is its closing dashes; level 0 or no
 * list prints nothing. */
TEST_F(Printing, ElementsOfAnEmptyListOrNoneOrAtLevelZero)
{
  LList *empty = nullptr, *start = nullptr;
  ASSERT_EQ(new_list("empty", &empty), 0);
  EXPECT_EQ(printed([&](FILE *out) { print_elements(out, empty, 1, 1); }),
            "   -       -       -       -       -       -       -       -\n");
  EXPECT_EQ(printed([&](FILE *out) { print_elements(out, empty, 1, 0); }), "");
  search_list("start", &start);
  EXPECT_EQ(printed([&](FILE *out) { print_elements(out, start, 0, 1); }), "");
  EXPECT_EQ(printed([](FILE *out) { print_elements(out, nullptr, 2, 1); }), "");
}

TEST_F(Printing, NullStreamIsRefused)
{
  EXPECT_EQ(print_lists(nullptr, 2, 1), -1);
  LList *start = nullptr;
  search_list("start", &start);
  EXPECT_EQ(print_elements(nullptr, start, 1, 0), -1);
  EXPECT_EQ(print_lists(nullptr, 0, 1), 0); /* nothing to write */
}

TEST_F(Lists, NullArgumentsFailAsTabulated)
{
  LList *list = reinterpret_cast<LList *>(&list);
  EXPECT_EQ(new_list(nullptr, &list), -1);
  EXPECT_EQ(list, nullptr);
  list = reinterpret_cast<LList *>(&list);
  EXPECT_EQ(insert_list(nullptr, &list), -1);
  EXPECT_EQ(list, nullptr);
  list = reinterpret_cast<LList *>(&list);
  EXPECT_EQ(search_list(nullptr, &list), -1);
  EXPECT_EQ(list, nullptr);
  list = reinterpret_cast<LList *>(&list);
  EXPECT_EQ(remove_list(nullptr, &list), -1);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(printed([](FILE *out) { print_lists(out, 1, 0); }), "");

  ASSERT_EQ(new_list("start", &list), 0);
  LElement *e = reinterpret_cast<LElement *>(&e);
  EXPECT_EQ(insert_element(list, nullptr, &e), -1);
  EXPECT_EQ(e, nullptr);
  e = reinterpret_cast<LElement *>(&e);
  EXPECT_EQ(insert_element(nullptr, "dis", &e), -1);
  EXPECT_EQ(e, nullptr);
  e = reinterpret_cast<LElement *>(&e);
  EXPECT_EQ(search_element(list, nullptr, &e), -1);
  EXPECT_EQ(e, nullptr);
  e = reinterpret_cast<LElement *>(&e);
  EXPECT_EQ(search_element(nullptr, "dis", &e), 0);
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(write_element_value(nullptr, "dis", "0.11"), -1);
  EXPECT_EQ(number_of_elements(list), 0u);
  EXPECT_EQ(number_of_elements(nullptr), 0u);

  EXPECT_EQ(put_element_value(nullptr, "0.11"), -1);
  const char *value = "stale";
  EXPECT_EQ(get_element_value(nullptr, &value), 0);
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(delete_element(nullptr, &e), 0);
  EXPECT_EQ(e, nullptr);
  LList *next = reinterpret_cast<LList *>(&next);
  EXPECT_EQ(delete_list(nullptr, &next), 0);
  EXPECT_EQ(next, nullptr);
  EXPECT_EQ(free_elements(nullptr), 0);
  EXPECT_EQ(is_element(nullptr, "dis"), 0);
  EXPECT_EQ(is_element(list, nullptr), 0);
  EXPECT_EQ(is_member(nullptr, nullptr), 0);
}

TEST_F(Lists, PuttingAnElementsOwnValueBackKeepsIt)
{
  LList *start = nullptr;
  ASSERT_EQ(new_list("start", &start), 0);
  ASSERT_EQ(write_element_value(start, "rot1", "-22_deg"), 0);
  LElement *e = start->Elements;
  ASSERT_EQ(put_element_value(e, e->Value), 0);
  const char *value = nullptr;
  ASSERT_EQ(get_element_value(e, &value), 0);
  EXPECT_STREQ(value, "-22_deg");
  ASSERT_EQ(write_element_value(start, "rot1", e->Value), 0);
  EXPECT_STREQ(e->Value, "-22_deg");
  ASSERT_EQ(put_element_value(e, nullptr), 0);
  EXPECT_EQ(e->Value, nullptr);
}

TEST_F(Lists, ListInitReleasesListsLeftFromBefore)
{
  LList *start = nullptr;
  ASSERT_EQ(new_list("start", &start), 0);
  ASSERT_EQ(write_element_value(start, "pix1", "50_um"), 0);
  EXPECT_EQ(list_init(), 0); /* the sanitizer build sees any leak */
  LList *found = nullptr;
  EXPECT_EQ(search_list("start", &found), 0);
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(printed([](FILE *out) { print_lists(out, 1, 0); }), "");
}

TEST_F(Lists, ResetFreesEveryListAndSwitchesTracingOffSilently)
{
  LList *start = nullptr;
  ASSERT_EQ(new_list("start", &start), 0);
  ASSERT_EQ(write_element_value(start, "pix1", "50_um"), 0);
  std::string trace;
  {
    StreamCapture capture(stdout);
    list_debug_set(0x40);
    EXPECT_EQ(reset_lists(), 0);
    LList *found = nullptr;
    EXPECT_EQ(search_list("start", &found), 0);
    EXPECT_EQ(found, nullptr);
    trace = capture.text();
  }
  /* Switching tracing on writes nothing, and neither does the reset. */
  EXPECT_EQ(trace, "");
}

TEST(ListHelpers, NewstrCopiesToTheHeap)
{
  char *copy = newstr("0.2385 512.5");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "0.2385 512.5");
  std::free(copy);
  EXPECT_EQ(newstr(nullptr), nullptr);
}

} // namespace
