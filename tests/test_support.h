/*
 * test_support.h -- helpers shared by the test programs (header only).
 *
 * Capturing what a body writes to standard output or standard error
 * (StreamCapture, capture) and what a printer writes to a FILE* of its own
 * (MemoryStream, printed); the debug-word guard and what a body prints
 * under a debug word; printf into a string; 3 x 3 matrix helpers; an
 * independent forward model of the detector geometry; the records of
 * synthetic calibration points and of one refinement, and the value of
 * outputs left untouched. Nothing here asserts: the tests keep their own
 * checks.
 */
#ifndef VABO_TEST_SUPPORT_H
#define VABO_TEST_SUPPORT_H

#include "vabo_base.h"

#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace vabo_test {

inline constexpr double kPi = 3.141592653589793;

/* The first n points of the shipped example calibration (LaB6, 2000 x 2000
 * pixels of 75 um), comments left out. */
inline std::string example_points(int n)
{
  std::ifstream in(std::string(VABO_SOURCE_DIR) + "/examples/points.dat");
  std::string line, points;
  while (n > 0 && std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    points += line + "\n";
    --n;
  }
  return points;
}

/* ---- captured output ---------------------------------------------------- */

/* Redirects stream (stdout or stderr) into a temporary file from
 * construction until text() or destruction. text() ends the redirection and
 * returns what was written; "<no capture>" if the redirection failed. */
class StreamCapture {
public:
  explicit StreamCapture(FILE *stream) : stream_(stream)
  {
    std::fflush(stream_);
    file_ = std::tmpfile();
    if (file_ != nullptr) saved_ = dup(fileno(stream_));
    if (file_ == nullptr || saved_ < 0 ||
        dup2(fileno(file_), fileno(stream_)) < 0) {
      if (saved_ >= 0) close(saved_);
      if (file_ != nullptr) std::fclose(file_);
      saved_ = -1;
      file_ = nullptr;
      captured_ = "<no capture>";
    }
  }
  ~StreamCapture() { text(); }
  StreamCapture(const StreamCapture &) = delete;
  StreamCapture &operator=(const StreamCapture &) = delete;

  std::string text()
  {
    if (file_ == nullptr) return captured_;
    std::fflush(stream_);
    dup2(saved_, fileno(stream_));
    close(saved_);
    saved_ = -1;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;)
      captured_.push_back(static_cast<char>(c));
    std::fclose(file_);
    file_ = nullptr;
    return captured_;
  }

private:
  FILE *stream_;
  FILE *file_ = nullptr;
  int saved_ = -1;
  std::string captured_;
};

/* Runs body with stream (stdout or stderr) redirected and returns what was
 * written there. */
template <typename Body> std::string capture(FILE *stream, Body body)
{
  StreamCapture capture(stream);
  body();
  return capture.text();
}

/* A FILE* whose contents are kept in memory. text() returns all written so
 * far ("<no stream>" if the stream could not be opened); file() is null
 * then. */
class MemoryStream {
public:
  MemoryStream() : file_(open_memstream(&data_, &size_)) {}
  ~MemoryStream()
  {
    if (file_ != nullptr) std::fclose(file_);
    std::free(data_);
  }
  MemoryStream(const MemoryStream &) = delete;
  MemoryStream &operator=(const MemoryStream &) = delete;

  FILE *file() const { return file_; }
  std::string text()
  {
    if (file_ == nullptr) return "<no stream>";
    std::fflush(file_);
    return std::string(data_, size_);
  }

private:
  char *data_ = nullptr;
  size_t size_ = 0;
  FILE *file_;
};

/* What print writes to the stream it is given. */
template <typename Print> std::string printed(Print print)
{
  MemoryStream stream;
  if (stream.file() == nullptr) return stream.text();
  print(stream.file());
  return stream.text();
}

/* Sets the debug word for the lifetime of the guard (its own printout is
 * swallowed) and clears it afterwards. */
struct DebugGuard {
  explicit DebugGuard(int word)
  {
    capture(stdout, [word] { VaboDebugSet(word); });
  }
  ~DebugGuard() { VaboDebugSet(0); }
  DebugGuard(const DebugGuard &) = delete;
  DebugGuard &operator=(const DebugGuard &) = delete;
};

/* What body writes to standard output while the debug word is word. */
template <typename Body> std::string output_with(int word, Body body)
{
  DebugGuard debug(word);
  return capture(stdout, body);
}

/* printf into a string (cut at 4095 characters). */
[[gnu::format(printf, 1, 2)]] inline std::string format(const char *fmt, ...)
{
  char buffer[4096];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buffer, sizeof buffer, fmt, ap);
  va_end(ap);
  return buffer;
}

/* ---- 3 x 3 matrices, indexed [row][column] ------------------------------ */

using Mat3 = double[3][3];

inline void copy(const Mat3 from, Mat3 to)
{
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) to[i][j] = from[i][j];
}

