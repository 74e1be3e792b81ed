/*
 * strlib.cpp -- small in-place operations on NUL-terminated texts.
 *
 * Entry points: the strlib_* functions of strlib.h (white-space tests,
 * comment cutting, trimming, collapsing, splitting, fields, tokens, bounded
 * concatenation, case).  Every text belongs to the caller and is changed in
 * place; only strlib_newstr allocates, for the caller.  The one piece of
 * state is the continuation of strlib_tok.  Characters are classified as
 * unsigned bytes, so texts with bytes of 0x80 and above are safe.
 */
#include "strlib.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

const char kVersion[] = "strlib : V1.06 Kelvardo 2012-08-02";

/* Distance between an ASCII lower-case letter and its upper-case form. */
constexpr unsigned char kCaseOffset = 'a' - 'A';

/* The continuation position of strlib_tok (one tokenisation at a time). */
char *tok_lasts = nullptr;

/* Returned for a null argument by the cleaning operations; only ever read,
 * and written only with the NUL it already holds. */
char empty_text[1] = {'\0'};

/* What a byte is to the cleaning: kept, white space (blank, tab, carriage
 * return, newline, form feed and vertical tab: the white space of the "C"
 * locale, which the expression library reads too), or the end of the text to
 * clean (NUL, and the '#' of a comment).  A table, since it is asked for every
 * character of every data line. */
enum ByteClass : unsigned char { kKept, kWhite, kEnd };

constexpr ByteClass byte_class(unsigned char c)
{
  if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v')
    return kWhite;
  if (c == '\0' || c == '#') return kEnd;
  return kKept;
}

struct ByteClasses {
  ByteClass of[256];
  constexpr ByteClasses() : of()
  {
    for (int c = 0; c < 256; ++c)
      of[c] = byte_class(static_cast<unsigned char>(c));
  }
};
constexpr ByteClasses kByteClasses;

/* 1 when the byte c is white space (never for NUL). */
bool is_white_byte(unsigned char c) { return kByteClasses.of[c] == kWhite; }

/* 1 when the byte c occurs in the NUL-terminated set (never for NUL). */
bool in_set(unsigned char c, const char *set)
{
  if (set == nullptr || c == '\0') return false;
  for (; *set != '\0'; ++set)
    if (static_cast<unsigned char>(*set) == c) return true;
  return false;
}

/* Length of s, but at most limit (s may lack a NUL within limit). */
size_t bounded_length(const char *s, size_t limit)
{
  size_t len = 0;
  while (len < limit && s[len] != '\0') ++len;
  return len;
}

} // namespace

const char *strlib_version(void) { return kVersion; }

int strlib_is_white(int c)
{
  return is_white_byte(static_cast<unsigned char>(c & 0xff)) ? 1 : 0;
}

/* 0 for the placeholders "...", "-" and "."; otherwise the sign of the
 * comparison with ".".  A null s is read as the empty text (gives -1). */
int strlib_is_no_skip(const char *s)
{
  if (s == nullptr) s = "";
  if (std::strcmp(s, "...") == 0) return 0;
  if (std::strcmp(s, "-") == 0) return 0;
  const int last = std::strcmp(s, ".");
  if (last == 0) return 0;
  return last < 0 ? -1 : 1;
}

int strlib_is_empty(const char *s)
{
  if (s == nullptr) return 1;
  for (; *s != '\0'; ++s)
    if (!is_white_byte(static_cast<unsigned char>(*s))) return 0;
  return 1;
}

size_t strlib_spn(const char *s, const char *accept)
{
  if (s == nullptr || accept == nullptr) return 0;
  size_t n = 0;
  while (in_set(static_cast<unsigned char>(s[n]), accept)) ++n;
  return n;
}

/* Cuts s at its first '#'; text before it, trailing blanks included, stays.
 * Returns s, or a static empty text for a null s. */
