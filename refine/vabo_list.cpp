/*
 * vabo_list.cpp -- named lists of text key/value elements in numcmp order.
 *
 * Entry points: the lifecycle, lookup, walking and printing functions of
 * vabo_list.h, and numcmp, the key order they all share.  The module owns
 * every list and element record and every key and value text (malloc'ed,
 * freed here only).  Lists are plain chains without an index; each list
 * remembers its last element so that keys arriving in ascending order are
 * appended in constant time.  Tracing goes to standard output; no operation
 * writes an error message.
 */
#include "vabo_list.h"

#include "chain.h"
#include "strlib.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

int ListDebug = 0;         /* non-zero: one trace line per operation */
LList *ListRoot = nullptr; /* first list in key order */
int ListInit = 0;          /* 0 until list_init has run */

const char kListDashes[] =
    "-   -   -   -   -   -   -   -   -   -   -   -   -   -   -";
const char kElementDashes[] =
    "-       -       -       -       -       -       -       -";

/* Writes one trace line to standard output. */
[[gnu::format(printf, 1, 2)]] void print_trace(const char *format, ...)
{
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
}

/* One trace line while tracing is on.  A macro, so that a data line, which
 * passes several traced operations, pays only the test when it is off. */
#define trace(...) (ListDebug != 0 ? print_trace(__VA_ARGS__) : void())

/* A text argument as traced: "(null)" for null. */
const char *shown(const char *text)
{
  return text != nullptr ? text : "(null)";
}

/* Runs list_init the first time the lists are touched. */
void ensure_init()
{
  if (ListInit == 0) list_init();
}

/* Keeps exactly the printable ASCII characters other than the blank: the
 * upper- and lower-case letters, digits and punctuation of the "C" locale
 * (decided on the byte itself, so a program locale cannot change the key
 * order). */
bool is_key_char(unsigned char c) { return c > 0x20 && c < 0x7f; }

/* Normalises key into buffer (LIST_KEY_MAX + 1 characters): of its first
 * LIST_KEY_MAX characters only letters, digits and punctuation are kept,
 * lower case made upper case.  Returns the length; null gives "". */
size_t normalise_key(const char *key, char *buffer)
{
  size_t len = 0;
  if (key != nullptr) {
    for (size_t i = 0; i < LIST_KEY_MAX && key[i] != '\0'; ++i) {
      unsigned char c = static_cast<unsigned char>(key[i]);
      if (!is_key_char(c)) continue;
      if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - ('a' - 'A'));
      buffer[len++] = static_cast<char>(c);
    }
  }
  buffer[len] = '\0';
  return len;
}

/* When key is nothing but decimal digits (the keys of data lines), and so
 * is its own normalised form, stores its length and returns true. */
bool plain_digits(const char *key, size_t *len)
{
  if (key == nullptr) return false;
  size_t n = 0;
  while (key[n] >= '0' && key[n] <= '9') ++n;
  if (key[n] != '\0' || n > LIST_KEY_MAX) return false;
  *len = n;
  return true;
}

/* The normalised form of key: key itself when it needs no normalising,
 * otherwise normalised into buffer (LIST_KEY_MAX + 1 characters). */
const char *normal_form(const char *key, char *buffer, size_t *len)
{
  if (plain_digits(key, len)) return key;
  *len = normalise_key(key, buffer);
  return buffer;
}

/* A normalised key split into its sign and its remainder without leading
 * zeros ("0" when nothing is left). */
struct SignedDigits {
  int sign;
  const char *text;
  size_t len;
};

SignedDigits split_sign(const char *normal, size_t len)
{
  SignedDigits key{1, normal, len};
  if (key.len > 0 && (key.text[0] == '+' || key.text[0] == '-')) {
    if (key.text[0] == '-') key.sign = -1;
    ++key.text;
    --key.len;
  }
  while (key.len > 0 && key.text[0] == '0') {
    ++key.text;
    --key.len;
  }
  if (key.len == 0) {
    key.text = "0";
    key.len = 1;
  }
  return key;
}

/* Character i of key when it is padded on the left with '0' to width. */
unsigned char padded_char(const SignedDigits &key, size_t width, size_t i)
{
  const size_t pad = width - key.len;
  return i < pad ? '0' : static_cast<unsigned char>(key.text[i - pad]);
}

/* The place of Key in a chain of lists or elements (chain_seek). */
template <typename Record>
Record *walk_to(Record *first, const char *Key, Record **after, bool *equal)
{
  return chain_seek(
      first, [Key](const Record *at) { return numcmp(at->Key, Key); }, after,
      equal);
}

