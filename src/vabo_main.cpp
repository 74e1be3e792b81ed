/*
 * vabo_main.cpp -- the process entry of the program vabo.
 *
 * The whole run is vabo_main (vabo.cpp), which other programs -- the fuzz
 * target of the front end among them -- call in-process; main hands it the
 * argument vector and standard input and returns its exit status.
 */
#include "vabo.h"

#include <cstdio>

int main(int argc, char *argv[]) { return vabo_main(argc, argv, stdin); }
