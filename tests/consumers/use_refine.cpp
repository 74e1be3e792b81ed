/*
 * use_refine -- a program of another project that links the refinement
 * library: it prints the name of the distance parameter ("dis") and the
 * number of refined parameters of the default modes (5).
 */
#include <vabo/vabo_base.h>

#include <cstdio>

int main()
{
  int refined = 0;
  for (int p = 0; p < NParams; p++) refined += VaboParamDefaultArray()[p] != 0;
  std::printf("%s %d\n", VaboParamNamesArray()[Dis], refined);
  return 0;
}
