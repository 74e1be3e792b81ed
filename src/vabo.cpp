/*
 * vabo.cpp -- the program's run: command line, calibration data, run, report.
 *
 * vabo_main prints the banner, turns the arguments into options and start
 * values (kept as texts in the keyed list "start"), reads the calibration
 * lines into the list "data", converts both into the parameter and
 * calibration tables, runs the refinement once, prints the three result
 * lines and returns the exit status: 0 success, 1 bad input, 33 refinement
 * failed, 65 fit too poor.  The process entry main (vabo_main.cpp) calls it
 * with standard input; it leaves the modules as it found them, so that it
 * can run again in the same process.  The texts and printers live in
 * vabo_print.cpp; the status rule, the result record with its PONI and
 * JSON files (options poni=, json=, wavelength=) and the robust run
 * (method=, reject=) are the calibration library's (vabo_run.h,
 * vabo_results.h, vabo_robust.h), and so are the field's files that the
 * options calibrant=, start=, npt= and a control-point file as input=
 * bring in (vabo_calibrant.h, vabo_poni.h, vabo_fit2d.h, vabo_npt.h,
 * vabo_rings.h), and the image end of image= and mask= (vabo_image.h,
 * vabo_calibrate.h); the numbers are read by numio, the refinement is
 * vabo_base's.
 */
#include "vabo.h"
#include "vabo_calibrant.h"
#include "vabo_calibrate.h"
#include "vabo_image.h"
#include "vabo_npt.h"
#include "vabo_results.h"
#include "vabo_rings.h"
#include "vabo_robust.h"

#include "numio.h"
#include "strlib.h"
#include "vabo_base.h"
#include "vabo_list.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

/* The exit status of a run is the | of the statuses of its failures
 * (vabo_run.h): 0, 1, 33 or 65. */
constexpr int kStatusFailed = VaboStatusFailed;

/* Whether the status of a run includes that of failure. */
bool has_status(int status, int failure)
{
  return (status & failure) == failure;
}

/* Room for the decimal text of any line number or start-value index. */
constexpr size_t kKeyBufferSize = 32;

/* Name of standard input in error messages and the JSON result. */
constexpr const char *kStdinName = "(stdin)";

/* Room for the message of a failure that the JSON result repeats. */
constexpr size_t kFailureTextSize = 256;

/* Settings of one run, from the options. */
struct Settings {
  bool help = false; /* "-h" or "--help" ended the command line */
  int maxiter = VaboDefaultMaxIter;
  double mindev = VaboDefaultMinDev;
  double maxdev = VaboDefaultMaxDev;
  const char *finput = nullptr; /* rest of the "input=" argument, or none */
  VaboResultFiles files;        /* poni=, json=, wavelength= */
  VaboRobustOptions robust;     /* method=, reject= */
  /* The field's files: calibrant=, npt=, start=, refine=, keep=.  A run
   * that uses none of them (and reads no control-point file) writes what
   * it always wrote. */
  const char *calibrant = nullptr;
  const char *npt = nullptr;
  const char *start = nullptr;
  const char *refine = nullptr;
  const char *keep = nullptr;
  bool wavelength_refined = false; /* wavelength=~EXPR */
  const char *image = nullptr;     /* image=, the calibrant's image */
  const char *mask = nullptr;      /* mask=, its mask */
};

/* The arrays of one run and what it has reported beyond its status.  Every
 * array starts empty; release() frees those that were allocated. */
struct RunState {
  std::vector<double> TwoTheta, Coord1, Coord2, Weight; /* ndata each */
  std::vector<double> ParStart;                         /* NParams */
  std::vector<int> ParMode;                             /* NParams */
  std::vector<double> ParOpt, ParDev;                   /* NParams each */
  std::vector<double> ParStat;                          /* NStats */
  size_t ndata = 0;
  VaboRobustRun robust; /* input lines and clipping of reject= */
  /* The points know their rings: read from a control-point file, or
   * matched to the rings of calibrant=. */
  bool control_points = false; /* input= is a control-point file */
  bool has_calibrant = false;
  VaboCalibrant calibrant;
  bool has_rings = false;
  VaboRings rings;
  double start_wavelength = 0.0; /* m, the start file's; 0: none */
  /* The start values of image=, before the calibration moved them. */
  std::vector<double> image_start;
  /* What the status rule made of the refinement, once it ran. */
  VaboStatus outcome = {VaboStatusOk, VaboSuccessText};
  /* Standard output lost what was written to it (reported once). */
  bool output_failed = false;
  /* Why the status is 1 where no status bit says it, for the JSON result's
   * message; empty when there is no such failure. */
  char failure[kFailureTextSize] = "";

  RunState() = default;
  RunState(const RunState &) = delete;
  RunState &operator=(const RunState &) = delete;
  ~RunState() { release(); }

  void release()
  {
    for (std::vector<double> *v : {&TwoTheta, &Coord1, &Coord2, &Weight,
                                   &ParStart, &ParOpt, &ParDev, &ParStat})
      std::vector<double>().swap(*v);
    std::vector<int>().swap(ParMode);
  }
};

/* Closes a file opened for reading (never standard input). */
struct FileCloser {
  void operator()(FILE *f) const
  {
    if (f && f != stdin) fclose(f);
  }
};
using InputFile = std::unique_ptr<FILE, FileCloser>;

/* The line buffer of getline, grown as long lines need it, freed at the
 * end of the reading on every path. */
struct LineBuffer {
  char *text = nullptr;
  size_t capacity = 0;

  LineBuffer() = default;
  LineBuffer(const LineBuffer &) = delete;
  LineBuffer &operator=(const LineBuffer &) = delete;
  ~LineBuffer() { free(text); }
};

