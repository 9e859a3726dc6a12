#!/usr/bin/env bash
# Shows that scripts/check_module_exports.sh refuses modules that export more
# than mexFunction, or not mexFunction, or cannot be read, each with its own
# message. Usage: test_check_module_exports.sh FIXTURE FIXTURE_WITHOUT_ENTRY,
# the two builds of octave/testing/exports_fixture.cpp.
set -uo pipefail
cd "$(dirname "$0")/.."
fixture="$1"
without_entry="$2"
missing="$(dirname "$fixture")/no_such_module.mex"

failed=0
expect_refused() {  # module, expected output
    local output status
    output="$(bash scripts/check_module_exports.sh "$1")"
    status=$?
    if [ "$status" -ne 1 ] || [ "$output" != "$2" ]; then
        printf 'FAIL check_module_exports.sh %s: exit status %d (expected 1)\nexpected:\n%s\ngot:\n%s\n' \
            "$1" "$status" "$2" "$output"
        failed=1
    else
        echo "ok   check_module_exports.sh refuses $1"
    fi
}

expect_refused "$fixture" "FAIL $fixture exports names besides mexFunction: _Z14vendral_leakedi"
expect_refused "$without_entry" "FAIL $without_entry does not export mexFunction
FAIL $without_entry exports names besides mexFunction: _Z14vendral_leakedi"
expect_refused "$missing" "FAIL cannot read the dynamic symbols of $missing"
exit "$failed"
