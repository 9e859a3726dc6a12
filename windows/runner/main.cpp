// MATLAB.EXE for tests: the built-in host, exporting the host operations by
// name as the real host executable does, loads vendral.dll with LoadLibrary
// and runs the module's tests through it.
//
// Usage: MATLAB.EXE path\to\vendral.dll
#include <cstdio>

#include "harness.h"
#include "host/host_api.h"
#include "loaded_module.h"

namespace {

using entry_function = void (*)(int, mxArray *[], int, const mxArray *[]);

HMODULE module_handle = nullptr;
entry_function module_entry = nullptr;

}  // namespace

HMODULE runner::loaded_module() { return module_handle; }

// The built-in host calls mexFunction; here that is the DLL's export.
extern "C" void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
    module_entry(nlhs, plhs, nrhs, prhs);
}

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s MODULE.dll\n", argv[0]);
        return 2;
    }
    module_handle = LoadLibraryA(argv[1]);
    if (module_handle == nullptr) {
        std::fprintf(stderr, "LoadLibrary(%s) failed: error %lu\n", argv[1], GetLastError());
        return 2;
    }
    module_entry = reinterpret_cast<entry_function>(
        reinterpret_cast<void (*)()>(GetProcAddress(module_handle, "mexFunction")));
    if (module_entry == nullptr) {
        std::fprintf(stderr, "%s exports no mexFunction\n", argv[1]);
        return 2;
    }
#if defined(VENDRAL_BUILTIN_HOST_ENDS_CALL_WITH_LONGJMP)
    const char *end_of_call = "longjmp";
#else
    const char *end_of_call = "C++ exception";
#endif
    char loaded_path[MAX_PATH] = "?";
    GetModuleFileNameA(module_handle, loaded_path, sizeof loaded_path);
    std::printf("Testing %s through LoadLibrary (%d-bit; a raise ends the call by %s)\n",
                loaded_path, static_cast<int>(8 * sizeof(void *)), end_of_call);
    const int failed = runner::run_all();
    FreeLibrary(module_handle);
    return failed == 0 ? 0 : 1;
}
