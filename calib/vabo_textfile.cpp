/*
 * vabo_textfile.cpp -- the pieces the readers of small text files share:
 * reading a file whole, splitting lines, "key: value" lines, numbers.
 *
 * Numbers go through numio's num_str2double, so that a file may say
 * "0.1_nm" where a user wants to; the text is copied once to be terminated.
 * Every function catches what the standard library throws and reports it
 * as a failure.
 */
#include "vabo_textfile.h"

#include "numio.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

namespace {

struct FileCloser {
  void operator()(FILE *f) const { fclose(f); }
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

/* A byte no line of these text formats holds: control characters except
 * tab (NUL, escape, form feed ...), and DEL. */
bool is_binary(unsigned char c) { return (c < 0x20 && c != '\t') || c == 0x7f; }

/* Assigns text to *out; false (out left as it may be) without memory. */
bool assign(std::string *out, std::string_view text)
{
  try {
    out->assign(text);
    return true;
  } catch (const std::exception &) {
    return false;
  }
}

} // namespace

bool vabo_text_read_file(const char *path, std::string *content,
                         std::string *error, int *os_error)
{
  content->clear();
  *os_error = 0;
  const char *name = path ? path : "(no file)";
  auto fail = [&](int errnum, const char *reason) {
    content->clear();
    content->shrink_to_fit();
    *os_error = errnum;
    try {
      *error = std::string(name) + ": " + reason;
    } catch (const std::exception &) {
      error->clear();
    }
    return false;
  };
  if (!path) return fail(EINVAL, strerror(EINVAL));
  errno = 0;
  std::unique_ptr<FILE, FileCloser> in(fopen(path, "rb"));
  if (!in) return fail(errno ? errno : EIO, strerror(errno ? errno : EIO));
  char buffer[65536];
  for (;;) {
    const size_t got = fread(buffer, 1, sizeof buffer, in.get());
    if (got > 0) {
      if (content->size() + got > VaboTextMaxBytes)
        return fail(0, "file too large for a text file of this kind");
      try {
        content->append(buffer, got);
      } catch (const std::exception &) {
        return fail(ENOMEM, strerror(ENOMEM));
      }
    }
    if (got < sizeof buffer) break;
  }
  if (ferror(in.get())) {
    const int errnum = errno ? errno : EIO;
    return fail(errnum, strerror(errnum));
  }
  return true;
}

bool vabo_text_lines(std::string_view text, std::vector<VaboTextLine> *lines,
                     size_t *bad_line)
{
  lines->clear();
  *bad_line = 0;
  size_t begin = 0;
  size_t number = 0;
  try {
    while (begin < text.size()) {
      ++number;
      size_t end = text.find('\n', begin);
      const size_t next = end == std::string_view::npos ? text.size() : end + 1;
      if (end == std::string_view::npos) end = text.size();
      if (end > begin && text[end - 1] == '\r') --end;
      std::string_view line = text.substr(begin, end - begin);
      for (char c : line) {
        if (is_binary(static_cast<unsigned char>(c))) {
          *bad_line = number;
          return false;
        }
      }
      lines->push_back({line, number});
      begin = next;
    }
  } catch (const std::exception &) {
    return false;
  }
  return true;
}

bool vabo_text_is_comment(std::string_view line)
{
  const std::string_view trimmed = vabo_text_trim(line);
  return trimmed.empty() || trimmed.front() == '#';
}

std::string_view vabo_text_trim(std::string_view text)
{
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

bool vabo_text_key_value(std::string_view line, std::string_view separators,
                         std::string *key, std::string_view *value)
{
  const size_t at = line.find_first_of(separators);
  if (at == std::string_view::npos) return false;
  if (!assign(key, vabo_text_trim(line.substr(0, at)))) return false;
  for (char &c : *key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  *value = vabo_text_trim(line.substr(at + 1));
  return true;
}

bool vabo_text_number(std::string_view text, double *value, bool *has_unit,
                      std::string *why)
{
  text = vabo_text_trim(text);
  std::string copy;
  if (!assign(&copy, text)) return assign(why, "out of memory"), false;
  if (text.empty()) return assign(why, "a number is missing"), false;
  const char *tail = nullptr;
  int errval = 0;
  const double read = num_str2double(copy.c_str(), &tail, &errval);
  if (errval == 0 && tail && *tail != '\0') errval = NUM_ESCAN;
  if (errval != 0) {
    char reason[NUM_FORMAT_BUFLEN];
    if (!num_errval2str(reason, sizeof reason, errval))
      std::snprintf(reason, sizeof reason, "error %d", errval);
    try {
      *why = std::string(reason) + " in '" + copy + "'";
    } catch (const std::exception &) {
      why->clear();
    }
    return false;
  }
  if (!std::isfinite(read)) {
    try {
      *why = "'" + copy + "' is not a finite number";
    } catch (const std::exception &) {
      why->clear();
    }
    return false;
  }
  *value = read;
  *has_unit = text.find('_') != std::string_view::npos;
  return true;
}

std::string vabo_text_error(const char *name, size_t line,
                            const std::string &what)
{
  try {
    std::string text = name ? name : "(text)";
    if (line > 0) text += ":" + std::to_string(line);
    return text + ": " + what;
  } catch (const std::exception &) {
    return std::string();
  }
}

bool vabo_text_reader_lines(std::string_view text, const char *name,
                            bool empty_is_error,
                            std::vector<VaboTextLine> *lines,
                            std::string *error)
{
  size_t bad_line = 0;
  if (!vabo_text_lines(text, lines, &bad_line)) {
    *error = vabo_text_error(name, bad_line,
                             bad_line > 0 ? "a control byte: not a text file"
                                          : "out of memory");
    return false;
  }
  if (empty_is_error && lines->empty()) {
    *error = vabo_text_error(name, 0, "the file is empty");
    return false;
  }
  return true;
}
