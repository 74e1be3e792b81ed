/*
 * vabo_steplog.cpp -- the iteration log "vabo_iteration.spec".
 *
 * Entry point vabo_save_step: writes one scan in the layout of SPEC data
 * files (header, parameter comments, column labels, one row per point) for
 * one refinement step into VABO_ITERATION_LOG in the current directory,
 * creating the file for step 0 and appending after that; a damped step
 * (vabo_save_step_damping) adds its damping as a comment line, and a
 * refined wavelength (vabo_save_step_wavelength) one more.  Every line
 * ends with "\r\n".  The file is opened and closed on each call; nothing is
 * kept between calls.  It does not decide when to log (the loop does).
 */
#include "vabo_base.h"
#include "vabo_internal.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

/* Empty lines between the parameter comments and "#N": they keep the header
 * of every scan at 27 lines, so that "#N" and the data rows start at the
 * same line of each scan, with or without the damping and wavelength
 * comments, which take the places of the first of them. */
constexpr int kBlankLines = 22;

/* Reason reported when a stream failed without setting errno. */
constexpr int kUnknownWriteError = EIO;

/* The log file while one scan is written: remembers the first failure and
 * the system's reason for it, and closes the file on every path. */
class LogFile {
public:
  explicit LogFile(bool truncate)
  {
    errno = 0;
    file_ = fopen(VABO_ITERATION_LOG, truncate ? "wb+" : "ab+");
    if (!file_) fail();
  }
  ~LogFile()
  {
    if (file_) fclose(file_);
  }
  LogFile(const LogFile &) = delete;
  LogFile &operator=(const LogFile &) = delete;

  [[gnu::format(printf, 2, 3)]] void print(const char *format, ...)
  {
    if (!file_ || error_ != 0) return;
    va_list args;
    va_start(args, format);
    errno = 0;
    int written = vfprintf(file_, format, args);
    va_end(args);
    if (written < 0) fail();
  }

  /* Flushes and closes; returns the errno of the first failure, 0 if the
   * whole scan reached the file. */
  int close()
  {
    if (file_) {
      errno = 0;
      if (ferror(file_) && error_ == 0) fail();
      if (fclose(file_) != 0 && error_ == 0) fail();
      file_ = nullptr;
    }
    return error_;
  }

private:
  void fail() { error_ = errno != 0 ? errno : kUnknownWriteError; }

  FILE *file_ = nullptr;
  int error_ = 0;
};

int report_failure(int error)
{
  fprintf(stderr, "ERROR: vabo_save_step: cannot write %s: %s\n",
          VABO_ITERATION_LOG, strerror(error));
  return -1;
}

} // namespace

/* Writes the scan of one step: model angle and azimuth of every point at
 * the current parameters beside its weight, measured angle and residual,
 * and the damping of the step and the wavelength when they are given.  0;
 * -1 with one line on standard error when an argument is missing or the
 * storage or the file fails (a partly written scan may remain). */
static int save_scan(int step, size_t ndata, const VaboOrdered *Ordered,
                     const double *Angle, const double *I1, const double *I2,
                     const double *Weight, int truncate, const double *damping,
                     const double *wavelength)
{
  vabo_trace("vabo_save_step");
  if (!Ordered || !vabo_tables_given(ndata, Angle, I1, I2, Weight)) {
    fprintf(stderr, "ERROR: vabo_save_step: NULL pointer\n");
    return -1;
  }

  std::vector<double> model_angle, model_azimuth;
  if (!vabo_obtain(model_angle, ndata) || !vabo_obtain(model_azimuth, ndata))
    return report_failure(ENOMEM);
  double par[NParams];

  for (size_t i = 0; i < ndata; ++i) {
    double X[kVaboDim];
    X_vector_3d(X, Ordered, I1[i], I2[i]);
    model_angle[i] = Angle_3d(X);
    model_azimuth[i] = Azimuth_3d(X);
  }
  reorder_Par(Ordered, par, nullptr, nullptr);

  char ordered_text[VaboLineSize], beam_text[VaboLineSize],
      par_text[VaboLineSize];
  sprint_ordered_par(ordered_text, sizeof ordered_text, Ordered);
  sprint_beam_parameters(beam_text, sizeof beam_text, par);
  sprint_parameters(par_text, sizeof par_text, par);

  LogFile log(truncate != 0);
  log.print("\r\n");
  log.print("#S %d\r\n", step);
  log.print("# Step%03d = %s\r\n", step, ordered_text);
  log.print("# BeamPar = %s\r\n", beam_text);
  log.print("#     Par = %s\r\n", par_text);
  int blank = 0;
  if (damping) {
    log.print("# Damping = %lg\r\n", *damping);
    ++blank;
  }
  if (wavelength) {
    log.print("# Wavelength = %lg\r\n", *wavelength);
    ++blank;
  }
  for (; blank < kBlankLines; ++blank) log.print("\r\n");
  log.print("#N 6\r\n");
  log.print("#L number\t  angle/rad\t  azimuth/rad\t  Weight\t  Target/rad\t"
            "  Difference/rad\r\n");
  for (size_t i = 0; i < ndata; ++i)
    log.print("%lu\t  %lg\t  %lg\t  %lg\t  %lg\t  %lg\r\n",
              static_cast<unsigned long>(i), model_angle[i], model_azimuth[i],
              Weight[i], Angle[i], Angle[i] - model_angle[i]);

  int error = log.close();
  if (error != 0) return report_failure(error);
  return 0;
}

int vabo_save_step(int step, size_t ndata, const VaboOrdered *Ordered,
                   const double *Angle, const double *I1, const double *I2,
                   const double *Weight, int truncate)
{
  return save_scan(step, ndata, Ordered, Angle, I1, I2, Weight, truncate,
                   nullptr, nullptr);
}

int vabo_save_step_damping(int step, size_t ndata, const VaboOrdered *Ordered,
                           const double *Angle, const double *I1,
                           const double *I2, const double *Weight, int truncate,
                           double damping)
{
  return save_scan(step, ndata, Ordered, Angle, I1, I2, Weight, truncate,
                   &damping, nullptr);
}

int vabo_save_step_wavelength(int step, size_t ndata,
                              const VaboOrdered *Ordered, const double *Angle,
                              const double *I1, const double *I2,
                              const double *Weight, int truncate,
                              const double *damping, double wavelength)
{
  return save_scan(step, ndata, Ordered, Angle, I1, I2, Weight, truncate,
                   damping, &wavelength);
}