/* An element's block: the record, its key, then room for a value stored
 * with it (at least its terminating NUL).  The key of an element never
 * changes, and a data line's value is written once, so a line costs one
 * allocation instead of three.  A value stored there is told from one
 * allocated apart by its address: no other allocation can lie inside the
 * block. */
char *value_slot(const LElement *element)
{
  return element->Key + std::strlen(element->Key) + 1;
}

/* Frees the element's value unless it is stored in the element's block. */
void free_value(LElement *element)
{
  if (element->Value != value_slot(element)) std::free(element->Value);
}

/* A new element without links, its key (traced as the copy by newstr is)
 * and, when Value is not null, a copy of Value in its own block.  Null when
 * no memory is left. */
LElement *new_element(const char *Key, const char *Value)
{
  const size_t key_size = std::strlen(Key) + 1;
  const size_t value_size = Value != nullptr ? std::strlen(Value) + 1 : 1;
  void *block = std::calloc(1, sizeof(LElement) + key_size + value_size);
  if (block == nullptr) return nullptr;
  trace("newstr:\n");
  LElement *element = static_cast<LElement *>(block);
  element->Key = static_cast<char *>(block) + sizeof(LElement);
  std::memcpy(element->Key, Key, key_size);
  if (Value != nullptr) {
    element->Value = element->Key + key_size;
    std::memcpy(element->Value, Value, value_size);
  }
  return element;
}

/* insert_element, storing Value (when not null) in the element's block if
 * the element is made; *made tells whether it was. */
int insert_element_storing(LList *list, const char *Key, const char *Value,
                           LElement **pelement, bool *made)
{
  trace("insert_element: >>%s<<\n", shown(Key));
  *made = false;
  if (pelement != nullptr) *pelement = nullptr;
  if (Key == nullptr || list == nullptr) return -1;
  LElement *after = nullptr;
  LElement *at = nullptr;
  bool equal = false;
  if (list->Last != nullptr && numcmp(list->Last->Key, Key) < 0)
    after = list->Last;
  else
    at = walk_to(list->Elements, Key, &after, &equal);
  if (!equal) {
    LElement *element = new_element(Key, Value);
    if (element == nullptr) return -1;
    element->List = list;
    chain_link<LElement>(element, after, at, &list->Elements, &list->Last);
    ++list->ElementsLen;
    at = element;
    *made = true;
  }
  trace("insert_element: >>%s<< inserted into list >>%s<<\n", at->Key,
        shown(list->Key));
  if (pelement != nullptr) *pelement = at;
  return 0;
}

} // namespace

/* Switches tracing; traces the call itself only when tracing was on. */
int list_debug_set(int debug)
{
  trace("list_debug_set:\n");
  ListDebug = debug;
  return 0;
}

/* The string utilities' copy, traced as a list operation. */
char *newstr(const char *string)
{
  trace("newstr:\n");
  return strlib_newstr(string);
}

/* Numeric-aware key order: both keys are normalised (at most LIST_KEY_MAX
 * characters, letters, digits and punctuation only, upper case), a leading
 * sign is split off, negative keys order first; the rest compares
 * right-aligned in a field of '0' (so "9" < "10"), reversed for negatives. */
int numcmp(const char *key1, const char *key2)
{
  char normal1[LIST_KEY_MAX + 1];
  char normal2[LIST_KEY_MAX + 1];
  size_t len1 = 0, len2 = 0;
  const char *text1 = normal_form(key1, normal1, &len1);
  const char *text2 = normal_form(key2, normal2, &len2);
  const SignedDigits k1 = split_sign(text1, len1);
  const SignedDigits k2 = split_sign(text2, len2);
  if (k1.sign != k2.sign) return k1.sign < 0 ? -1 : 1;
  const size_t width = k1.len > k2.len ? k1.len : k2.len;
  for (size_t i = 0; i < width; ++i) {
    const int c1 = padded_char(k1, width, i);
    const int c2 = padded_char(k2, width, i);
    if (c1 != c2) return (c1 - c2) * k1.sign;
  }
  return 0;
}

/* Marks the module as set up.  Lists left from before are released first,
 * so that a repeated call cannot lose them. */
int list_init(void)
{
  trace("list_init:\n");
  ListInit = 1;
  if (ListRoot != nullptr) free_lists();
  ListRoot = nullptr;
  return 0;
}

/* ---------------------------------------------------------------- lists */

/* A fresh empty list under Key, replacing (and freeing) a list with an equal
 * key.  -1 for a null key or when the new list cannot be made. */
