#!/usr/bin/env bash
# Shows that scripts/check_windows_dll.py refuses a DLL importing from
# MATLAB.EXE a name the 5.x host does not export: the DLL built as
# BUILD_DIR/undeclared_import/vendral.dll imports mxMalloc besides the host
# operations. Usage: test_check_windows_dll.sh BUILD_DIR i386|amd64
set -euo pipefail
cd "$(dirname "$0")/.."
dll="$1/undeclared_import/vendral.dll"
machine="$2"

status=0
output="$(python3 scripts/check_windows_dll.py "$dll" --machine "$machine")" || status=$?
host_imports="mexAddFlops, mexErrMsgTxt, mexPrintf, mexWarnMsgTxt, mxCalloc, mxCreateNumericArray"
host_imports+=", mxFree, mxGetDimensions, mxGetNumberOfDimensions, mxGetPr, mxGetScalar, mxIsChar"
host_imports+=", mxIsDouble, mxIsLogical, mxIsNumeric, mxIsSparse, mxMalloc, mxRealloc"
expected="FAIL imports from MATLAB.EXE only operations of the 5.x host; not among them: ['mxMalloc']
FAIL imports from MATLAB.EXE by name: $host_imports; not declared in host/host_api.h ['mxMalloc']
structure: 9 passed, 2 failed"
got="$(grep -E '^(FAIL|structure:)' <<<"$output" || true)"

if [ "$status" -ne 1 ] || [ "$got" != "$expected" ]; then
    echo "FAIL check_windows_dll.py on $dll: exit status $status (expected 1)"
    echo "expected:"
    echo "$expected"
    echo "got:"
    echo "$output"
    exit 1
fi
echo "ok   check_windows_dll.py refuses $dll (imports mxMalloc)"
