#!/usr/bin/env bash
# Installs vendral's Python package into .venv/ (scripts/setup_python.sh) and
# runs its tests. Extra arguments go to pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup_python.sh
.venv/bin/python -m pytest python/tests -q "$@"
