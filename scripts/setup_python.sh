#!/usr/bin/env bash
# Installs what vendral's Python package needs, when it is missing (Debian
# packages only, through scripts/setup.sh), builds the package and installs it
# into the virtual environment .venv/ at the top of the source tree, which
# also sees Debian's packages. Needs no network once the packages are there.
# Afterwards: .venv/bin/python -c "import vendral"
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh python3-dev python3-venv python3-pip python3-setuptools python3-wheel \
  python3-pybind11 pybind11-dev python3-numpy python3-scipy python3-sklearn python3-pandas \
  python3-dask python3-distributed python3-pytest

# A usable environment over Debian's Python is kept; anything else is made anew.
if ! { [ -x .venv/bin/python ] && grep -q '^include-system-site-packages = true' .venv/pyvenv.cfg 2>/dev/null &&
  .venv/bin/python -c 'import sklearn' 2>/dev/null; }; then
  /usr/bin/python3 -m venv --clear --system-site-packages .venv
fi
# --no-index: what the package needs comes from Debian, never from an index.
.venv/bin/python -m pip install --quiet --no-build-isolation --no-index .
.venv/bin/python -c 'import vendral; print("vendral", vendral.__version__, "installed in .venv")'
