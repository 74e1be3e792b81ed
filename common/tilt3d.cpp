/*
 * tilt3d.cpp -- rotation matrices from tilt angles and tilt angles from
 * rotation matrices.
 *
 * Entry points: tilt3d_matrix and tilt3d_inverse_matrix build the matrix of
 * a tilt vector; tilt3d_angles decomposes a matrix (rescaled in place to
 * determinant 1) into the three angles; determinant, scaling, transposition
 * and the rotation test are the small helpers they need.  The module keeps
 * no state; it writes one-line error messages to standard error.
 */
#include "tilt3d.h"

#include <cmath>
#include <cstdio>

const double tilt3d_eps = 1e-08;
const double tilt3d_pi = 3.141592653589793;

namespace {

const char kVersion[] = "tilt3d : Kelvardo V1.11 2011-06-16";

/* The repeat of the second angle flips the first angle by pi at most once:
 * the flip changes the sign of the sine and cosine used, so the second pass
 * yields a tilt that is not negative.  The bound guards against looping on
 * matrices that are rotations only within the tolerance. */
constexpr int kMaxTiltPasses = 2;

/* Maps x into (-pi, pi]; angles within tilt3d_eps of -pi end as pi. */
double wrap_angle(double x)
{
  if (std::fabs(x + tilt3d_pi) < tilt3d_eps) x = -tilt3d_pi;
  if (x > tilt3d_pi) x -= 2.0 * tilt3d_pi;
  if (x <= -tilt3d_pi) x += 2.0 * tilt3d_pi;
  return x;
}

/* True when value differs from 1 by more than the tolerance; a value that is
 * not a number is never close to 1. */
bool differs_from_one(double value)
{
  return !(std::fabs(value - 1.0) <= tilt3d_eps);
}

/* True when the tilt is 0 or pi within tolerance: then the direction of
 * the third column (and of the third row) is not defined by R. */
bool in_tolerance_band(const double R[3][3])
{
  return !(1.0 - std::fabs(R[2][2]) > tilt3d_eps);
}

/* First working angle (TILT[0] + pi/2), wrapped.  Off the two tolerance
 * bands it is the direction of the third column; in the bands (tilt 0 or pi)
 * that direction is undefined and the angle comes from the first rows. */
double first_tilt_angle(const double R[3][3])
{
  double tilt1;
  if (!in_tolerance_band(R)) {
    tilt1 = std::atan2(-R[0][2], R[1][2]);
  } else if (R[2][2] > 0.0) {
    tilt1 = 0.0;
  } else {
    const double p = std::atan2(R[1][0], R[0][0]);
    tilt1 = (R[1][0] >= 0.0) ? p / 2.0 : (p + 2.0 * tilt3d_pi) / 2.0;
  }
  return wrap_angle(tilt1);
}

/* Second working angle, the tilt proper, made non-negative by turning the
 * first angle (*ptilt1) by pi where needed. */
double second_tilt_angle(const double R[3][3], double *ptilt1)
{
  double tilt2 = 0.0;
  for (int pass = 0; pass < kMaxTiltPasses; ++pass) {
    const double c1 = std::cos(*ptilt1);
    const double s1 = std::sin(*ptilt1);
    if (std::fabs(s1) > tilt3d_eps)
      tilt2 = std::atan2(-R[0][2] / s1, R[2][2]);
    else
      tilt2 = std::atan2(R[1][2] / c1, R[2][2]);
    tilt2 = wrap_angle(tilt2);
    if (!(tilt2 < 0.0)) break;
    if (tilt2 > -tilt3d_eps) {
      tilt2 = 0.0;
      break;
    }
    if (pass + 1 == kMaxTiltPasses) break;
    *ptilt1 += tilt3d_pi;
    if (*ptilt1 > tilt3d_pi) *ptilt1 -= 2.0 * tilt3d_pi;
  }
  return tilt2;
}

/* Third working angle, the turn about z, wrapped.  The third row gives it
 * only where it gave the first angle too: in the tolerance bands the first
 * angle was fixed without the third column, and the turn must then come
 * from the first two rows, which a tilt this small (or this close to pi)
 * hardly changes. */
double third_tilt_angle(const double R[3][3], double tilt1, double tilt2)
{
  const double s2 = std::sin(tilt2);
  double tilt3;
  if (std::fabs(s2) > tilt3d_eps && !in_tolerance_band(R))
    tilt3 = std::atan2(R[2][0] / s2, -R[2][1] / s2) - tilt1;
  else if (R[2][2] > 0.0)
    tilt3 = std::atan2(R[0][1], R[1][1]);
  else
    tilt3 = std::atan2(R[1][0], R[0][0]) - 2.0 * tilt1;
  return wrap_angle(tilt3);
}

} // namespace

