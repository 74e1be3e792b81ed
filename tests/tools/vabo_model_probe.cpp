/*
 * vabo_model_probe -- evaluates the detector model for the cross-checks.
 *
 * Reads lines "pix1 pix2 cen1 cen2 dis rot1 rot2 rot3 i1 i2" from standard
 * input and prints, one line each, the model's scattering angle TwoTheta
 * (rad) of pixel (i1, i2) with %.17g.  A line that does not hold ten numbers
 * ends the program with a message on standard error and status 1.
 */
#include "vabo_base.h"

#include <cstdio>

int main()
{
  char line[1024];
  unsigned long number = 0;
  while (fgets(line, sizeof line, stdin)) {
    ++number;
    double par[NParams], i1, i2;
    if (sscanf(line, "%lf %lf %lf %lf %lf %lf %lf %lf %lf %lf", &par[Pix1],
               &par[Pix2], &par[Cen1], &par[Cen2], &par[Dis], &par[Rot1],
               &par[Rot2], &par[Rot3], &i1, &i2) != 10) {
      fprintf(stderr, "vabo_model_probe: line %lu: expected ten numbers\n",
              number);
      return 1;
    }
    VaboOrdered ordered;
    order_Par(&ordered, par, nullptr);
    double X[3];
    printf("%.17g\n", Angle_3d(X_vector_3d(X, &ordered, i1, i2)));
  }
  return 0;
}
