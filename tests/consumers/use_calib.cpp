/*
 * use_calib -- a program of another project that links the calibration
 * library: the status rule judges a refinement that succeeded with a
 * final deviation above maxdev, and a failed one, as the program would
 * ("65 33").
 */
#include <vabo/vabo_run.h>

#include <cstdio>

int main()
{
  const VaboStatus poor = vabo_status(VaboOptimizeOk, 0.02, VaboDefaultMaxDev);
  const VaboStatus failed = vabo_status(VaboOptimizeSingular, 0.0, 1.0);
  std::printf("%d %d\n", poor.status, failed.status);
  return 0;
}
