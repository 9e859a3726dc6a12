// The host operations the module calls, and the size type of the host it is
// built for.
//
// Built as an Octave or current MATLAB module (VENDRAL_USE_HOST_MEX_H, or
// MATLAB_MEX_FILE set by the host's own `mex`), the declarations come from the
// host's mex.h and dimensions are 64-bit `mwSize`. Built anywhere else (the
// built-in host, the legacy Windows DLL) we declare the operations ourselves
// with the MATLAB 5.x signatures, whose dimensions are 32-bit ints. Host size
// types are converted to the module's 32-bit counts in host/ only.
#ifndef VENDRAL_HOST_API_H
#define VENDRAL_HOST_API_H

#include <cstddef>

#if defined(VENDRAL_USE_HOST_MEX_H) || defined(MATLAB_MEX_FILE)

#include <mex.h>

using host_size = mwSize;

// Neither Octave nor a current MATLAB counts operations; host/no_flop_counter.cpp
// supplies the 5.x entry as a no-op so the call site stays the same.
extern "C" void mexAddFlops(int count);

#else

extern "C" {

typedef struct mxArray_tag mxArray;

typedef enum {
    mxUNKNOWN_CLASS = 0,
    mxCELL_CLASS,
    mxSTRUCT_CLASS,
    mxOBJECT_CLASS,
    mxCHAR_CLASS,
    mxSPARSE_CLASS,
    mxDOUBLE_CLASS,
    mxSINGLE_CLASS,
    mxINT8_CLASS,
    mxUINT8_CLASS,
    mxINT16_CLASS,
    mxUINT16_CLASS,
    mxINT32_CLASS,
    mxUINT32_CLASS
} mxClassID;

typedef enum { mxREAL = 0, mxCOMPLEX } mxComplexity;

int mxGetNumberOfDimensions(const mxArray *array);
const int *mxGetDimensions(const mxArray *array);
double *mxGetPr(const mxArray *array);
double mxGetScalar(const mxArray *array);
bool mxIsDouble(const mxArray *array);
bool mxIsSparse(const mxArray *array);
bool mxIsNumeric(const mxArray *array);
bool mxIsLogical(const mxArray *array);
bool mxIsChar(const mxArray *array);
void *mxCalloc(size_t count, size_t size);
void *mxRealloc(void *block, size_t bytes);
void mxFree(void *block);
mxArray *mxCreateNumericArray(int ndims, const int *dims, mxClassID class_id,
                              mxComplexity complexity);
int mexPrintf(const char *format, ...);
void mexErrMsgTxt(const char *message);
void mexWarnMsgTxt(const char *message);
void mexAddFlops(int count);

void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

}  // extern "C"

using host_size = int;

#endif

#if defined(VENDRAL_BUILTIN_HOST)
// Not a 5.x operation: the built-in host also hands out unzeroed blocks, as
// Octave and MATLAB do, filled on request so that its tests show a read
// before a write.
extern "C" void *mxMalloc(size_t bytes);
#endif

namespace vendral {

// A block its caller writes whole before reading any of it, so it need not be
// zeroed. The 5.x host has no mxMalloc, and refuses to load a DLL that imports
// a name it lacks: there the block comes zeroed.
inline void *host_block_to_write(size_t bytes) {
#if defined(VENDRAL_USE_HOST_MEX_H) || defined(MATLAB_MEX_FILE) || defined(VENDRAL_BUILTIN_HOST)
    return mxMalloc(bytes);
#else
    return mxCalloc(bytes, 1);
#endif
}

}  // namespace vendral

#endif  // VENDRAL_HOST_API_H