const char *tilt3d_version(void) { return kVersion; }

double tilt3d_determinante(const double A[3][3])
{
  if (!A) {
    fprintf(stderr, "ERROR: tilt3d_determinante: NULL pointer\n");
    return 0.0;
  }
  return A[0][0] * (A[1][1] * A[2][2] - A[1][2] * A[2][1]) -
         A[0][1] * (A[1][0] * A[2][2] - A[1][2] * A[2][0]) +
         A[0][2] * (A[1][0] * A[2][1] - A[1][1] * A[2][0]);
}

int tilt3d_mat_scale(double A[3][3], double scale)
{
  if (!A) {
    fprintf(stderr, "ERROR: tilt3d_mat_scale: NULL pointer\n");
    return -1;
  }
  if (scale == 1.0) return 0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) A[i][j] *= scale;
  return 0;
}

int tilt3d_mat_transpose(double A[3][3])
{
  if (!A) {
    fprintf(stderr, "ERROR: tilt3d_mat_transpose: NULL pointer\n");
    return -1;
  }
  for (int i = 1; i < 3; ++i)
    for (int j = 0; j < i; ++j) {
      const double t = A[i][j];
      A[i][j] = A[j][i];
      A[j][i] = t;
    }
  return 0;
}

int tilt3d_isnottilt(const double R[3][3])
{
  if (!R) {
    fprintf(stderr, "ERROR:  tilt3d_isnottilt: NULL pointer\n");
    return -1;
  }
  if (differs_from_one(tilt3d_determinante(R))) return 1;
  for (int i = 0; i < 3; ++i)
    if (differs_from_one(R[i][0] * R[i][0] + R[i][1] * R[i][1] +
                         R[i][2] * R[i][2]))
      return 1;
  return 0;
}

int tilt3d_matrix(const double TILT[3], double R[3][3])
{
  if (!TILT || !R) {
    fprintf(stderr, "ERROR: tilt3d_matrix: NULL pointer\n");
    return -1;
  }
  const double u1 = 0.5 * tilt3d_pi + TILT[0];
  const double u2 = TILT[1];
  const double u3 = TILT[2];
  const double c1 = std::cos(u1), s1 = std::sin(u1);
  const double c2 = std::cos(u2), s2 = std::sin(u2);
  const double c13 = std::cos(u1 + u3), s13 = std::sin(u1 + u3);

  R[0][0] = c1 * c13 + s1 * c2 * s13;
  R[0][1] = c1 * s13 - s1 * c2 * c13;
  R[0][2] = -s1 * s2;
  R[1][0] = s1 * c13 - c1 * c2 * s13;
  R[1][1] = c1 * c2 * c13 + s1 * s13;
  R[1][2] = c1 * s2;
  R[2][0] = s2 * s13;
  R[2][1] = -s2 * c13;
  R[2][2] = c2;
  return 0;
}

int tilt3d_inverse_matrix(const double TILT[3], double R[3][3])
{
  const int status = tilt3d_matrix(TILT, R);
  if (status == 0) tilt3d_mat_transpose(R);
  return status;
}

int tilt3d_angles(double TILT[3], double R[3][3])
{
  if (!TILT || !R) {
    fprintf(stderr, "ERROR: tilt3d_angles: NULL pointer\n");
    return -1;
  }
  const double det = tilt3d_determinante(R);
  if (det < tilt3d_eps) {
    fprintf(stderr, "ERROR: tilt3d_angles: Det(R) = %lg is not positive\n",
            det);
    return -1;
  }
  TILT[0] = -0.5 * tilt3d_pi;
  TILT[1] = 0.0;
  TILT[2] = 0.0;

  /* A scaled rotation matrix becomes a rotation matrix. */
  const double scale = std::pow(det, 0.3333333333333333);
  tilt3d_mat_scale(R, 1.0 / scale);
  if (tilt3d_isnottilt(R) != 0) {
    fprintf(stderr, "ERROR: tilt3d_angles: R is not a rotation matrix\n");
    return -1;
  }

  double tilt1 = first_tilt_angle(R);
  const double tilt2 = second_tilt_angle(R, &tilt1);
  const double tilt3 = third_tilt_angle(R, tilt1, tilt2);

  double tilt0 = tilt1 - 0.5 * tilt3d_pi;
  if (tilt0 > tilt3d_pi)
    tilt0 -= 2.0 * tilt3d_pi;
  else if (tilt0 <= -tilt3d_pi)
    tilt0 += 2.0 * tilt3d_pi;
  TILT[0] = tilt0;
  TILT[1] = tilt2;
  TILT[2] = tilt3;
  return 0;
}