/* 1 when arg begins with word (case-sensitive, over the word's length). */
bool begins_with(const char *arg, const char *word)
{
  return strncmp(arg, word, strlen(word)) == 0;
}

/* A double truncated toward zero to an int: out-of-range values are clamped
 * to the int range, NaN gives 0, so the conversion is always defined. */
int truncate_to_int(double value)
{
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(value);
}

/* Reports that memory ran out while doing what (a printf format and its
 * arguments), in the library's text for error value 1. */
[[gnu::format(printf, 1, 2)]] void report_no_memory(const char *what, ...)
{
  char text[kFailureTextSize];
  va_list args;
  va_start(args, what);
  vsnprintf(text, sizeof text, what, args);
  va_end(args);
  char reason[64];
  fprintf(stderr, "ERROR: %s: %s\n", text,
          num_errval2str(reason, sizeof reason, NUM_ENOMEM));
}

/* A keyed list into which nothing could be stored: with the keys always
 * given, only memory for a record or a copy can have been missing. */
void report_list_failure(const char *list)
{
  report_no_memory("keyed list %s", list);
}

/* A look-up in a keyed list that failed (it cannot, with the keys always
 * given and no list changed while it is walked). */
void report_list_lookup_failure(const char *list)
{
  fprintf(stderr, "ERROR: keyed list %s: lookup failed\n", list);
}

/* The value of an option's text into *value; a text that cannot be read
 * gives 0 (the conversion returns 0 on error), silently.  false, after
 * reporting, when memory ran out, which would turn the option into 0 too. */
bool option_value(const char *arg, const char *rest, double *value)
{
  int errval = 0;
  *value = num_str2double(rest, nullptr, &errval);
  if (errval != NUM_ENOMEM) return true;
  report_no_memory("reading %s", arg);
  return false;
}

/* Flushes standard output.  When anything written to it was lost (a full
 * disk, a closed file), reports "ERROR: writing standard output: <reason>"
 * once per run and returns false. */
bool standard_output_ok(RunState &run)
{
  if (run.output_failed) return false;
  errno = 0;
  if (fflush(stdout) == 0 && !ferror(stdout)) return true;
  const int error = errno ? errno : EIO;
  run.output_failed = true;
  char text[kFailureTextSize];
  snprintf(text, sizeof text, "writing standard output: %s", strerror(error));
  fprintf(stderr, "ERROR: %s\n", text);
  if (!run.failure[0]) snprintf(run.failure, sizeof run.failure, "%s", text);
  return false;
}

/* The help on standard error: usage, debug switches and example.  It stays
 * exactly this text, which scripts may compare; the options added since
 * (result files, method=, reject=) are described in vabo(1). */
void print_help()
{
  fprintf(stderr, "%s\n", VaboUsageText);
  fprintf(stderr, "  debug=(%s)\n\n", VaboUsage2str());
  fprintf(stderr, "%s\n", VaboExampleText);
  fprintf(stderr, "\n");
}

/* The exit every failure after the command line leaves through: reports the
 * status (with the failure bit added), frees the arrays and all keyed lists
 * and returns the status. */
int common_error_exit(int status, RunState &run)
{
  standard_output_ok(run);
  status |= kStatusFailed;
  fprintf(stderr, "ERROR: status=%d\n", status);
  if (has_status(status, VaboStatusRefineFailed)) {
    fprintf(stderr, "%s\n", VaboRefineFailedText);
    fprintf(stderr, "Adjust the start parameters or modify the input data.\n");
  }
  run.release();
  free_lists();
  return status;
}

/* The option wavelength=: the whole text must be one expression of a
 * positive, finite length, since a wrong wavelength in a PONI file would
 * silently spoil every integration made with it.  false after reporting. */
bool read_wavelength(const char *rest, VaboResultFiles &files)
{
  double value = 0.0;
  int errval = 0;
  char reason[VaboLineSize];
  if (vabo_positive_option(rest, " m is not a positive length", &value, &errval,
                           reason, sizeof reason)) {
    files.has_wavelength = true;
    files.wavelength = value;
    return true;
  }
  if (errval == NUM_ENOMEM)
    report_no_memory("reading wavelength=%s", rest);
  else
    fprintf(stderr, "ERROR: wavelength=%s is not a wavelength: %s\n", rest,
            reason);
  return false;
}

/* Options are converted at once; every other argument is a start value,
 * stored under pix1 ... rot3, then 8, 9, ... in the list start.  A help
 * argument sets settings.help and ends the classification.  false after
 * reporting an option that cannot be read or a start value that cannot be
 * stored. */
