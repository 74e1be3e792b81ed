/*
 * vabo_model.cpp -- the forward model of the refinement: from a detector
 * pixel to the laboratory vector X, its scattering angle and azimuth, and
 * the analytic derivatives of X and of the angle in every refined parameter.
 *
 * Entry points: rotation_matrix_3d, i2normal_3d, X_vector_3d, DX_matrix_3d,
 * Azimuth_3d, Angle_3d, DAngle_3d and DiffAngle, each for one point; and
 * vabo_geometry_init and vabo_geometry_block (vabo_geometry.h), the same
 * model with its parameter-only work done once for many points.
 * Parameters are read from the ordered record (value of parameter p at
 * Par[Index[p]]).  Pure computations apart from the debug output; nothing
 * here knows about least squares.
 */
#include "vabo_base.h"
#include "vabo_geometry.h"
#include "vabo_internal.h"

#include <cmath>
#include <cstdio>

namespace {

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
void set_column(double *DX, const VaboOrdered *Ordered, VaboParam p, double d0,
                double d1, double d2)
{
  double *column = DX + kVaboDim * Ordered->Index[p];
  column[0] = d0;
  column[1] = d1;
  column[2] = d2;
}

} // namespace

void rotation_matrix_3d(double R[3][3], double rot1, double rot2, double rot3)
{
  vabo_trace("rotation_matrix_3d");
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
  vabo_trace("i2normal_3d");
  if (!VOut) return;
  VOut[0] = (i1 - cen1) * pix1;
  VOut[1] = (i2 - cen2) * pix2;
  VOut[2] = -dis;
}

double *X_vector_3d(double *X, const VaboOrdered *Ordered, double i1, double i2)
{
  vabo_trace("X_vector_3d");
  const ModelParams m = read_params(Ordered);

  double Normal[kVaboDim];
  i2normal_3d(Normal, m.pix1, m.pix2, m.cen1, m.cen2, m.dis, i1, i2);
  if (vabo_showtemp()) {
    char label[128];
    snprintf(label, sizeof label, "Normal (i1=%lg, i2=%lg)", i1, i2);
    fprint_vector(stdout, kVaboDim, Normal, label);
  }

  double R[kVaboDim][kVaboDim];
  rotation_matrix_3d(R, m.rot1, m.rot2, m.rot3);
  if (vabo_showtemp()) fprint_matrix_3d(stdout, &R[0][0], "R");

  /* The row-filled array read column-major is the matrix applied to the
   * pixel vector: X[k] = sum_j R[j][k] Normal[j]. */
  vec_mul(X, &R[0][0], Normal, kVaboDim);
  return X;
}

void DX_matrix_3d(double *DX, const VaboOrdered *Ordered, double i1, double i2)
{
  vabo_trace("DX_matrix_3d");
  const ModelParams m = read_params(Ordered);
  const int *I = Ordered->Index;
  if (vabo_showtemp()) {
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
    set_column(DX, Ordered, Cen1, -pix1 * c2 * c3, -pix1 * c2 * s3, pix1 * s2);
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
    const double P =
        -dis * c1 * c2 + pix2 * center2 * s1 * c2 - pix1 * center1 * s2;
    set_column(DX, Ordered, Rot2, c3 * P, s3 * P,
               -pix1 * center1 * c2 + s2 * (dis * c1 - pix2 * center2 * s1));
  }
  if (is_refined(Ordered, Rot3))
    set_column(DX, Ordered, Rot3,
               -dis * s1 * c3 - pix1 * center1 * c2 * s3 + dis * c1 * s2 * s3 -
                   pix2 * center2 * (c1 * c3 + s1 * s2 * s3),
               pix1 * center1 * c2 * c3 +
                   pix2 * center2 * (s1 * s2 * c3 - c1 * s3) -
                   dis * (s1 * s3 + c1 * s2 * c3),
               0.0);
}

double Azimuth_3d(const double *X)
{
  vabo_trace("Azimuth_3d");
  if (std::fabs(X[0]) > 0.0 || std::fabs(X[1]) > 0.0)
    return std::atan2(X[1], X[0]);
  return 0.0;
}

double Angle_3d(const double *X)
{
  vabo_trace("Angle_3d");
  return std::atan2(std::sqrt(X[0] * X[0] + X[1] * X[1]), -X[2]);
}