char *strlib_uncomment(char *s)
{
  if (s == nullptr) return empty_text;
  char *hash = std::strchr(s, '#');
  if (hash != nullptr) *hash = '\0';
  return s;
}

/* Moves the text after the leading white space to the start of s and cuts
 * the trailing white space.  Returns s (static empty text for null). */
char *strlib_trim(char *s)
{
  if (s == nullptr) return empty_text;
  size_t start = 0;
  while (is_white_byte(static_cast<unsigned char>(s[start]))) ++start;
  size_t len = std::strlen(s + start);
  if (start > 0) std::memmove(s, s + start, len + 1);
  while (len > 0 && is_white_byte(static_cast<unsigned char>(s[len - 1])))
    s[--len] = '\0';
  return s;
}

/* Rewrites every run of white space, leading and trailing runs included, as
 * one blank.  Returns s (static empty text for null). */
char *strlib_collapse(char *s)
{
  if (s == nullptr) return empty_text;
  const char *from = s;
  char *to = s;
  while (*from != '\0') {
    if (is_white_byte(static_cast<unsigned char>(*from))) {
      while (is_white_byte(static_cast<unsigned char>(*from))) ++from;
      *to++ = ' ';
    } else {
      *to++ = *from++;
    }
  }
  *to = '\0';
  return s;
}

/* Cuts s at its first '#', drops the white space at both ends and writes
 * every inner run of white space as one blank, reading the text once.
 * Returns s (static empty text for null). */
char *strlib_clean(char *s)
{
  if (s == nullptr) return empty_text;
  const unsigned char *from = reinterpret_cast<const unsigned char *>(s);
  unsigned char *to = reinterpret_cast<unsigned char *>(s);
  while (kByteClasses.of[*from] == kWhite) ++from;
  for (;;) {
    while (kByteClasses.of[*from] == kKept) *to++ = *from++;
    while (kByteClasses.of[*from] == kWhite) ++from;
    if (kByteClasses.of[*from] == kEnd) break;
    *to++ = ' '; /* a white run between two kept characters */
  }
  *to = '\0';
  return s;
}

/* Stores at most sc - 1 word pointers and a null entry in sv; the one
 * white-space character after every word (stored or not) becomes NUL.
 * Returns the number stored; 0 with nothing changed for null s or sv, or
 * sc < 1. */
int strlib_split(char *sv[], int sc, char *s)
{
  if (s == nullptr || sv == nullptr || sc < 1) return 0;
  int count = 0;
  while (is_white_byte(static_cast<unsigned char>(*s))) ++s;
  while (*s != '\0') {
    if (count < sc - 1) sv[count++] = s;
    while (*s != '\0' && !is_white_byte(static_cast<unsigned char>(*s))) ++s;
    if (*s != '\0') *s++ = '\0';
    while (is_white_byte(static_cast<unsigned char>(*s))) ++s;
  }
  sv[count] = nullptr;
  return count;
}

/* Copies field parno (from 1) of s into buffer, cut to buflen - 1.  Returns
 * buffer, or null when s or buffer is null, buflen is 0, parno < 1 or s has
 * fewer fields.  buffer may be s itself. */
char *strlib_param(char *buffer, size_t buflen, const char *s, char separator,
                   int parno)
{
  if (s == nullptr || parno < 1 || buffer == nullptr || buflen == 0)
    return nullptr;
  const char *field = s;
  for (int i = 1; i < parno; ++i) {
    const char *sep = std::strchr(field, separator);
    /* A NUL separator would find the terminator: the text has one field. */
    if (sep == nullptr || *sep == '\0') return nullptr;
    field = sep + 1;
  }
  const char *end = std::strchr(field, separator);
  if (end == nullptr || separator == '\0') end = field + std::strlen(field);
  size_t len = static_cast<size_t>(end - field);
  if (len > buflen - 1) len = buflen - 1;
  std::memmove(buffer, field, len);
  buffer[len] = '\0';
  return buffer;
}

/* Next token of s (first call) or of the text held in *lasts (s null).
 * Only the first call skips leading separators.  Null when the text holds
 * no further token, or when lasts is null. */