bool classify_arguments(int argc, char *argv[], LList *start,
                        Settings &settings)
{
  const char *const *names = VaboParamNamesArray();
  int nstart = 0;
  std::string error; /* why a robust option was refused */
  /* Reports the refusal of the robust option arg; passes read on. */
  auto robust_option = [&error](const char *arg, bool read) {
    if (read) return true;
    if (error.empty())
      report_no_memory("reading %s", arg);
    else
      fprintf(stderr, "%s\n", error.c_str());
    return false;
  };
  for (int a = 1; a < argc && argv[a]; a++) {
    const char *arg = argv[a];
    if (begins_with(arg, "-h") || begins_with(arg, "--help")) {
      settings.help = true;
      return true;
    }
    double value = 0.0;
    if (begins_with(arg, "debug=")) {
      if (!option_value(arg, arg + strlen("debug="), &value)) return false;
      int debug = truncate_to_int(value);
      VaboDebugSet(debug);
      list_debug_set(debug & VABO_LIST);
    } else if (begins_with(arg, "input=")) {
      settings.finput = arg + strlen("input=");
    } else if (begins_with(arg, "maxiter=")) {
      if (!option_value(arg, arg + strlen("maxiter="), &value)) return false;
      settings.maxiter = truncate_to_int(value);
    } else if (begins_with(arg, "mindev=")) {
      if (!option_value(arg, arg + strlen("mindev="), &settings.mindev))
        return false;
    } else if (begins_with(arg, "maxdev=")) {
      if (!option_value(arg, arg + strlen("maxdev="), &settings.maxdev))
        return false;
    } else if (begins_with(arg, "poni=")) {
      settings.files.poni = arg + strlen("poni=");
    } else if (begins_with(arg, "json=")) {
      settings.files.json = arg + strlen("json=");
    } else if (begins_with(arg, "wavelength=")) {
      /* The refine mark of the start values refines the wavelength. */
      const char *rest = arg + strlen("wavelength=");
      settings.wavelength_refined = rest[0] == '~';
      if (!read_wavelength(rest + (settings.wavelength_refined ? 1 : 0),
                           settings.files))
        return false;
    } else if (begins_with(arg, "method=")) {
      if (!robust_option(arg, vabo_read_method(arg + strlen("method="),
                                               settings.robust, &error)))
        return false;
    } else if (begins_with(arg, "reject=")) {
      if (!robust_option(arg, vabo_read_reject(arg + strlen("reject="),
                                               settings.robust, &error)))
        return false;
    } else if (begins_with(arg, "calibrant=")) {
      settings.calibrant = arg + strlen("calibrant=");
    } else if (begins_with(arg, "npt=")) {
      settings.npt = arg + strlen("npt=");
    } else if (begins_with(arg, "start=")) {
      settings.start = arg + strlen("start=");
    } else if (begins_with(arg, "refine=")) {
      settings.refine = arg + strlen("refine=");
    } else if (begins_with(arg, "keep=")) {
      settings.keep = arg + strlen("keep=");
    } else if (begins_with(arg, "image=")) {
      settings.image = arg + strlen("image=");
    } else if (begins_with(arg, "mask=")) {
      settings.mask = arg + strlen("mask=");
    } else {
      char keybuf[kKeyBufferSize];
      const char *key = keybuf;
      if (nstart < NParams)
        key = names[nstart];
      else
        snprintf(keybuf, sizeof keybuf, "%d", nstart);
      if (write_element_value(start, key, arg)) {
        report_list_failure("start");
        return false;
      }
      nstart++;
    }
  }
  return true;
}

/* Reports a stream that failed before its end, naming it and the reason. */
void report_read_error(const char *finput, int error)
{
  fprintf(stderr, "ERROR: reading %s: %s\n", finput ? finput : kStdinName,
          strerror(error ? error : EIO));
}

/* Appends a line number; false when there is no storage for it. */
bool append_line_number(std::vector<size_t> &lines, size_t number)
{
  try {
    lines.push_back(number);
    return true;
  } catch (const std::exception &) {
    return false;
  }
}

/* 1 when a line read stops the input: it begins with "exit" or "quit". */
bool is_stop_line(const char *line)
{
  return (line[0] == 'e' && strncmp(line, "exit", 4) == 0) ||
         (line[0] == 'q' && strncmp(line, "quit", 4) == 0);
}

/* Reads the calibration lines from finput (none: the stream input) into the
 * new list "data", each non-empty cleaned line under its running number,
 * and its physical line number (from 1) into *lines when lines is given.
 * Lines are read whole, however long; a NUL byte inside a line ends the text
 * that the cleaning sees.  false after reporting an open, read or list
 * failure. */
bool read_calibration_lines(const char *finput, FILE *input,
                            std::vector<size_t> *lines)
{
  const bool announce = (VABODebug() & VABO_VABO) != 0;
  InputFile owned;
  if (finput) {
    if (announce) printf("opening >>%s<< for reading\n", finput);
    errno = 0;
    owned.reset(fopen(finput, "r"));
    if (!owned) {
      /* As perror would write it, without a copy of the name. */
      fprintf(stderr, "fopen(%s,\"r\"): %s\n", finput, strerror(errno));
      return false;
    }
    input = owned.get();
  }

  LList *data = nullptr;
  if (new_list("data", &data)) {
    report_list_failure("data");
    return false;
  }

  LineBuffer buffer;
  size_t num = 1;
  size_t physical = 0;
  for (;;) {
    errno = 0;
    ssize_t length = getline(&buffer.text, &buffer.capacity, input);
    if (length < 0) {
      if (ferror(input) || !feof(input)) {
        report_read_error(finput, errno);
        return false;
      }
      break;
    }
    ++physical;
    char *line = buffer.text;
    if (is_stop_line(line)) break;
    strlib_clean(line); /* uncomment, trim and collapse in one pass */
    if (strlib_is_empty(line)) continue;
    /* The decimal text of num, as "%zu" writes it. */
    char keybuf[kKeyBufferSize];
    *std::to_chars(keybuf, keybuf + sizeof keybuf - 1, num).ptr = '\0';
    if (write_element_value(data, keybuf, line)) {
      report_list_failure("data");
      return false;
    }
    if (lines && !append_line_number(*lines, physical)) {
      report_no_memory("input line numbers");
      return false;
    }
    num++;
  }

  if (VABODebug() & VABO_VERBOSE) print_lists(stdout, VABOLevel(), 1);
  if (finput) {
    if (announce) printf("closing >>%s<<\n", finput);
    owned.reset();
  }
  return true;
}

/* array = n zeros; false when there is no memory for them (the arrays
 * obtained before are freed at the exit). */
