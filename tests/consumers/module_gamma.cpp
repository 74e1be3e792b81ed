/*
 * module_gamma -- a shared module (a plugin, as a Python extension is one)
 * linked with the expression library: module_read returns the value of an
 * expression, or -1 when it cannot be read.
 */
#include <vabo/numio.h>

extern "C" double module_read(const char *text)
{
  int errval = 0;
  double value = num_str2double(text, nullptr, &errval);
  return errval == 0 ? value : -1;
}
