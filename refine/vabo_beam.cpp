/*
 * vabo_beam.cpp -- the geometry seen from the beam: where the primary beam
 * hits the detector, how far that point is from the sample, and the detector
 * tilt as angles, with their one-line text form (BeamPar).
 *
 * Entry points: Vabo2Image_X3 (pixel hit by a direction), VaboBeamCenter,
 * VaboBeamDistance, VaboTilt, VaboBeamValues (all of them with their
 * availability) and sprint_beam_parameters.  Input is a parameter vector in
 * natural order.  Each quantity fails on its own; the text shows "-" for a
 * quantity that cannot be computed.
 */
#include "vabo_base.h"
#include "vabo_internal.h"
#include "tilt3d.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

/* Number of fields of the BeamPar text: pix1, pix2, beam centre (2), beam
 * distance, tilt (3) -- the same count as the parameter vector. */
constexpr int kBeamFields = NParams;

} // namespace

int Vabo2Image_X3(double *I, const double *X, const double *Par)
{
  if (!I || !X || !Par) return -1;
  const double c1 = std::cos(Par[Rot1]), s1 = std::sin(Par[Rot1]);
  const double c2 = std::cos(Par[Rot2]), s2 = std::sin(Par[Rot2]);
  const double c3 = std::cos(Par[Rot3]), s3 = std::sin(Par[Rot3]);

  /* The components of X in the detector frame: D along the detector
   * normal, q1 and q2 along the two pixel axes. */
  const double t = c3 * X[0] + s3 * X[1];
  const double a = c2 * X[2] + s2 * t;
  const double D = s1 * (s3 * X[0] - c3 * X[1]) + c1 * a;
  const double q1 = c2 * t - s2 * X[2];
  const double q2 = s1 * a + c1 * (c3 * X[1] - s3 * X[0]);

  const double pix1 = Par[Pix1], pix2 = Par[Pix2], dis = Par[Dis];
  if (!(std::fabs(pix1 * D) > 0.0 && std::fabs(pix2 * D) > 0.0)) return -1;
  I[0] = Par[Cen1] - dis * q1 / (pix1 * D);
  I[1] = Par[Cen2] - dis * q2 / (pix2 * D);
  return 0;
}

int VaboBeamCenter(double *I, const double *Par)
{
  vabo_trace("VaboBeamCenter");
  const double beam[kVaboDim] = {0.0, 0.0, -1.0};
  return Vabo2Image_X3(I, beam, Par);
}

int VaboBeamDistance(double *pdistance, const double *Par)
{
  vabo_trace("VaboBeamDistance");
  double I[2];
  const int status = VaboBeamCenter(I, Par);
  if (status != 0) return status;
  if (vabo_showtemp()) printf("BeamCenter=(%lg,%lg)\n", I[0], I[1]);

  VaboOrdered Ordered;
  order_Par(&Ordered, Par, nullptr);
  if (vabo_showtemp()) fprint_ordered(stdout, &Ordered);

  double X[kVaboDim];
  X_vector_3d(X, &Ordered, I[0], I[1]);
  if (vabo_showtemp()) fprint_vector(stdout, kVaboDim, X, "X");

  const double distance = -X[2];
  if (vabo_showtemp()) printf("BeamDistance=%lg\n", distance);
  if (pdistance) *pdistance = distance;
  return 0;
}

int VaboTilt(double *tilt, const double *Par)
{
  vabo_trace("VaboTilt");
  if (!tilt || !Par) return -1;
  double R[kVaboDim][kVaboDim];
  rotation_matrix_3d(R, Par[Rot1], Par[Rot2], Par[Rot3]);
  if (vabo_showtemp()) fprint_matrix_3d(stdout, &R[0][0], "R");

  if (tilt3d_angles(tilt, R) != 0) return -1;
  if (vabo_showtemp()) fprint_vector(stdout, 3, tilt, "tilt");
  return 0;
}

void VaboBeamValues(double Beam[NParams], bool Has[NParams], const double *Par)
{
  std::fill(Beam, Beam + NParams, 0.0);
  std::fill(Has, Has + NParams, false);
  if (!Par) return;
  Beam[0] = Par[Pix1];
  Beam[1] = Par[Pix2];
  Has[0] = Has[1] = true;
  if (VaboBeamCenter(&Beam[2], Par) == 0) Has[2] = Has[3] = true;
  if (VaboBeamDistance(&Beam[4], Par) == 0) Has[4] = true;
  if (VaboTilt(&Beam[5], Par) == 0) Has[5] = Has[6] = Has[7] = true;
  for (int k = 2; k < NParams; ++k)
    if (!Has[k]) Beam[k] = 0.0;
}

char *sprint_beam_parameters(char *buffer, size_t bufsiz, const double *Par)
{
  if (!buffer || bufsiz == 0) return buffer;
  double ParBeam[kBeamFields];
  bool IParBeam[kBeamFields];
  VaboBeamValues(ParBeam, IParBeam, Par);

  VaboTextAppender text(buffer, bufsiz);
  for (int k = 0; k < kBeamFields; ++k) {
    if (IParBeam[k])
      text.append("%12lg ", ParBeam[k]);
    else
      text.append("%12s ", "-");
  }
  return text.finish();
}