template <typename T> bool allocate(std::vector<T> &array, size_t n)
{
  try {
    array.assign(n, T{});
    return true;
  } catch (const std::exception &) {
    return false;
  }
}

/* Allocates the parameter vectors in their order; false when one cannot
 * be. */
bool allocate_parameter_vectors(RunState &run)
{
  return allocate(run.ParStart, NParams) && allocate(run.ParMode, NParams) &&
         allocate(run.ParOpt, NParams) && allocate(run.ParDev, NParams) &&
         allocate(run.ParStat, NStats);
}

/* Allocates the four calibration tables of n points in their order; false
 * when one cannot be. */
bool allocate_calibration_tables(RunState &run, size_t n)
{
  return allocate(run.TwoTheta, n) && allocate(run.Coord1, n) &&
         allocate(run.Coord2, n) && allocate(run.Weight, n);
}

/* Allocates the five parameter vectors and converts the start values;
 * *found receives the number of start values given (0 ... 8).  false after
 * reporting a list, allocation or conversion failure. */
bool build_start_table(RunState &run, int *found)
{
  LList *start = nullptr;
  if (search_list("start", &start)) {
    report_list_lookup_failure("start");
    return false;
  }
  if (!allocate_parameter_vectors(run)) {
    report_no_memory("parameter vectors");
    return false;
  }

  const char *const *names = VaboParamNamesArray();
  const int *defaults = VaboParamDefaultArray();
  int cnt = 0;
  for (int i = 0; i < NParams; i++) {
    const char *value = nullptr;
    if (read_element_value(start, names[i], &value)) {
      report_list_lookup_failure("start");
      return false;
    }
    if (!value) {
      run.ParMode[i] = -1;
      continue;
    }
    const char *ps = value;
    run.ParMode[i] = get_par_mode(value, &ps, defaults[i]);
    int errval = 0;
    const char *tail = ps;
    run.ParStart[i] = num_str2double(ps, &tail, &errval);
    if (tail) ps = tail;
    if (errval == NUM_ENOMEM) {
      report_no_memory("reading %s", names[i]);
      return false;
    }
    if (errval) {
      fprintf(stderr, "ERROR %d in numio reading %s\n", errval, names[i]);
      fprintf(stderr,
              "from line >>%s<< when creating table with start parameters\n",
              ps);
      return false;
    }
    cnt++;
  }
  *found = cnt;
  return true;
}

/* Reads one column of a data line at *pstr into *value and moves *pstr to
 * where reading stopped.  false after reporting the column and index. */
bool read_column(const char **pstr, double *value, const char *column,
                 size_t index)
{
  int errval = 0;
  const char *tail = *pstr;
  *value = num_str2double(*pstr, &tail, &errval);
  if (tail) *pstr = tail;
  if (errval == NUM_ENOMEM) {
    report_no_memory("reading %s[%zu]", column, index);
    return false;
  }
  if (errval) {
    fprintf(stderr, "ERROR %d in numio reading %s[%zu]\n", errval, column,
            index);
    fprintf(stderr, "from line >>%s<< when creating input data tables.\n",
            *pstr);
    return false;
  }
  return true;
}

/* Converts the lines of "data" into the four calibration tables.  false
 * after reporting missing data, a value that cannot be read, or a list or
 * allocation failure. */
bool build_data_tables(RunState &run)
{
  LList *data = nullptr;
  if (search_list("data", &data)) {
    report_list_lookup_failure("data");
    return false;
  }
  run.ndata = number_of_elements(data);
  if (run.ndata == 0) {
    fprintf(stderr, "%s\nMissing input data\n\n", VaboUsageText);
    return false;
  }

  const size_t n = run.ndata;
  if (!allocate_calibration_tables(run, n)) {
    report_no_memory("calibration tables");
    return false;
  }

  /* The walk fails only on a list that changed under it, which no code
   * here does. */
  LElement *element = nullptr;
  first_element(data, &element);
  for (size_t i = 0; i < n; i++) {
    const char *text = nullptr;
    if (!element || get_element_value(element, &text)) {
      report_list_lookup_failure("data");
      return false;
    }
    const char *str = text ? text : "";
    if (!read_column(&str, &run.TwoTheta[i], "TwoTheta", i)) return false;
    if (!read_column(&str, &run.Coord1[i], "Coord1", i)) return false;
    if (!read_column(&str, &run.Coord2[i], "Coord2", i)) return false;
    if (strlib_is_empty(str)) {
      run.Weight[i] = 1.0;
    } else {
      if (!read_column(&str, &run.Weight[i], "Weight", i)) return false;
      if (run.Weight[i] < 0) {
        fprintf(stderr, "WARNING: negative Weight[%zu]==%lg set to zero.\n", i,
                run.Weight[i]);
        run.Weight[i] = 0.0;
      }
    }
    if (next_element(data, &element)) {
      report_list_lookup_failure("data");
      return false;
    }
  }
  return true;
}

/* ---- The field's files: calibrant=, start=, refine=, keep=, npt= and
 * control points as input ------------------------------------------------ */

/* Whether the run uses the field's files; such a run also reports the
 * rings, Fit2D's geometry and the warnings. */
bool uses_field_files(const Settings &settings, const RunState &run)
{
  return settings.calibrant || settings.npt || settings.start ||
         settings.refine || settings.keep || settings.image ||
         settings.wavelength_refined || run.control_points;
}

/* The text of value that reads back to the same double. */
std::string shortest_text(double value)
{
  char buffer[32];
  *std::to_chars(buffer, buffer + sizeof buffer - 1, value).ptr = '\0';
  return buffer;
}