inline void multiply(const Mat3 A, const Mat3 B, Mat3 Out)
{
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      Out[i][j] = 0.0;
      for (int k = 0; k < 3; ++k) Out[i][j] += A[i][k] * B[k][j];
    }
}

/* Rotations by t (rad) about axis 1, 2 and 3. */
inline void rot_x(double t, Mat3 R)
{
  const Mat3 m = {
      {1, 0, 0}, {0, std::cos(t), -std::sin(t)}, {0, std::sin(t), std::cos(t)}};
  copy(m, R);
}

inline void rot_y(double t, Mat3 R)
{
  const Mat3 m = {
      {std::cos(t), 0, std::sin(t)}, {0, 1, 0}, {-std::sin(t), 0, std::cos(t)}};
  copy(m, R);
}

inline void rot_z(double t, Mat3 R)
{
  const Mat3 m = {
      {std::cos(t), -std::sin(t), 0}, {std::sin(t), std::cos(t), 0}, {0, 0, 1}};
  copy(m, R);
}

/* ---- independent forward model of the detector ------------------------- */

/* The detector rotation Rz(rot3) Ry(rot2) Rx(rot1), built from its
 * factors. */
inline void detector_rotation(double rot1, double rot2, double rot3, Mat3 M)
{
  Mat3 Rx, Ry, Rz, ZY;
  rot_x(rot1, Rx);
  rot_y(rot2, Ry);
  rot_z(rot3, Rz);
  multiply(Rz, Ry, ZY);
  multiply(ZY, Rx, M);
}

/* Laboratory vector of pixel (i1, i2) for the parameters par (natural
 * order): X = Rz(rot3) Ry(rot2) Rx(rot1) N with
 * N = ((i1 - cen1) pix1, (i2 - cen2) pix2, -dis), rotated one axis at a
 * time (Rx first), without a matrix. */
inline void detector_vector(const double *par, double i1, double i2,
                            double X[3])
{
  const double n[3] = {(i1 - par[Cen1]) * par[Pix1],
                       (i2 - par[Cen2]) * par[Pix2], -par[Dis]};
  const double c1 = std::cos(par[Rot1]), s1 = std::sin(par[Rot1]);
  const double c2 = std::cos(par[Rot2]), s2 = std::sin(par[Rot2]);
  const double c3 = std::cos(par[Rot3]), s3 = std::sin(par[Rot3]);
  const double a[3] = {n[0], c1 * n[1] - s1 * n[2], s1 * n[1] + c1 * n[2]};
  const double b[3] = {c2 * a[0] + s2 * a[2], a[1], -s2 * a[0] + c2 * a[2]};
  X[0] = c3 * b[0] - s3 * b[1];
  X[1] = s3 * b[0] + c3 * b[1];
  X[2] = b[2];
}

/* TwoTheta (rad) of laboratory vector x: its angle to the primary beam
 * (along -axis 3). */
inline double beam_angle(const double x[3])
{
  return std::atan2(std::sqrt(x[0] * x[0] + x[1] * x[1]), -x[2]);
}

/* TwoTheta (rad) of pixel (i1, i2). */
inline double two_theta(const double *par, double i1, double i2)
{
  double x[3];
  detector_vector(par, i1, i2, x);
  return beam_angle(x);
}

/* ---- calibration points and refinement results -------------------------- */

using Params = std::array<double, NParams>;

/* What outputs that must stay unwritten start as: a value that no tested
 * computation gives by chance. */
inline constexpr double kUntouched = 7.777;

/* Calibration points: angle (rad), pixel (i1, i2) and weight of each. */
struct Points {
  std::vector<double> angle, i1, i2, weight;
  size_t size() const { return angle.size(); }
};

/* The outputs of one VaboOptimize call and its status. */
struct Result {
  int status;
  Params par, dev;
  std::array<double, NStats> stat;
};

/* Refines start on pts (modes may be null: refine all) by VaboOptimize,
 * or by VaboOptimizeEx when options are given; every output starts as
 * untouched, so that outputs left alone can be told apart. */
inline Result optimize_points(const Params &start, const int *modes,
                              const Points &pts, double maxdev, int maxstep,
                              double untouched,
                              const VaboOptions *options = nullptr)
{
  Result r;
  r.par.fill(untouched);
  r.dev.fill(untouched);
  r.stat.fill(untouched);
  if (options)
    r.status = VaboOptimizeEx(r.par.data(), r.dev.data(), r.stat.data(),
                              start.data(), modes, pts.size(), pts.angle.data(),
                              pts.i1.data(), pts.i2.data(), pts.weight.data(),
                              maxdev, maxstep, options, nullptr);
  else
    r.status =
        VaboOptimize(r.par.data(), r.dev.data(), r.stat.data(), start.data(),
                     modes, pts.size(), pts.angle.data(), pts.i1.data(),
                     pts.i2.data(), pts.weight.data(), maxdev, maxstep);
  return r;
}

} // namespace vabo_test

#endif
