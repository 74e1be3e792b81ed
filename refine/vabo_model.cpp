/*
 * vabo_model.cpp -- the forward model of the refinement: from a detector
 * pixel to the laboratory vector X, its scattering angle and azimuth, and
 * the analytic derivatives of X and of the angle in every refined parameter.
 *
 * Entry points: rotation_matrix_3d, i2normal_3d, X_vector_3d, DX_matrix_3d,
 * Azimuth_3d, Angle_3d, DAngle_3d and DiffAngle.  Parameters are read from
 * the ordered record (value of parameter p at Par[Index[p]]).  Pure
 * computations apart from the debug output; nothing here knows about least
 * squares.
 */
#include "vabo_base.h"

#include <cmath>
#include <cstdio>

namespace {

/* Number of rows of a derivative column (the three components of X). */
constexpr int kDim = 3;

/* With the vabo switch every entry point names itself on entry. */
void trace(const char *name)
{
  if (VABODebug() & VABO_VABO) printf("%s\n", name);
}

bool showtemp() { return (VABODebug() & VABO_SHOWTEMP) != 0; }

/* The parameters of the model, read from an ordered record. */
struct ModelParams {
  double pix1, pix2, cen1, cen2, dis, rot1, rot2, rot3;
};

ModelParams read_params(const VaboOrdered *Ordered)
{
  const auto value = [Ordered](VaboParam p) {
    return Ordered->Par[Ordered->Index[p]];
  };
  return {value(Pix1), value(Pix2), value(Cen1), value(Cen2),
          value(Dis),  value(Rot1), value(Rot2), value(Rot3)};
}

/* True when parameter p is refined, i.e. its ordered position is below
 * nopt; such a parameter owns the derivative column at that position. */
bool is_refined(const VaboOrdered *Ordered, VaboParam p)
{
  const int j = Ordered->Index[p];
  return j >= 0 && j < NParams && static_cast<size_t>(j) < Ordered->nopt;
}

/* Writes one derivative column (at the ordered position of p). */
void set_column(double *DX, const VaboOrdered *Ordered, VaboParam p,
                double d0, double d1, double d2)
{
  double *column = DX + kDim * Ordered->Index[p];
  column[0] = d0;
  column[1] = d1;
  column[2] = d2;
}

} // namespace

void rotation_matrix_3d(double R[3][3], double rot1, double rot2, double rot3)
{
  trace("rotation_matrix_3d");
  const double c1 = std::cos(rot1), s1 = std::sin(rot1);
  const double c2 = std::cos(rot2), s2 = std::sin(rot2);
  const double c3 = std::cos(rot3), s3 = std::sin(rot3);

  R[0][0] = c2 * c3;
  R[0][1] = c2 * s3;
  R[0][2] = -s2;
  R[1][0] = s1 * s2 * c3 - c1 * s3;
  R[1][1] = c1 * c3 + s1 * s2 * s3;
  R[1][2] = s1 * c2;
  R[2][0] = c1 * s2 * c3 + s1 * s3;
  R[2][1] = c1 * s2 * s3 - s1 * c3;
  R[2][2] = c1 * c2;
}

void i2normal_3d(double *VOut, double pix1, double pix2, double cen1,
                 double cen2, double dis, double i1, double i2)
{
  trace("i2normal_3d");
  if (!VOut) return;
  VOut[0] = (i1 - cen1) * pix1;
  VOut[1] = (i2 - cen2) * pix2;
  VOut[2] = -dis;
}

double *X_vector_3d(double *X, const VaboOrdered *Ordered, double i1,
                    double i2)
{
  trace("X_vector_3d");
  const ModelParams m = read_params(Ordered);

  double Normal[3];
  i2normal_3d(Normal, m.pix1, m.pix2, m.cen1, m.cen2, m.dis, i1, i2);
  if (showtemp()) {
    char label[128];
    snprintf(label, sizeof label, "Normal (i1=%lg, i2=%lg)", i1, i2);
    fprint_vector(stdout, 3, Normal, label);
  }

  double R[3][3];
  rotation_matrix_3d(R, m.rot1, m.rot2, m.rot3);
  if (showtemp()) fprint_matrix_3d(stdout, &R[0][0], "R");

  /* The row-filled array read column-major is the matrix applied to the
   * pixel vector: X[k] = sum_j R[j][k] Normal[j]. */
  vec_mul(X, &R[0][0], Normal, 3);
  return X;
}

