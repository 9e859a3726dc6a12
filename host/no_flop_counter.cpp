// Octave and current MATLAB hosts keep no floating-point operation counter.
#include "host_api.h"

extern "C" void mexAddFlops(int /*count*/) {}