int new_list(const char *Key, LList **plist)
{
  trace("new_list: >>%s<<\n", Key != nullptr ? Key : "(none)");
  if (plist != nullptr) *plist = nullptr;
  ensure_init();
  LList *old = nullptr;
  if (search_list(Key, &old) != 0) return -1;
  if (old != nullptr) delete_list(old, nullptr);
  return insert_list(Key, plist) != 0 ? -1 : 0;
}

/* The list with a key equal to Key, made (empty) if there is none.  -1 with
 * nothing changed for a null key or when no memory is left. */
int insert_list(const char *Key, LList **plist)
{
  trace("insert_list: >>%s<<\n", shown(Key));
  if (plist != nullptr) *plist = nullptr;
  if (Key == nullptr) return -1;
  ensure_init();
  LList *after = nullptr;
  bool equal = false;
  LList *at = walk_to(ListRoot, Key, &after, &equal);
  if (!equal) {
    LList *list = static_cast<LList *>(std::calloc(1, sizeof(LList)));
    if (list == nullptr) return -1;
    list->Key = newstr(Key);
    if (list->Key == nullptr) {
      std::free(list);
      return -1;
    }
    chain_link<LList>(list, after, at, &ListRoot, nullptr);
    at = list;
  }
  if (plist != nullptr) *plist = at;
  return 0;
}

/* The list with a key equal to Key, or null.  -1 for a null key. */
int search_list(const char *Key, LList **plist)
{
  trace("search_list: >>%s<<\n", shown(Key));
  if (plist != nullptr) *plist = nullptr;
  if (Key == nullptr) return -1;
  ensure_init();
  LList *after = nullptr;
  bool equal = false;
  LList *at = walk_to(ListRoot, Key, &after, &equal);
  if (equal && plist != nullptr) *plist = at;
  return 0;
}

/* Unlinks and frees list, its key and all its elements; *pnext: the list
 * that followed it.  A null list deletes nothing.  Always 0. */
int delete_list(LList *list, LList **pnext)
{
  trace("delete_list:\n");
  if (pnext != nullptr) *pnext = nullptr;
  if (list == nullptr) return 0;
  ensure_init();
  LList *next = list->Next;
  chain_unlink<LList>(list, &ListRoot, nullptr);
  free_elements(list);
  std::free(list->Key);
  std::free(list);
  if (pnext != nullptr) *pnext = next;
  return 0;
}

/* Deletes the list with a key equal to Key if there is one; *pnext: the
 * first list with a greater key, or null.  -1 for a null key. */
int remove_list(const char *Key, LList **pnext)
{
  trace("remove_list: >>%s<<\n", shown(Key));
  if (pnext != nullptr) *pnext = nullptr;
  if (Key == nullptr) return -1;
  ensure_init();
  LList *after = nullptr;
  bool equal = false;
  LList *at = walk_to(ListRoot, Key, &after, &equal);
  if (equal) return delete_list(at, pnext);
  if (pnext != nullptr) *pnext = at;
  return 0;
}

/* Deletes every list with all its elements.  Always 0. */
int free_lists(void)
{
  trace("free_lists:\n");
  ensure_init();
  LList *list = ListRoot;
  while (list != nullptr) delete_list(list, &list);
  ListRoot = nullptr;
  return 0;
}

/* Tracing goes off first, so the deletions write nothing.  Always 0. */
int reset_lists(void)
{
  ListDebug = 0;
  LList *list = ListRoot;
  while (list != nullptr) delete_list(list, &list);
  ListRoot = nullptr;
  ListInit = 0;
  return 0;
}

/* ------------------------------------------------------------- elements */

/* The element of list with a key equal to Key, made (without value) if there
 * is none.  A key that orders after the last element is appended without a
 * walk.  -1 with nothing changed for a null list or key or no memory. */
int insert_element(LList *list, const char *Key, LElement **pelement)
{
  bool made = false;
  return insert_element_storing(list, Key, nullptr, pelement, &made);
}

/* The element of list with a key equal to Key, or null (also for a null
 * list).  -1 for a null key. */
int search_element(LList *list, const char *Key, LElement **pelement)
{
  trace("search_element: >>%s<<\n", shown(Key));
  if (pelement != nullptr) *pelement = nullptr;
  if (Key == nullptr) return -1;
  if (list == nullptr) return 0;
  LElement *after = nullptr;
  bool equal = false;
  LElement *at = walk_to(list->Elements, Key, &after, &equal);
  if (equal && pelement != nullptr) *pelement = at;
  return 0;
}