/* The wavelength the points' rings are at: wavelength=, else the start
 * file's (0: none). */
double ring_wavelength(const Settings &settings, const RunState &run)
{
  return settings.files.has_wavelength ? settings.files.wavelength
                                       : run.start_wavelength;
}

/* Reads start= into the list start, loads calibrant=, checks refine= and
 * keep=, and tells whether input= is a control-point file; then checks
 * that npt= and calibrant= have what they need.  All before any data is
 * read; false after reporting. */
bool prepare_field_files(const Settings &settings, LList *start, RunState &run)
{
  std::string error;
  if (settings.start) {
    if (number_of_elements(start) > 0) {
      fprintf(stderr,
              "ERROR: start=%s gives the eight start values: give none on "
              "the command line (choose the refined ones with refine= and "
              "keep=)\n",
              settings.start);
      return false;
    }
    std::array<double, NParams> values{};
    if (!vabo_start_file(settings.start, &values, &run.start_wavelength,
                         &error)) {
      fprintf(stderr, "ERROR: start=%s: %s\n", settings.start, error.c_str());
      return false;
    }
    const char *const *names = VaboParamNamesArray();
    for (int p = 0; p < NParams; p++)
      if (write_element_value(start, names[p],
                              shortest_text(values[p]).c_str())) {
        report_list_failure("start");
        return false;
      }
  }
  for (const auto &[option, list] : {std::pair{"refine", settings.refine},
                                     std::pair{"keep", settings.keep}}) {
    int modes[NParams] = {};
    if (list && !vabo_parameter_list(list, 1, modes, &error)) {
      fprintf(stderr, "ERROR: %s=%s: %s\n", option, list, error.c_str());
      return false;
    }
  }
  if (settings.calibrant) {
    if (!vabo_calibrant_load(settings.calibrant, VaboCalibrantAllRings,
                             run.calibrant, &error)) {
      fprintf(stderr, "ERROR: calibrant=%s: %s\n", settings.calibrant,
              error.c_str());
      return false;
    }
    run.has_calibrant = true;
  }
  if (settings.image || settings.mask) {
    const char *problem =
        !settings.image       ? "mask= needs image="
        : settings.finput     ? "image= and input= exclude each other"
        : !settings.calibrant ? "image= needs calibrant="
        : !(ring_wavelength(settings, run) > 0) ? "image= needs wavelength="
                                                : nullptr;
    if (problem) {
      fprintf(stderr, "ERROR: %s\n", problem);
      return false;
    }
    return true;
  }
  run.control_points = settings.finput && vabo_npt_recognise(settings.finput);
  if (settings.wavelength_refined && !run.control_points &&
      !settings.calibrant) {
    fprintf(stderr,
            "ERROR: wavelength=~ refines the wavelength from the rings of the "
            "points: read a control-point file (input=) or give calibrant=\n");
    return false;
  }
  if (run.control_points) return true;
  if (settings.calibrant && !(ring_wavelength(settings, run) > 0)) {
    fprintf(stderr,
            "ERROR: calibrant=%s needs wavelength= to match the points to "
            "its rings\n",
            settings.calibrant);
    return false;
  }
  if (settings.npt && !settings.calibrant) {
    fprintf(stderr,
            "ERROR: npt=%s needs the rings of the points: read a "
            "control-point file (input=) or give calibrant= and "
            "wavelength=\n",
            settings.npt);
    return false;
  }
  return true;
}

/* Sets the modes that refine= and keep= name (checked before). */
void apply_parameter_lists(const Settings &settings, RunState &run)
{
  std::string error;
  if (settings.refine)
    vabo_parameter_list(settings.refine, 1, run.ParMode.data(), &error);
  if (settings.keep)
    vabo_parameter_list(settings.keep, 0, run.ParMode.data(), &error);
}

/* Reads the control-point file input= into the calibration tables, each
 * point at the angle of its ring.  false after reporting. */
bool read_control_points(const Settings &settings, RunState &run)
{
  VaboNpt npt;
  std::string error;
  std::vector<double> angle, i1, i2;
  std::vector<size_t> lines;
  bool has_wavelength = settings.files.has_wavelength;
  double wavelength = settings.files.wavelength;
  if (vabo_npt_read(settings.finput, &npt, &error) && !has_wavelength &&
      !npt.has_wavelength && run.start_wavelength > 0) {
    has_wavelength = true;
    wavelength = run.start_wavelength;
  }
  if (!error.empty() ||
      !vabo_rings_from_npt(npt, settings.finput,
                           run.has_calibrant ? &run.calibrant : nullptr,
                           has_wavelength, wavelength, &angle, &i1, &i2, &lines,
                           &run.rings, &error)) {
    if (error.empty())
      report_no_memory("reading %s", settings.finput);
    else
      fprintf(stderr, "ERROR: %s\n", error.c_str());
    return false;
  }
  run.has_rings = true;
  run.ndata = angle.size();
  if (!allocate_calibration_tables(run, run.ndata)) {
    report_no_memory("calibration tables");
    return false;
  }
  std::copy(angle.begin(), angle.end(), run.TwoTheta.begin());
  std::copy(i1.begin(), i1.end(), run.Coord1.begin());
  std::copy(i2.begin(), i2.end(), run.Coord2.begin());
  std::fill(run.Weight.begin(), run.Weight.end(), 1.0);
  run.robust.lines.swap(lines);
  return true;
}

/* Matches the points of the plain data to the rings of calibrant=.  false
 * after reporting the first point that lies on no ring. */
