/*
 * vabo_textfile -- what the readers of the field's small text files share:
 * the file read whole into memory, its lines with their physical numbers,
 * "key: value" lines and numbers read with numio.
 *
 * The readers of control points (vabo_npt), PONI files (vabo_poni) and
 * Fit2D geometries (vabo_fit2d) are built on these pieces, so that every
 * one of them refuses binary bytes, numbers it cannot read and files too
 * large in the same way and names the file and line alike.  Nothing here
 * knows a format.  No function throws: running out of memory is a failure
 * like any other (its text, where one can still be made, says so).
 */
#ifndef VABO_TEXTFILE_H
#define VABO_TEXTFILE_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

/* Largest text file a reader takes, in bytes.  A control-point file of a
 * million points is some 40 MB; anything larger is not a file of these
 * formats, and refusing it keeps a mistaken path from filling memory. */
constexpr size_t VaboTextMaxBytes = 64u * 1024u * 1024u;

/* One line of a text: its bytes without the line end (a carriage return
 * before the line feed is dropped too) and its physical number, from 1. */
struct VaboTextLine {
  std::string_view text;
  size_t number = 0;
};

/* Reads the file path whole into *content.  False when it cannot be opened
 * or read, or is larger than VaboTextMaxBytes: then *error is the one line
 * "PATH: reason" and *os_error the errno (0 for a file too large);
 * *content is then empty. */
bool vabo_text_read_file(const char *path, std::string *content,
                         std::string *error, int *os_error);

/* Splits text into its lines.  A final line without a line end counts; an
 * empty text has no lines.  False when a line holds a byte that no text of
 * these formats has (a control character other than tab, NUL included):
 * then *bad_line is the number of that line and *lines is what came before
 * it.  Throws nothing; *lines may be left short when memory runs out, and
 * the function then returns false with *bad_line 0. */
bool vabo_text_lines(std::string_view text, std::vector<VaboTextLine> *lines,
                     size_t *bad_line);

/* The lines of a file's text for a reader: vabo_text_lines, with its
 * failures as the readers report them -- false with *error the one line
 * "NAME:LINE: a control byte: not a text file", "NAME: out of memory",
 * or, when empty_is_error, "NAME: the file is empty" for a text without
 * lines. */
bool vabo_text_reader_lines(std::string_view text, const char *name,
                            bool empty_is_error,
                            std::vector<VaboTextLine> *lines,
                            std::string *error);

/* Whether line is blank or a comment (its first non-blank byte is '#'). */
bool vabo_text_is_comment(std::string_view line);

/* text without the blanks (spaces and tabs) at its ends. */
std::string_view vabo_text_trim(std::string_view text);

/* Splits line at the first byte that is one of separators: *key becomes
 * the trimmed text before it in lower case, *value the trimmed text after
 * it.  False when line holds none of separators (or memory runs out). */
bool vabo_text_key_value(std::string_view line, std::string_view separators,
                         std::string *key, std::string_view *value);

/* Reads text, which must be one numio expression as a whole (blanks around
 * it allowed), into *value; *has_unit tells whether the text names a unit
 * (holds a '_', which attaches units in numio), so that a caller can take a
 * bare number in its format's own unit.  False, with *why saying what is
 * wrong ("expression is not a float number in 'x'", "not a finite
 * number"), when the text is empty, not an expression, followed by more
 * text, or not finite. */
bool vabo_text_number(std::string_view text, double *value, bool *has_unit,
                      std::string *why);

/* "NAME:LINE: what" -- the one line of a reader's error ("NAME: what" for
 * line 0); empty when memory runs out. */
std::string vabo_text_error(const char *name, size_t line,
                            const std::string &what);

#endif