/* Stores a copy of Value under Key, inserting the element if needed.  -1
 * when the element cannot be made or the value cannot be copied. */
int write_element_value(LList *list, const char *Key, const char *Value)
{
  trace("write_element_value: >>%s<< <- >>%s<<\n", shown(Key), shown(Value));
  /* A new element takes its value into its own block, unless tracing shows
   * the copy that put_element_value makes. */
  const char *stored = ListDebug == 0 ? Value : nullptr;
  LElement *element = nullptr;
  bool made = false;
  if (insert_element_storing(list, Key, stored, &element, &made) != 0)
    return -1;
  if (made && stored != nullptr) return 0;
  return put_element_value(element, Value) != 0 ? -1 : 0;
}

/* *pValue: the value stored under Key, null when there is no such element
 * or it has no value (status 0 all the same).  -1 for a null key. */
int read_element_value(LList *list, const char *Key, const char **pValue)
{
  trace("read_element_value: >>%s<<\n", shown(Key));
  if (pValue != nullptr) *pValue = nullptr;
  LElement *element = nullptr;
  if (search_element(list, Key, &element) != 0) return -1;
  return get_element_value(element, pValue);
}

/* Deletes the element with a key equal to Key if there is one; *pnext: its
 * successor, null when nothing was deleted.  -1 for a null key. */
int remove_element(LList *list, const char *Key, LElement **pnext)
{
  trace("remove_element: >>%s<<\n", shown(Key));
  if (pnext != nullptr) *pnext = nullptr;
  LElement *element = nullptr;
  if (search_element(list, Key, &element) != 0) return -1;
  if (element == nullptr) return 0;
  return delete_element(element, pnext);
}

/* Replaces the element's value by a copy of Value (null stores null).  -1
 * for a null element, or when the copy cannot be made: the old value then
 * stays.  Value may be the element's own value. */
int put_element_value(LElement *element, const char *Value)
{
  trace("put_element_value: >>%s<<\n", shown(Value));
  if (element == nullptr) return -1;
  char *copy = newstr(Value);
  if (copy == nullptr && Value != nullptr) return -1;
  free_value(element);
  element->Value = copy;
  return 0;
}

/* *pValue: the element's value (null for a null element).  Always 0. */
int get_element_value(LElement *element, const char **pValue)
{
  trace("get_element_value:\n");
  if (pValue != nullptr)
    *pValue = element != nullptr ? element->Value : nullptr;
  return 0;
}

/* Unlinks and frees element with its key and value; *pnext: the element
 * that followed it.  A null element deletes nothing.  Always 0. */
int delete_element(LElement *element, LElement **pnext)
{
  trace("delete_element:\n");
  if (pnext != nullptr) *pnext = nullptr;
  if (element == nullptr) return 0;
  LElement *next = element->Next;
  LList *list = element->List;
  if (list != nullptr) {
    chain_unlink<LElement>(element, &list->Elements, &list->Last);
    if (list->ElementsLen > 0) --list->ElementsLen;
  } else {
    LElement *first = nullptr;
    chain_unlink<LElement>(element, &first, nullptr);
  }
  free_value(element); /* the key lives in the element's own block */
  std::free(element);
  if (pnext != nullptr) *pnext = next;
  return 0;
}

/* Deletes every element of list; a null list has none.  Always 0. */
int free_elements(LList *list)
{
  trace("free_elements:\n");
  if (list == nullptr) return 0;
  LElement *element = list->Elements;
  while (element != nullptr) delete_element(element, &element);
  list->Elements = nullptr;
  list->Last = nullptr;
  list->ElementsLen = 0;
  return 0;
}

/* -------------------------------------------------------------- walking */

/* *pelement: the first element, null for an empty or null list.  Always 0. */
int first_element(LList *list, LElement **pelement)
{
  if (pelement != nullptr)
    *pelement = list != nullptr ? list->Elements : nullptr;
  return 0;
}

/* Moves *pelement to its successor (null after the last element).  -1 with
 * *pelement unchanged when pelement is null or holds no element of list;
 * 0 with nothing changed for a null list.  Membership is read from the
 * element's List, which every element keeps, so a walk costs O(1) a step. */
int next_element(LList *list, LElement **pelement)
{
  if (pelement == nullptr) return -1;
  if (list == nullptr) return 0;
  LElement *element = *pelement;
  if (element == nullptr || element->List != list) return -1;
  *pelement = element->Next;
  return 0;
}