bool match_rings(const Settings &settings, RunState &run)
{
  size_t failed = 0;
  const double wavelength = ring_wavelength(settings, run);
  if (vabo_rings_match(run.ndata, run.TwoTheta.data(), run.calibrant,
                       wavelength, &run.rings, &failed)) {
    run.has_rings = true;
    return true;
  }
  if (failed >= run.ndata) {
    fprintf(stderr,
            "ERROR: calibrant=%s: no ring is reachable at wavelength "
            "%lg m\n",
            settings.calibrant, wavelength);
    return false;
  }
  const size_t line =
      failed < run.robust.lines.size() ? run.robust.lines[failed] : 0;
  fprintf(stderr,
          "ERROR: %s:%zu: TwoTheta %lg rad lies on no ring of %s: farther "
          "than half the distance to the next ring\n",
          settings.finput ? settings.finput : kStdinName, line,
          run.TwoTheta[failed], run.calibrant.name.c_str());
  return false;
}

/* Reads image= (and mask=), picks the rings of calibrant= from the start
 * values and refines until the points settle (one line per round on
 * standard error), then puts the points into the calibration tables and
 * the geometry reached into the start values, from which the run's own
 * refinement takes its last step.  Returns 0; kStatusFailed after
 * reporting an image that cannot be read; VaboStatusRefineFailed after
 * reporting a calibration that found no geometry. */
int calibrate_image(const Settings &settings, RunState &run)
{
  VaboImage image;
  std::string error;
  if (!vabo_read_masked_image(settings.image, settings.mask, image, &error)) {
    fprintf(stderr, "ERROR: %s\n", error.c_str());
    return kStatusFailed;
  }
  const double wavelength = ring_wavelength(settings, run);
  const std::vector<VaboPickRing> rings =
      vabo_calibrate_rings(run.calibrant, wavelength);
  VaboCalibrateOptions options;
  std::copy(run.ParMode.begin(), run.ParMode.end(), options.modes);
  options.maxiter = settings.maxiter;
  VaboCalibrateResult result;
  const int status = vabo_calibrate(image, run.ParStart.data(), rings.data(),
                                    rings.size(), options, result);
  char line[VaboLineSize];
  for (const VaboCalibrateRound &round : result.rounds)
    fprintf(stderr, "%s\n",
            vabo_calibrate_round_line(line, sizeof line, round));
  if (status != VaboCalibrateOk) {
    fprintf(stderr, "ERROR: image=%s: %s\n", settings.image,
            result.reason.empty() ? vabo_calibrate_status_text(status)
                                  : result.reason.c_str());
    return status == VaboCalibrateNoMemory ? kStatusFailed
                                           : VaboStatusRefineFailed;
  }
  VaboCalibrateTables tables;
  const size_t n = result.points.size();
  if (!vabo_calibrate_tables(result, tables) ||
      !allocate_calibration_tables(run, n)) {
    report_no_memory("calibration tables");
    return kStatusFailed;
  }
  run.ndata = n;
  std::copy(tables.angle.begin(), tables.angle.end(), run.TwoTheta.begin());
  std::copy(tables.i1.begin(), tables.i1.end(), run.Coord1.begin());
  std::copy(tables.i2.begin(), tables.i2.end(), run.Coord2.begin());
  std::copy(tables.weight.begin(), tables.weight.end(), run.Weight.begin());
  run.rings.calibrant = run.calibrant.name;
  run.rings.wavelength = wavelength;
  run.rings.spacing.clear();
  for (const VaboRing &r : run.calibrant.rings)
    run.rings.spacing.push_back(r.d);
  run.rings.ring.swap(tables.ring);
  run.has_rings = true;
  run.image_start.assign(run.ParStart.begin(), run.ParStart.end());
  std::copy(result.Par, result.Par + NParams, run.ParStart.begin());
  return 0;
}

/* Prepares the refinement of the wavelength (wavelength=~): the
 * d-spacing of each point's ring and the start value.  false when there is
 * no storage. */
bool refine_wavelength(RunState &run, VaboResult &result)
{
  return vabo_rings_refine_wavelength(run.rings, run.robust, result);
}

/* After a refinement with the wavelength: the refined wavelength goes to
 * the result, the PONI file and the rings, and the points' targets become
 * their rings' angles at it. */
void take_refined_wavelength(Settings &settings, RunState &run,
                             VaboResult &result)
{
  vabo_rings_take_wavelength(run.robust, run.ndata, run.rings, result,
                             run.TwoTheta.data());
  settings.files.has_wavelength = true;
  settings.files.wavelength = result.wavelength;
}

/* Adds what a run with the field's files reports to result: Fit2D's
 * geometry, the residuals per ring, the warnings (also written to standard
 * error). */
void add_field_results(RunState &run, VaboResult &result)
{
  result.has_fit2d = true;
  result.has_warnings = true;
  result.has_rings = run.has_rings;
  if (!result.refined) return;
  if (run.has_rings)
    result.rings = vabo_ring_statistics(
        result.value.data(), run.ndata, run.TwoTheta.data(), run.Coord1.data(),
        run.Coord2.data(), vabo_robust_weights(run.robust, run.Weight.data()),
        run.rings);
  result.warnings = vabo_result_warnings(result, result.rings.size());
  for (const std::string &warning : result.warnings)
    fprintf(stderr, "WARNING: %s\n", warning.c_str());
}

/* Writes the points of the fit (rejected points left out) to npt= as a
 * control-point file.  Returns 0, or kStatusFailed after reporting. */