char *strlib_tok_r(char *s, const char *sep, char **lasts)
{
  if (lasts == nullptr) return nullptr;
  char *start;
  if (s != nullptr) {
    while (in_set(static_cast<unsigned char>(*s), sep)) ++s;
    if (*s == '\0') {
      *lasts = nullptr;
      return nullptr;
    }
    start = s;
  } else {
    start = *lasts;
    if (start == nullptr) return nullptr;
  }
  char *p = start;
  while (*p != '\0' && !in_set(static_cast<unsigned char>(*p), sep)) ++p;
  if (*p != '\0') {
    *p = '\0';
    *lasts = p + 1;
  } else {
    *lasts = nullptr;
  }
  return start;
}

char *strlib_tok(char *s, const char *sep)
{
  return strlib_tok_r(s, sep, &tok_lasts);
}

/* buffer = a followed by at most n characters of b, never more than
 * buflen - 1 characters.  When a is buffer its text is kept (cut at
 * buflen - 1 should it not be terminated there).  Returns buffer. */
char *strlib_nconcat(char *buffer, size_t buflen, const char *a, const char *b,
                     size_t n)
{
  if (buffer == nullptr || buflen == 0) return buffer;
  size_t len;
  if (a != buffer) {
    len = a != nullptr ? bounded_length(a, buflen - 1) : 0;
    if (len > 0) std::memmove(buffer, a, len);
  } else {
    len = bounded_length(buffer, buflen - 1);
  }
  buffer[len] = '\0';
  if (b != nullptr) {
    const size_t room = buflen - 1 - len;
    const size_t add = bounded_length(b, n < room ? n : room);
    if (add > 0) std::memmove(buffer + len, b, add);
    buffer[len + add] = '\0';
  }
  return buffer;
}

/* buffer = a followed by as much of b as fits in buflen - 1 characters; a
 * text already in buffer is cut at buflen - 1 first.  Returns buffer. */
char *strlib_concat(char *buffer, size_t buflen, const char *a, const char *b)
{
  if (buffer == nullptr || buflen == 0) return buffer;
  buffer[buflen - 1] = '\0';
  return strlib_nconcat(buffer, buflen, a, b, buflen);
}

/* Letters of the other case moved by kCaseOffset; s itself, null for null. */
char *strlib_toupper(char *s)
{
  if (s == nullptr) return nullptr;
  for (char *p = s; *p != '\0'; ++p)
    if (std::islower(static_cast<unsigned char>(*p)))
      *p = static_cast<char>(static_cast<unsigned char>(*p) - kCaseOffset);
  return s;
}

char *strlib_tolower(char *s)
{
  if (s == nullptr) return nullptr;
  for (char *p = s; *p != '\0'; ++p)
    if (std::isupper(static_cast<unsigned char>(*p)))
      *p = static_cast<char>(static_cast<unsigned char>(*p) + kCaseOffset);
  return s;
}

/* Compares the first n characters of s1 and s2 with upper-case letters read
 * as lower case, as strcmp does (unsigned bytes, shorter prefix first); a
 * null text counts as empty. */
int strlib_ncasecmp(const char *s1, const char *s2, size_t n)
{
  if (s1 == nullptr) s1 = "";
  if (s2 == nullptr) s2 = "";
  for (size_t i = 0; i < n; ++i) {
    const int c1 = std::tolower(static_cast<unsigned char>(s1[i]));
    const int c2 = std::tolower(static_cast<unsigned char>(s2[i]));
    if (c1 != c2) return c1 - c2;
    if (c1 == '\0') break;
  }
  return 0;
}

char *strlib_newstr(const char *string)
{
  if (string == nullptr) return nullptr;
  const size_t size = std::strlen(string) + 1;
  char *copy = static_cast<char *>(std::malloc(size));
  if (copy != nullptr) std::memcpy(copy, string, size);
  return copy;
}
