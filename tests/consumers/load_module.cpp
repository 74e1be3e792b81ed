/*
 * load_module MODULE EXPRESSION -- loads MODULE (module_gamma) into a process
 * where the C library's maths is already loaded for everyone, as in a Python
 * interpreter, and prints module_read(EXPRESSION).  Exit 1 when the module
 * cannot be loaded.
 */
#include <dlfcn.h>

#include <cstdio>

int main(int argc, char **argv)
{
  if (argc != 3) return 1;
  if (!dlopen("libm.so.6", RTLD_NOW | RTLD_GLOBAL)) return 1;
  void *module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    std::fprintf(stderr, "load_module: %s\n", dlerror());
    return 1;
  }
  auto read =
      reinterpret_cast<double (*)(const char *)>(dlsym(module, "module_read"));
  if (!read) return 1;
  std::printf("%g\n", read(argv[2]));
  return 0;
}
