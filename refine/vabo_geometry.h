/*
 * vabo_geometry -- the detector model at one parameter set, for evaluating
 * it at many points (internal to the refinement module, not part of its
 * interface).
 *
 * X_vector_3d and DX_matrix_3d rebuild the rotation and its sines and
 * cosines for every point.  VaboGeometry holds them, and every part of the
 * derivative columns that depends on the parameters alone, computed once;
 * vabo_geometry_block then gives for a block of pixels exactly the bits of
 * X_vector_3d, Angle_3d and DAngle_3d over DX_matrix_3d: the same floating-
 * point operations in the same order, only those that do not depend on the
 * pixel done in advance, and each stage run over the whole block (so that
 * the loops stay tight around the call of atan2).  Nothing here prints or
 * traces, so callers use it only while the vabo and showtemp switches are
 * off (vabo_per_step_model).  Implemented in vabo_model.cpp; the sums over
 * all points that the refinement and the covariance take with it
 * (vabo_point_sums) in vabo_refine.cpp.
 */
#ifndef VABO_GEOMETRY_H
#define VABO_GEOMETRY_H

#include "vabo_base.h"

#include <cstddef>

/* The model at one parameter set.  Refined[j] is the parameter at ordered
 * position j for j < nopt (refined parameters only); the constants are the
 * pixel-independent subexpressions of the derivative table, each named by
 * the expression it stands for. */
typedef struct VaboGeometry {
  double pix1, pix2, cen1, cen2, dis; /* parameters, m and pixels */
  double R[3][3];                     /* rotation_matrix_3d, by rows */
  double s1, c1, s2, c2, s3, c3;      /* sines and cosines of rot1..rot3 */
  size_t nopt;                        /* number of refined parameters */
  VaboParam Refined[NParams];         /* parameter at ordered position j */
  /* s1*s2*c3 - c1*s3, c1*c3 + s1*s2*s3, c1*s2*c3 + s1*s3,
   * s1*c3 - c1*s2*s3, s1*s3 + c1*s2*c3 */
  double k_s1s2c3_c1s3, k_c1c3_s1s2s3, k_c1s2c3_s1s3, k_s1c3_c1s2s3,
      k_s1s3_c1s2c3;
  double dcen1[3], dcen2[3], ddis[3]; /* the constant columns */
  double dis_k_s1s2c3_c1s3;           /* dis*(s1*s2*c3 - c1*s3) */
  double dis_k_c1c3_s1s2s3;           /* dis*(c1*c3 + s1*s2*s3) */
  double dis_s1, dis_c1;              /* dis*s1, dis*c1 */
  double mdis_c1_c2;                  /* -dis*c1*c2 */
  double mdis_s1_c3;                  /* -dis*s1*c3 */
  double dis_c1_s2_s3;                /* dis*c1*s2*s3 */
  double dis_k_s1s3_c1s2c3;           /* dis*(s1*s3 + c1*s2*c3) */
} VaboGeometry;

/* Fills geometry from the ordered record (parameters at Par[Index[p]],
 * refined when Index[p] < nopt). */
void vabo_geometry_init(VaboGeometry *geometry, const VaboOrdered *Ordered);

/* Points evaluated by one call of vabo_geometry_block: enough that the
 * loops inside run long, few enough that their arrays stay in the first-
 * level cache. */
inline constexpr size_t VABO_GEOMETRY_BLOCK = 64;

/* For the pixels (i1[k], i2[k]), k < count (at most VABO_GEOMETRY_BLOCK):
 * angle[k] = Angle_3d of X_vector_3d; when dangle is not null,
 * dangle[j * VABO_GEOMETRY_BLOCK + k] for j < nopt is DAngle_3d(X, DX, j)
 * over the columns DX_matrix_3d writes.  The same bits as those functions
 * give, point by point. */
void vabo_geometry_block(const VaboGeometry *geometry, size_t count,
                         const double *i1, const double *i2, double *angle,
                         double *dangle);

/* Whether the model may do its parameter-only work once per parameter set
 * (VaboGeometry): not while the vabo trace or the showtemp printouts are
 * on, which show that work point by point. */
bool vabo_per_step_model(void);

/* The sums the refinement takes over all points at one parameter set, each
 * added up in point order from 0 as its own function adds it: the weighted
 * squares of the residuals B (scalar_product_weight), their extremes
 * (scalar_absmin, scalar_absmax), and the normal equations A^T W A and
 * A^T W B (transpose_mul_weight), nopt x nopt column-major and nopt (with
 * a refined wavelength, one row and column more: vabo_refine.cpp). */
typedef struct VaboPointSums {
  double squares;
  double mindev;
  double maxdev;
  double ATA[VABO_MAX_UNKNOWNS * VABO_MAX_UNKNOWNS];
  double ATB[VABO_MAX_UNKNOWNS];
} VaboPointSums;

/* One walk of the model over all points at the parameters of Ordered (its
 * refined parameters at positions 0 ... nopt-1, as order_Par makes them),
 * with the geometry computed once: fills *sums.  Residuals and Jacobian
 * rows are used as they come and not kept. */
void vabo_point_sums(VaboPointSums *sums, const VaboOrdered *Ordered,
                     size_t ndata, const double *Angle, const double *I1,
                     const double *I2, const double *Weight);

#endif
