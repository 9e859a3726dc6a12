// The module under test, loaded from its DLL the way the host loads it.
#ifndef VENDRAL_WINDOWS_RUNNER_LOADED_MODULE_H
#define VENDRAL_WINDOWS_RUNNER_LOADED_MODULE_H

#include <windows.h>

namespace runner {

HMODULE loaded_module();

}  // namespace runner

#endif  // VENDRAL_WINDOWS_RUNNER_LOADED_MODULE_H