double DAngle_3d(const double *X, const double *DX, int Param)
{
  vabo_trace("DAngle_3d");
  if (!X || !DX || Param < 0 || Param >= NParams) return 0.0;
  const double *dX = DX + kVaboDim * Param;

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

double DiffAngle(const VaboOrdered *Ordered, double angle, double i1, double i2)
{
  vabo_trace("DiffAngle");
  double X[kVaboDim];
  X_vector_3d(X, Ordered, i1, i2);
  if (vabo_showtemp()) fprint_vector(stdout, kVaboDim, X, "X");
  return angle - Angle_3d(X);
}

/* ----------------------------------------------------------------------
 * The model at one parameter set.  Every expression below is one of
 * DX_matrix_3d's (or X_vector_3d's, Angle_3d's, DAngle_3d's) with its
 * pixel-independent operands computed in advance: the same operations in
 * the same order, so the same bits.
 * -------------------------------------------------------------------- */

void vabo_geometry_init(VaboGeometry *g, const VaboOrdered *Ordered)
{
  const ModelParams m = read_params(Ordered);
  g->pix1 = m.pix1;
  g->pix2 = m.pix2;
  g->cen1 = m.cen1;
  g->cen2 = m.cen2;
  g->dis = m.dis;
  rotation_matrix_3d(g->R, m.rot1, m.rot2, m.rot3);

  const double s1 = std::sin(m.rot1), c1 = std::cos(m.rot1);
  const double s2 = std::sin(m.rot2), c2 = std::cos(m.rot2);
  const double s3 = std::sin(m.rot3), c3 = std::cos(m.rot3);
  g->s1 = s1;
  g->c1 = c1;
  g->s2 = s2;
  g->c2 = c2;
  g->s3 = s3;
  g->c3 = c3;

  g->nopt = 0;
  for (int p = Pix1; p < NParams; ++p)
    if (is_refined(Ordered, static_cast<VaboParam>(p))) {
      g->Refined[Ordered->Index[p]] = static_cast<VaboParam>(p);
      ++g->nopt;
    }

  const double dis = m.dis, pix1 = m.pix1, pix2 = m.pix2;
  g->k_s1s2c3_c1s3 = s1 * s2 * c3 - c1 * s3;
  g->k_c1c3_s1s2s3 = c1 * c3 + s1 * s2 * s3;
  g->k_c1s2c3_s1s3 = c1 * s2 * c3 + s1 * s3;
  g->k_s1c3_c1s2s3 = s1 * c3 - c1 * s2 * s3;
  g->k_s1s3_c1s2c3 = s1 * s3 + c1 * s2 * c3;
  g->dcen1[0] = -pix1 * c2 * c3;
  g->dcen1[1] = -pix1 * c2 * s3;
  g->dcen1[2] = pix1 * s2;
  g->dcen2[0] = -pix2 * g->k_s1s2c3_c1s3;
  g->dcen2[1] = -pix2 * g->k_c1c3_s1s2s3;
  g->dcen2[2] = -pix2 * s1 * c2;
  g->ddis[0] = -g->k_c1s2c3_s1s3;
  g->ddis[1] = -(c1 * s2 * s3 - s1 * c3);
  g->ddis[2] = -c1 * c2;
  g->dis_k_s1s2c3_c1s3 = dis * g->k_s1s2c3_c1s3;
  g->dis_k_c1c3_s1s2s3 = dis * g->k_c1c3_s1s2s3;
  g->dis_s1 = dis * s1;
  g->dis_c1 = dis * c1;
  g->mdis_c1_c2 = -dis * c1 * c2;
  g->mdis_s1_c3 = -dis * s1 * c3;
  g->dis_c1_s2_s3 = dis * c1 * s2 * s3;
  g->dis_k_s1s3_c1s2c3 = dis * g->k_s1s3_c1s2c3;
}

namespace {

constexpr size_t kBlock = VABO_GEOMETRY_BLOCK;

/* What DAngle_3d takes from X, for any column dX, for each point of a
 * block: one array per factor, so that the loops over a block vectorise.
 * OnAxis lists the points where rho is 0, for which DAngle_3d takes its
 * other branch. */
struct AngleFactors {
  double x0x2[kBlock];        /* -X[0] * X[2] */
  double x0x0[kBlock];        /* X[0] * X[0] */
  double x1[kBlock];          /* X[1] */
  double x2[kBlock];          /* X[2] */
  double rho[kBlock];         /* sqrt(X[0]^2 + X[1]^2) */
  double denominator[kBlock]; /* rho * (X[0]^2 + X[1]^2 + X[2]^2) */
  size_t OnAxis[kBlock];
  size_t nOnAxis;
};

/* out[k] = DAngle_3d of the derivative column that column(k, dX) writes,
 * for every point k of the block: first by the branch for points off the
 * axis, for all points alike (so that the loop has no jump), then by the
 * other branch for the points on the axis. */
template <typename Column>
void fill_dangle(double *out, const AngleFactors &f, Column column)
{
  for (size_t k = 0; k < kBlock; ++k) {
    double dX[kVaboDim];
    column(k, dX);
    out[k] = (f.x0x2[k] * dX[0] + f.x0x0[k] * dX[2] +
              f.x1[k] * (f.x1[k] * dX[2] - f.x2[k] * dX[1])) /
             f.denominator[k];
  }
  for (size_t n = 0; n < f.nOnAxis; ++n) {
    const size_t k = f.OnAxis[n];
    double dX[kVaboDim];
    column(k, dX);
    out[k] = -dX[1] / f.x2[k];
  }
}

} // namespace

void vabo_geometry_block(const VaboGeometry *g, size_t count, const double *i1,
                         const double *i2, double *angle, double *dangle)
{
  if (count > kBlock) count = kBlock;

  /* X_vector_3d: the normal vector, then vec_mul's sums from 0; the
   * argument of Angle_3d's (and DAngle_3d's) square root.  Points past
   * count (a last, partial block) get zeros and a denominator of 1: the
   * loops over the derivative columns run over the whole block, and their
   * results there are not used. */
  double center1[kBlock], center2[kBlock];
  AngleFactors f;
  f.nOnAxis = 0;
  for (size_t k = count; k < kBlock; ++k) {
    center1[k] = center2[k] = 0.0;
    f.x0x2[k] = f.x0x0[k] = f.x1[k] = f.x2[k] = f.rho[k] = 0.0;
    f.denominator[k] = 1.0;
  }
  const double cen1 = g->cen1, cen2 = g->cen2, pix1 = g->pix1, pix2 = g->pix2;
  const double normal2 = -g->dis;
  const double(&R)[kVaboDim][kVaboDim] = g->R;
  for (size_t k = 0; k < count; ++k) {
    center1[k] = i1[k] - cen1;
    center2[k] = i2[k] - cen2;
    const double normal0 = center1[k] * pix1, normal1 = center2[k] * pix2;
    double X[kVaboDim];
#pragma GCC unroll 3
    for (int c = 0; c < kVaboDim; ++c) {
      double x = 0.0;
      x += R[0][c] * normal0;
      x += R[1][c] * normal1;
      x += R[2][c] * normal2;
      X[c] = x;
    }
    const double rho = std::sqrt(X[0] * X[0] + X[1] * X[1]);
    f.x0x2[k] = -X[0] * X[2];
    f.x0x0[k] = X[0] * X[0];
    f.x1[k] = X[1];
    f.x2[k] = X[2];
    f.rho[k] = rho;
    f.denominator[k] = rho * (X[0] * X[0] + X[1] * X[1] + X[2] * X[2]);
    if (!(std::fabs(rho) > 0.0)) f.OnAxis[f.nOnAxis++] = k;
  }
  for (size_t k = 0; k < count; ++k) angle[k] = std::atan2(f.rho[k], -f.x2[k]);
  if (!dangle) return;

  /* The columns of DX_matrix_3d, one refined parameter at a time; what
   * they take from the geometry is copied first, so that writing out[]
   * cannot be taken to change it. */
  const VaboGeometry gc = *g;
  const double s1 = gc.s1, c1 = gc.c1, s2 = gc.s2, c2 = gc.c2, s3 = gc.s3,
               c3 = gc.c3;
  for (size_t j = 0; j < gc.nopt; ++j) {
    double *out = dangle + j * kBlock;
    switch (gc.Refined[j]) {
    case Pix1:
      fill_dangle(out, f, [&](size_t k, double *dX) {
        const double center1_c2 = center1[k] * c2;
        dX[0] = center1_c2 * c3;
        dX[1] = center1_c2 * s3;
        dX[2] = -center1[k] * s2;
      });
      break;
    case Pix2:
      fill_dangle(out, f, [&](size_t k, double *dX) {
        dX[0] = center2[k] * gc.k_s1s2c3_c1s3;
        dX[1] = center2[k] * gc.k_c1c3_s1s2s3;
        dX[2] = center2[k] * s1 * c2;
      });
      break;
    case Cen1:
    case Cen2:
    case Dis: {
      const double *d = gc.Refined[j] == Cen1   ? gc.dcen1
                        : gc.Refined[j] == Cen2 ? gc.dcen2
                                                : gc.ddis;
      const double d0 = d[0], d1 = d[1], d2 = d[2];
      fill_dangle(out, f, [&](size_t, double *dX) {
        dX[0] = d0;
        dX[1] = d1;
        dX[2] = d2;
      });
      break;
    }
    case Rot1:
      fill_dangle(out, f, [&](size_t k, double *dX) {
        const double pc2 = pix2 * center2[k];
        dX[0] = gc.dis_k_s1s2c3_c1s3 + pc2 * gc.k_c1s2c3_s1s3;
        dX[1] = gc.dis_k_c1c3_s1s2s3 - pc2 * gc.k_s1c3_c1s2s3;
        dX[2] = c2 * (pc2 * c1 + gc.dis_s1);
      });
      break;
    case Rot2:
      fill_dangle(out, f, [&](size_t k, double *dX) {
        const double pc2s1 = pix2 * center2[k] * s1;
        const double P = gc.mdis_c1_c2 + pc2s1 * c2 - pix1 * center1[k] * s2;
        dX[0] = c3 * P;
        dX[1] = s3 * P;
        dX[2] = -pix1 * center1[k] * c2 + s2 * (gc.dis_c1 - pc2s1);
      });
      break;
    default: /* Rot3 */
      fill_dangle(out, f, [&](size_t k, double *dX) {
        const double pc1c2 = pix1 * center1[k] * c2;
        const double pc2 = pix2 * center2[k];
        dX[0] = gc.mdis_s1_c3 - pc1c2 * s3 + gc.dis_c1_s2_s3 -
                pc2 * gc.k_c1c3_s1s2s3;
        dX[1] = pc1c2 * c3 + pc2 * gc.k_s1s2c3_c1s3 - gc.dis_k_s1s3_c1s2c3;
        dX[2] = 0.0;
      });
      break;
    }
  }
}