int write_control_points(const Settings &settings, const RunState &run,
                         const VaboResult &result)
{
  if (!settings.npt || !result.refined || !run.has_rings) return 0;
  std::string text, error;
  const VaboRings &rings = run.rings;
  const int *rejected =
      run.robust.round.size() == run.ndata ? run.robust.round.data() : nullptr;
  int failure = 0;
  if (!vabo_rings_npt_text(run.ndata, run.Coord1.data(), run.Coord2.data(),
                           rejected, rings, &text, &error))
    failure = error.empty() ? ENOMEM : EINVAL;
  else
    failure = vabo_write_text(settings.npt, text);
  if (failure == 0) return 0;
  fprintf(stderr, "ERROR: writing %s: %s\n", settings.npt,
          failure == EINVAL ? error.c_str() : strerror(failure));
  return kStatusFailed;
}

/* Reports that memory ran out in the stage named what and keeps the failure
 * for the JSON result; returns the status of such a failure. */
int record_no_memory(RunState &run, const char *what)
{
  report_no_memory("%s", what);
  char reason[64];
  snprintf(run.failure, sizeof run.failure, "%s: %s", what,
           num_errval2str(reason, sizeof reason, NUM_ENOMEM));
  return kStatusFailed;
}

/* The refinement and its report: the tables of the start values and of the
 * points (data switch), the refinement, the labelled lines (verbose switch),
 * the three result lines and the check of the final deviation against
 * maxdev=.  Returns 0 when the run succeeded, else the status bits of the
 * failures (1 when memory ran out in the refinement or its covariance).
 * result (if given) receives the start values, the steps and the refined
 * values with their covariance, computed before the result lines so that
 * these stay the last lines of standard output under every debug switch. */
int refine_and_report(RunState &run, const Settings &settings,
                      VaboResult *result)
{
  const int debug = VABODebug();
  if (debug & VABO_DATA) {
    fprint_parameters_verbose(stdout, run.ParStart.data(), run.ParMode.data());
    fprint_input_data(stdout, run.ndata, run.TwoTheta.data(), run.Coord1.data(),
                      run.Coord2.data(), run.Weight.data());
  }
  if (result)
    vabo_result_set_start(*result, run.ParStart.data(), run.ParMode.data());
  /* The refinement's stopping threshold (the parameter maxdev of
   * VaboOptimize) is the option mindev=; the option maxdev= only judges the
   * final deviation below. */
  const VaboOptimizeFailure failure = vabo_robust_optimize(
      settings.robust, run.robust, run.ParOpt.data(), run.ParDev.data(),
      run.ParStat.data(), run.ParStart.data(), run.ParMode.data(), run.ndata,
      run.TwoTheta.data(), run.Coord1.data(), run.Coord2.data(),
      run.Weight.data(), settings.mindev, settings.maxiter,
      result ? &result->steps : nullptr);
  vabo_robust_print(stderr, run.robust);
  if (result && !vabo_robust_set_result(*result, settings.robust, run.robust,
                                        run.TwoTheta.data(), run.Coord1.data(),
                                        run.Coord2.data()))
    return record_no_memory(run, "result files");
  run.outcome = vabo_status(failure, run.ParStat[RStdDev], settings.maxdev);
  if (failure == VaboOptimizeNoMemory)
    return record_no_memory(run, "refinement");
  if (failure != VaboOptimizeOk) return run.outcome.status;
  int status = 0;
  if (result) {
    vabo_result_set_refined(
        *result, run.ParOpt.data(), run.ParDev.data(), run.ParStat.data(),
        &run.robust.normal, run.ndata, run.TwoTheta.data(), run.Coord1.data(),
        run.Coord2.data(), vabo_robust_weights(run.robust, run.Weight.data()));
    if (result->cov_status == VaboCovNoMemory)
      status = record_no_memory(run, "covariance");
  }

  if (VABODebug() & VABO_DATA)
    fprint_parameters_verbose(stdout, run.ParOpt.data(), run.ParMode.data());
  if (VABODebug() & VABO_VERBOSE) {
    fprint_parameters(stdout, run.ParOpt.data(), "    Par =");
    fprint_parameters(stdout, run.ParDev.data(), " ParDev =");
    fprint_beam_parameters(stdout, run.ParOpt.data(), "BeamPar =");
    fprint_statistics(stdout, run.ParStat.data(), "ParStat =");
  }
  fprint_parameters(stdout, run.ParOpt.data(), nullptr);
  fprint_parameters(stdout, run.ParDev.data(), nullptr);
  fprint_statistics(stdout, run.ParStat.data(), nullptr);

  if (run.outcome.status == VaboStatusDeviationTooLarge) {
    fprintf(stderr, "%s\n", run.outcome.message);
    fprintf(stderr,
            "The standard deviation is %lg rad, the maximum accepted "
            "deviation is %lg rad\n",
            run.ParStat[RStdDev], settings.maxdev);
    fprintf(stderr, "The maximum accepted deviation can be changed with the "
                    "option maxdev=<deviation>\n");
    status |= run.outcome.status;
  }
  return status;
}

/* The files of poni= and json= for a run that reached the refinement, whose
 * status bits so far are status and whose result was recorded by
 * refine_and_report.  Returns status, with kStatusFailed added when a file
 * cannot be written or the record cannot be completed. */
int write_result_files(int argc, char *argv[], const Settings &settings,
                       int status, const RunState &run, VaboResult &result)
{
  result.status = status ? (status | kStatusFailed) : 0;
  try {
    /* The status rule's message, unless another failure spoiled a run
     * that the rule judged a success. */
    const bool judged = run.outcome.status != VaboStatusOk;
    result.message = judged           ? run.outcome.message
                     : run.failure[0] ? run.failure
                                      : run.outcome.message;
    result.arguments.assign(argv, argv + argc);
    result.input = settings.finput ? settings.finput : kStdinName;
  } catch (const std::bad_alloc &) {
    report_no_memory("result files");
    return status | kStatusFailed;
  }
  if (vabo_write_result_files(settings.files, result)) status |= kStatusFailed;
  return status;
}

