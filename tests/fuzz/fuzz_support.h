/*
 * fuzz_support.h -- helpers shared by the libFuzzer targets (header only).
 *
 * Every target reads its input as text: a first line of settings (words
 * separated by blanks) and the rest, so that the seed corpora in
 * tests/fuzz/corpus/<target>/ are readable files.  A broken promise of the
 * code under test is reported by fuzz_check, which aborts, so that
 * libFuzzer keeps the input as a finding beside the sanitizers' own.
 */
#ifndef VABO_FUZZ_SUPPORT_H
#define VABO_FUZZ_SUPPORT_H

#include "numio.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace vabo_fuzz {

/* The input split at its first line end: the first line and the rest
 * (both empty when there is nothing). */
struct SplitInput {
  std::string first_line;
  std::string rest;
};

inline SplitInput split_input(const uint8_t *data, size_t size)
{
  const std::string text(reinterpret_cast<const char *>(data), size);
  const size_t end = text.find('\n');
  if (end == std::string::npos) return {text, ""};
  return {text.substr(0, end), text.substr(end + 1)};
}

/* The words of a line, separated by runs of blanks. */
inline std::vector<std::string> words(const std::string &line)
{
  std::vector<std::string> list;
  size_t at = 0;
  while (at < line.size()) {
    const size_t begin = line.find_first_not_of(' ', at);
    if (begin == std::string::npos) break;
    size_t end = line.find(' ', begin);
    if (end == std::string::npos) end = line.size();
    list.push_back(line.substr(begin, end - begin));
    at = end;
  }
  return list;
}

/* Aborts with a message when a promise of the code under test is broken. */
inline void fuzz_check(bool holds, const char *promise)
{
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", promise);
  std::abort();
}

/* Whether two doubles are the same bits, or both not a number. */
inline bool same_double(double a, double b)
{
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

/* Whether errval is one of the readers' error values, 0 ... NUM_EUNIT. */
inline bool known_errval(int errval)
{
  return errval >= 0 && errval <= NUM_EUNIT;
}

} // namespace vabo_fuzz

#endif
