/*
 * strlib -- small in-place operations on NUL-terminated texts.
 *
 * White-space tests, comments, trimming and collapsing, splitting into words
 * or fields, bounded concatenation, case conversion, case-blind comparison
 * and tokenising.  Most operations change the caller's text in place and
 * return it; only strlib_newstr allocates for the caller.  White space is
 * exactly the six characters " \t\r\n\f\v" (NUL is not white space).
 * strlib_tok keeps its continuation in module state (one tokenisation at a
 * time); everything else is stateless.
 */
#ifndef VABO_STRLIB_H
#define VABO_STRLIB_H

#include <cstddef>

/* "strlib : V1.06 Kelvardo 2012-08-02" */
const char *strlib_version(void);

/* Tests. */
/* 1 when the low byte of c is one of the six white-space characters. */
int strlib_is_white(int c);
/* 0 when s is exactly "...", "-" or "." (placeholders for a skipped value),
 * otherwise the sign (-1 or +1) of the comparison of s with ".". */
int strlib_is_no_skip(const char *s);
/* 1 when s is null, empty or only white space, else 0. */
int strlib_is_empty(const char *s);
/* Length of the longest prefix of s made of characters of accept; 0 when
 * either is null. */
size_t strlib_spn(const char *s, const char *accept);

/* Cleaning in place; a null s gives a static empty text. */
char *strlib_uncomment(char *s); /* cut at the first '#' */
char *strlib_trim(char *s);      /* drop white space at both ends */
char *strlib_collapse(char *s);  /* each white-space run -> one blank */
/* All three in one pass: the text strlib_uncomment, strlib_trim and
 * strlib_collapse leave, in turn, for the cost of one. */
char *strlib_clean(char *s);

/* Splitting. */
/* Stores pointers to at most sc - 1 words of s in sv, followed by a null
 * entry; returns the number stored.  The white-space character after each
 * word is replaced by NUL.  Null s or sv, or sc 0: returns 0. */
int strlib_split(char *sv[], int sc, char *s);
/* Field parno (from 1) of s, fields separated by separator, copied into
 * buffer (cut to buflen - 1); null when s is null, parno < 1 or s has fewer
 * fields. */
char *strlib_param(char *buffer, size_t buflen, const char *s, char separator,
                   int parno);
/* Tokens separated by characters of sep.  Only the first call (s not null)
 * skips leading separators; two separators in a row give an empty token. */
char *strlib_tok_r(char *s, const char *sep, char **lasts);
char *strlib_tok(char *s, const char *sep);

/* Bounded concatenation: buffer = a followed by (at most n characters of) b,
 * never more than buflen - 1 characters, always terminated.  a may be
 * buffer itself.  A null buffer or buflen 0 returns buffer unchanged. */
char *strlib_nconcat(char *buffer, size_t buflen, const char *a, const char *b,
                     size_t n);
char *strlib_concat(char *buffer, size_t buflen, const char *a, const char *b);

/* Case. */
char *strlib_toupper(char *s); /* null for null */
char *strlib_tolower(char *s); /* null for null */
/* Compares the first n characters of s1 and s2 ignoring case (null counts
 * as empty); negative, 0 or positive. */
int strlib_ncasecmp(const char *s1, const char *s2, size_t n);

/* Heap copy (release with free); null for null or no memory. */
char *strlib_newstr(const char *string);

#endif