/* 1 when list holds an element with a key equal to Key, else 0. */
int is_element(LList *list, const char *Key)
{
  LElement *element = nullptr;
  search_element(list, Key, &element);
  return element != nullptr ? 1 : 0;
}

/* 1 when element is one of the records of list (compared as pointers, so a
 * stale pointer is safe to ask about). */
int is_member(LList *list, const LElement *element)
{
  if (list == nullptr || element == nullptr) return 0;
  for (const LElement *at = list->Elements; at != nullptr; at = at->Next)
    if (at == element) return 1;
  return 0;
}

size_t number_of_elements(const LList *list)
{
  return list != nullptr ? list->ElementsLen : 0;
}

/* Counts the pieces of Keys between single blanks that are element keys;
 * two blanks in a row give an empty piece, which equals the key "0". */
int cnt_elements(LList *list, const char *Keys)
{
  if (list == nullptr || Keys == nullptr) return 0;
  char *copy = newstr(Keys);
  if (copy == nullptr) return -1;
  int count = 0;
  char *piece = copy;
  for (;;) {
    char *blank = std::strchr(piece, ' ');
    if (blank != nullptr) *blank = '\0';
    count += is_element(list, piece);
    if (blank == nullptr) break;
    piece = blank + 1;
  }
  std::free(copy);
  return count;
}

int cnt_params(LList *list, const char *const KeyNames[])
{
  if (list == nullptr || KeyNames == nullptr) return 0;
  int count = 0;
  for (const char *const *name = KeyNames; *name != nullptr; ++name)
    count += is_element(list, *name);
  return count;
}

/* ------------------------------------------------------------- printing */

/* Writes the elements of list to out, short or long (verbose) layout.
 * Nothing for level <= 0 or a null list; -1 only for a null stream. */
int print_elements(FILE *out, LList *list, int level, int verbose)
{
  trace("print_elements:\n");
  if (level <= 0 || list == nullptr) return 0;
  if (out == nullptr) return -1;
  for (const LElement *e = list->Elements; e != nullptr; e = e->Next) {
    const char *value = e->Value != nullptr ? e->Value : "(empty)";
    if (verbose == 0) {
      std::fprintf(out, "   '%s' = '%s'\n", e->Key, value);
      continue;
    }
    std::fprintf(out, "   %s\n", kElementDashes);
    std::fprintf(out, "   Key               = %s\n", e->Key);
    std::fprintf(out, "   Value             = %s\n", value);
    std::fprintf(out, "   Previous Key      = ");
    if (e->Previous != nullptr)
      std::fprintf(out, "%s\n", e->Previous->Key);
    else
      std::fprintf(out, "(no previous element)\n");
    std::fprintf(out, "   Next Key          = ");
    if (e->Next != nullptr)
      std::fprintf(out, "%s\n", e->Next->Key);
    else
      std::fprintf(out, "(no next element)\n");
    std::fprintf(out, "   List              = %s\n",
                 e->List != nullptr && e->List->Key != nullptr ? e->List->Key
                                                               : "(empty)");
  }
  if (verbose != 0) std::fprintf(out, "   %s\n", kElementDashes);
  return 0;
}

/* Writes all lists to out in key order; level 1 the lists only, level 2 or
 * more their elements too.  Nothing for level <= 0; -1 for a null stream. */
int print_lists(FILE *out, int level, int verbose)
{
  trace("print_lists:\n");
  ensure_init();
  if (level <= 0) return 0;
  if (out == nullptr) return -1;
  for (LList *list = ListRoot; list != nullptr; list = list->Next) {
    const unsigned long length = list->ElementsLen;
    if (verbose == 0) {
      std::fprintf(out, "  Key                = '%s'\n", list->Key);
      std::fprintf(out, "  ElementsLen        = '%lu'\n", length);
      print_elements(out, list, level - 1, verbose);
      continue;
    }
    std::fprintf(out, "  %s\n", kListDashes);
    std::fprintf(out, "  Key                = %s\n", list->Key);
    std::fprintf(out, "  ElementsLen        = '%lu'\n", length);
    print_elements(out, list, level - 1, verbose);
    std::fprintf(out, "  Previous Key       = ");
    if (list->Previous != nullptr)
      std::fprintf(out, "%s\n", list->Previous->Key);
    else
      std::fprintf(out, "(no previous list)\n");
    std::fprintf(out, "  Next Key           = ");
    if (list->Next != nullptr)
      std::fprintf(out, "%s\n", list->Next->Key);
    else
      std::fprintf(out, "(no next list)\n");
  }
  if (verbose != 0) std::fprintf(out, "  %s\n", kListDashes);
  return 0;
}
