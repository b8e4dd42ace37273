// Opens a shared library with dlopen, as a placer that loads the estimator at
// run time does, and says why when that fails.
#include <cstdio>

#include <dlfcn.h>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: load_library LIBRARY\n");
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    return dlclose(library) == 0 ? 0 : 1;
}
