/*
 * expr_table -- tabulates a formula of one variable with the numio library.
 *
 *   expr_table FORMULA VARIABLE FROM TO STEP [UNIT]
 *   expr_table "_x*_x_cm" x 0 10 1 mm
 *
 * The formula is compiled once (num_str2prog) and run for VARIABLE = FROM,
 * FROM + STEP, ... up to TO (num_runprog); every value is written in UNIT
 * (num_double2str), or as a plain number without one.  FROM, TO and STEP are
 * expressions themselves ("5_mm", "pi()/8").  A row that cannot be computed
 * shows the error text and makes the exit status 1; bad arguments give 2.
 */
#include <vabo/numio.h>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

/* Bound on the rows of one table, so that a tiny step cannot run forever. */
constexpr double kMaxRows = 1e6;
/* Slack on the row count, so that TO is reached despite rounding of STEP. */
constexpr double kRowSlack = 1e-9;
/* Size of every text buffer. */
constexpr unsigned long kBufLen = 1024;
/* Name of the compiled program in the registry. */
constexpr const char *kProgramName = "expr_table";

int usage()
{
  std::fprintf(stderr,
               "usage: expr_table FORMULA VARIABLE FROM TO STEP [UNIT]\n"
               "example: expr_table \"_x*_x_cm\" x 0 10 1 mm\n");
  return 2;
}

/* Reads a whole argument as an expression; false after printing why not. */
bool read_argument(const char *what, const char *text, double *value)
{
  const char *tail = nullptr;
  int errval = 0;
  *value = num_str2double(text, &tail, &errval);
  while (*tail == ' ' || *tail == '\t') ++tail;
  if (errval == 0 && *tail != '\0') errval = NUM_ESCAN;
  if (errval == 0 && !std::isfinite(*value)) errval = NUM_EDOMAIN;
  if (errval == 0) return true;
  char message[kBufLen];
  std::fprintf(stderr, "expr_table: cannot read %s '%s': %s\n", what, text,
               num_errval2str(message, sizeof message, errval));
  return false;
}

} // namespace

int main(int argc, char **argv)
{
  if (argc < 6 || argc > 7) return usage();
  const char *formula = argv[1];
  const char *variable = argv[2];
  const char *unit = argc == 7 ? argv[6] : nullptr;
  double from = 0, to = 0, step = 0, unit_value = 1;
  if (!read_argument("FROM", argv[3], &from) ||
      !read_argument("TO", argv[4], &to) ||
      !read_argument("STEP", argv[5], &step) ||
      (unit && !read_argument("UNIT", unit, &unit_value)))
    return 2;
  if (unit_value == 0) {
    std::fprintf(stderr, "expr_table: UNIT '%s' is zero\n", unit);
    return 2;
  }
  double rows = step == 0 ? 0 : std::floor((to - from) / step + kRowSlack) + 1;
  if (!(rows >= 1 && rows <= kMaxRows)) {
    std::fprintf(
        stderr,
        "expr_table: STEP must lead from FROM to TO in at most %.0f rows\n",
        kMaxRows);
    return 2;
  }

  char message[kBufLen];
  const char *tail = nullptr;
  int errval = 0;
  NumProg *program =
      num_str2prog(kProgramName, formula, &tail, &errval, 1, variable);
  if (errval == NUM_EBADVAR) {
    std::fprintf(stderr, "expr_table: bad variable name '%s'\n", variable);
    return 2;
  }
  if (!program || *tail != '\0') {
    if (errval == 0) errval = NUM_ESCAN;
    std::fprintf(stderr, "expr_table: cannot compile '%s' at '%s': %s\n",
                 formula, tail ? tail : formula,
                 num_errval2str(message, sizeof message, errval));
    num_rmprog(program, nullptr);
    return 2;
  }
  if (num_chkvar(program, 1, nullptr) == 0)
    std::fprintf(stderr, "expr_table: warning: the formula does not use _%s\n",
                 variable);

  std::printf("# %s\t%s", variable, formula);
  if (unit) std::printf(" in %s", unit);
  std::printf("\n");
  int status = 0;
  char xtext[kBufLen], ytext[kBufLen];
  for (long i = 0; i < static_cast<long>(rows); ++i) {
    double x = from + static_cast<double>(i) * step;
    double y = num_runprog(program, &errval, x);
    if (!num_double2str(xtext, sizeof xtext, x, nullptr, 0, nullptr))
      std::snprintf(xtext, sizeof xtext, "?");
    if (errval == 0) num_double2str(ytext, sizeof ytext, y, unit, 0, &errval);
    if (errval != 0) {
      std::snprintf(ytext, sizeof ytext, "(%s)",
                    num_errval2str(message, sizeof message, errval));
      status = 1;
    }
    std::printf("%s\t%s\n", xtext, ytext);
  }
  num_rmprog(program, nullptr);
  return status;
}