void DX_matrix_3d(double *DX, const VaboOrdered *Ordered, double i1,
                  double i2)
{
  trace("DX_matrix_3d");
  const ModelParams m = read_params(Ordered);
  const int *I = Ordered->Index;
  if (showtemp()) {
    printf("pix1=%lg, pix2=%lg, cen1=%lg, cen2=%lg, dis=%lg, rot1=%lg, "
           "rot2=%lg, rot3=%lg\n",
           m.pix1, m.pix2, m.cen1, m.cen2, m.dis, m.rot1, m.rot2, m.rot3);
    printf("IPix1=%d, IPix2=%d, ICen1=%d, ICen2=%d, IDis=%d, IRot1=%d, "
           "IRot2=%d, IRot3=%d\n",
           I[Pix1], I[Pix2], I[Cen1], I[Cen2], I[Dis], I[Rot1], I[Rot2],
           I[Rot3]);
  }

  const double s1 = std::sin(m.rot1), c1 = std::cos(m.rot1);
  const double s2 = std::sin(m.rot2), c2 = std::cos(m.rot2);
  const double s3 = std::sin(m.rot3), c3 = std::cos(m.rot3);
  const double center1 = i1 - m.cen1;
  const double center2 = i2 - m.cen2;
  if (!DX) return;

  /* Partial derivatives of X = Rz(rot3) Ry(rot2) Rx(rot1) Normal. */
  const double dis = m.dis, pix1 = m.pix1, pix2 = m.pix2;
  if (is_refined(Ordered, Pix1))
    set_column(DX, Ordered, Pix1, center1 * c2 * c3, center1 * c2 * s3,
               -center1 * s2);
  if (is_refined(Ordered, Pix2))
    set_column(DX, Ordered, Pix2, center2 * (s1 * s2 * c3 - c1 * s3),
               center2 * (c1 * c3 + s1 * s2 * s3), center2 * s1 * c2);
  if (is_refined(Ordered, Cen1))
    set_column(DX, Ordered, Cen1, -pix1 * c2 * c3, -pix1 * c2 * s3,
               pix1 * s2);
  if (is_refined(Ordered, Cen2))
    set_column(DX, Ordered, Cen2, -pix2 * (s1 * s2 * c3 - c1 * s3),
               -pix2 * (c1 * c3 + s1 * s2 * s3), -pix2 * s1 * c2);
  if (is_refined(Ordered, Dis))
    set_column(DX, Ordered, Dis, -(c1 * s2 * c3 + s1 * s3),
               -(c1 * s2 * s3 - s1 * c3), -c1 * c2);
  if (is_refined(Ordered, Rot1))
    set_column(DX, Ordered, Rot1,
               dis * (s1 * s2 * c3 - c1 * s3) +
                   pix2 * center2 * (c1 * s2 * c3 + s1 * s3),
               dis * (c1 * c3 + s1 * s2 * s3) -
                   pix2 * center2 * (s1 * c3 - c1 * s2 * s3),
               c2 * (pix2 * center2 * c1 + dis * s1));
  if (is_refined(Ordered, Rot2)) {
    const double P = -dis * c1 * c2 + pix2 * center2 * s1 * c2 -
                     pix1 * center1 * s2;
    set_column(DX, Ordered, Rot2, c3 * P, s3 * P,
               -pix1 * center1 * c2 + s2 * (dis * c1 - pix2 * center2 * s1));
  }
  if (is_refined(Ordered, Rot3))
    set_column(DX, Ordered, Rot3,
               -dis * s1 * c3 - pix1 * center1 * c2 * s3 +
                   dis * c1 * s2 * s3 -
                   pix2 * center2 * (c1 * c3 + s1 * s2 * s3),
               pix1 * center1 * c2 * c3 +
                   pix2 * center2 * (s1 * s2 * c3 - c1 * s3) -
                   dis * (s1 * s3 + c1 * s2 * c3),
               0.0);
}

double Azimuth_3d(const double *X)
{
  trace("Azimuth_3d");
  if (std::fabs(X[0]) > 0.0 || std::fabs(X[1]) > 0.0)
    return std::atan2(X[1], X[0]);
  return 0.0;
}

double Angle_3d(const double *X)
{
  trace("Angle_3d");
  return std::atan2(std::sqrt(X[0] * X[0] + X[1] * X[1]), -X[2]);
}

double DAngle_3d(const double *X, const double *DX, int Param)
{
  trace("DAngle_3d");
  if (!X || !DX || Param < 0 || Param >= NParams) return 0.0;
  const double *dX = DX + kDim * Param;

  const double rho = std::sqrt(X[0] * X[0] + X[1] * X[1]);
  if (std::fabs(rho) > 0.0) {
    const double numerator = -X[0] * X[2] * dX[0] + X[0] * X[0] * dX[2] +
                             X[1] * (X[1] * dX[2] - X[2] * dX[1]);
    return numerator / (rho * (X[0] * X[0] + X[1] * X[1] + X[2] * X[2]));
  }
  /* On the beam axis the angle has no derivative; the component along
   * axis 2 stands for it. */
  return -dX[1] / X[2];
}

double DiffAngle(const VaboOrdered *Ordered, double angle, double i1,
                 double i2)
{
  trace("DiffAngle");
  double X[3];
  X_vector_3d(X, Ordered, i1, i2);
  if (showtemp()) fprint_vector(stdout, 3, X, "X");
  return angle - Angle_3d(X);
}