/* A run after its banner, reading its calibration data from input unless
 * input= names a file: the usage without arguments, the command line (help
 * ends it there), the calibration lines when all eight start values are
 * given, the start-value table (missing values end it there), the
 * calibration tables, the refinement and report, the result files and the
 * success message or the common error exit.  Returns the exit status. */
int run_vabo(int argc, char *argv[], const char *progname, FILE *input,
             RunState &run)
{
  Settings settings;
  if (argc < 2) {
    printf("%s\n", VaboUsageText);
    return kStatusFailed;
  }

  LList *start = nullptr;
  if (new_list("start", &start)) {
    report_list_failure("start");
    return common_error_exit(0, run);
  }
  if (!classify_arguments(argc, argv, start, settings))
    return common_error_exit(0, run);
  if (settings.help) {
    print_help();
    return kStatusFailed;
  }

  if (!prepare_field_files(settings, start, run))
    return common_error_exit(0, run);

  if (VABOLevel() > 0)
    print_lists(stdout, VABOLevel() - 1, VABODebug() & VABO_VERBOSE);

  if (cnt_params(start, VaboParamNamesArray()) == NParams) {
    const bool lines = settings.robust.has_reject || run.has_calibrant;
    /* image= brings its points after the start values are known. */
    if (settings.image)
      ;
    else if (run.control_points
                 ? !read_control_points(settings, run)
                 : !read_calibration_lines(settings.finput, input,
                                           lines ? &run.robust.lines : nullptr))
      return common_error_exit(0, run);
  }

  int cnt = 0;
  if (!build_start_table(run, &cnt)) return common_error_exit(0, run);
  if (cnt < NParams) {
    int missing = NParams - cnt;
    fprintf(stderr, "%s\nMissing %d start value%s\n\n", VaboUsageText, missing,
            missing >= 2 ? "s" : "");
    fprint_parameters_verbose(stderr, run.ParStart.data(), run.ParMode.data());
    run.release(); /* the keyed lists stay until the process ends */
    return kStatusFailed;
  }

  apply_parameter_lists(settings, run);
  if (settings.image) {
    const int image_status = calibrate_image(settings, run);
    if (image_status == VaboStatusRefineFailed) {
      run.release();
      free_lists();
      return image_status;
    }
    if (image_status) return common_error_exit(0, run);
  } else if (!run.control_points && !build_data_tables(run)) {
    return common_error_exit(0, run);
  }
  if (run.has_calibrant && !run.control_points && !settings.image &&
      !match_rings(settings, run))
    return common_error_exit(0, run);
  /* The PONI file gets the wavelength of the rings when wavelength= did
   * not give one. */
  if (!settings.files.has_wavelength &&
      (run.has_rings || run.start_wavelength > 0)) {
    settings.files.has_wavelength = true;
    settings.files.wavelength =
        run.has_rings ? run.rings.wavelength : run.start_wavelength;
  }

  const bool field = uses_field_files(settings, run);
  const bool with_files = settings.files.poni || settings.files.json || field;
  VaboResult result;
  if (settings.wavelength_refined && !refine_wavelength(run, result))
    return common_error_exit(record_no_memory(run, "wavelength"), run);
  int status = refine_and_report(run, settings, with_files ? &result : nullptr);
  /* The result's start values are the user's, not the calibration's; its
   * points are known by their index. */
  if (run.image_start.size() == NParams) {
    std::copy(run.image_start.begin(), run.image_start.end(),
              result.start.begin());
    result.has_lines = false;
  }
  if (settings.wavelength_refined && result.refined)
    take_refined_wavelength(settings, run, result);
  if (field) add_field_results(run, result);
  /* Lost result lines fail the run before the files say it succeeded. */
  if (!standard_output_ok(run)) status |= kStatusFailed;
  if (field) status |= write_control_points(settings, run, result);
  if (with_files)
    status = write_result_files(argc, argv, settings, status, run, result);
  if (status) return common_error_exit(status, run);

  run.release();
  free_lists();
  if (!standard_output_ok(run)) return common_error_exit(0, run);
  fprintf(stderr, "%s %s\n", progname, VaboSuccessText);
  return 0;
}

/* Leaves the modules that a run sets up as they were before it: the debug
 * word and the expression library's level at 0, no keyed lists (freed
 * without a trace, also after the exits that leave them standing). */
struct ModuleReset {
  ModuleReset() = default;
  ModuleReset(const ModuleReset &) = delete;
  ModuleReset &operator=(const ModuleReset &) = delete;
  ~ModuleReset()
  {
    reset_lists();
    VaboDebugSet(0);
    numio_debug(0);
  }
};

} // namespace

int vabo_main(int argc, char *argv[], FILE *input)
{
  ModuleReset reset;
  /* An empty argument vector has no program path; name the program. */
  const char *progname = (argc > 0 && argv[0]) ? argv[0] : "vabo";
  fprintf(stderr, "%s %s\n\n", progname, VaboVersion);
  RunState run;
  int status = kStatusFailed;
  try {
    status = run_vabo(argc, argv, progname, input ? input : stdin, run);
  } catch (...) {
    /* Nothing above throws but the standard library on exhausted memory,
     * and every such place catches it itself. */
    report_no_memory("vabo");
    status = common_error_exit(0, run);
  }
  /* The exits that do not pass the common one (usage, help, missing start
   * values) may have lost standard output too. */
  if (!standard_output_ok(run) && status == 0) status = kStatusFailed;
  return status;
}
