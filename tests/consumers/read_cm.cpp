/*
 * read_cm -- a program of another project that reads a number with a unit:
 * it prints the value of "11_cm" in metres (0.11).  check_consumers.sh
 * builds it against the installed vabo package.
 */
#include <vabo/numio.h>

#include <cstdio>

int main()
{
  int errval = 0;
  double metres = num_str2double("11_cm", nullptr, &errval);
  if (errval != 0) {
    char message[128];
    std::fprintf(stderr, "read_cm: %s\n",
                 num_errval2str(message, sizeof message, errval));
    return 1;
  }
  std::printf("%g\n", metres);
  return 0;
}
