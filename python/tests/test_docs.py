# SPDX-License-Identifier: BSD-3-Clause
"""What users read and run: every Python example of python/README.md and README.md (the
Dask one against a scheduler and workers started as the README starts them),
the example script, and the quick run of the comparison with scikit-learn."""
import os
import re
import shlex
import socket
import subprocess
import sys
import time
from pathlib import Path

import pytest

import vendral

TOP = Path(__file__).resolve().parents[2]
README = "\n".join((TOP / name).read_text() for name in ("python/README.md", "README.md"))
BLOCKS = re.findall(r"```python\n(.*?)```", README, re.S)
SHELL_BLOCKS = re.findall(r"```sh\n(.*?)```", README, re.S)
BY_HAND = "tcp://127.0.0.1:8786"
SITE = "/path/to/vendral/.venv/lib/python3.11/site-packages"


def run_script(tmp_path, text, name, interpreter=sys.executable, timeout=180):
    script = tmp_path / name
    script.write_text(text)
    return subprocess.run([interpreter, str(script)], capture_output=True, text=True, timeout=timeout,
                          cwd=tmp_path)


def test_the_readme_has_its_examples():
    assert len(BLOCKS) == 7
    assert sum(BY_HAND in block for block in BLOCKS) == 1
    assert sum(SITE in block for block in BLOCKS) == 1


@pytest.mark.parametrize("index", [k for k, block in enumerate(BLOCKS) if BY_HAND not in block])
def test_readme_example(tmp_path, index):
    block = BLOCKS[index]
    interpreter = sys.executable
    if SITE in block:
        # The notebook without the .venv's kernel: Debian's own Python,
        # reaching the package through its path.
        block = block.replace(SITE, str(Path(vendral.__file__).resolve().parents[1]))
        interpreter = getattr(sys, "_base_executable", sys.executable)
    result = run_script(tmp_path, block, f"readme_{index}.py", interpreter)
    assert result.returncode == 0, result.stderr


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def test_readme_dask_with_a_scheduler_and_workers_started_by_hand(tmp_path):
    commands = [line for block in SHELL_BLOCKS for line in block.splitlines() if " -m dask " in line]
    assert [shlex.split(line)[3] for line in commands] == ["scheduler", "worker"]
    port = str(free_port())
    started = []
    try:
        for line in commands:
            arguments = shlex.split(line.replace("8786", port))
            assert arguments[0] == ".venv/bin/python"
            arguments[0] = sys.executable
            started.append(subprocess.Popen(arguments, cwd=tmp_path, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL))
        block = next(block for block in BLOCKS if BY_HAND in block).replace("8786", port)
        result = run_script(tmp_path, block, "readme_by_hand.py", timeout=180)
        assert result.returncode == 0, result.stderr
        assert re.fullmatch(r"\[(\s*\d+)+\]\n", result.stdout)
    finally:
        for process in reversed(started):
            process.terminate()
        for process in reversed(started):
            try:
                process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def test_iris_example(tmp_path):
    result = subprocess.run([sys.executable, str(TOP / "python" / "examples" / "iris_example.py")],
                            capture_output=True, text=True, timeout=120, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert re.fullmatch(r"bandwidth chosen by 5-fold cross-validation: [0-9.]+", lines[0])
    accuracy = float(re.fullmatch(r"accuracy on 45 held-out flowers: ([0-9.]+)", lines[1]).group(1))
    assert accuracy > 0.9
    assert lines[2] == "unclassified: 0"
    assert len(lines) == 6


def test_quick_comparison_with_scikit_learn(tmp_path):
    result = subprocess.run([sys.executable, str(TOP / "bench" / "python_compare.py"), "--quick"],
                            capture_output=True, text=True, timeout=300, cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr
    for name in ("W1", "W2", "W3", "W4", "W5a", "W5b", "iris", "wine", "breast cancer", "digits"):
        row = next(line for line in result.stdout.splitlines() if line.startswith(f"| {name} |"))
        # Labels against the brute force: every one the same but where its top is tied.
        same, tied, differ = (int(n) for n in re.search(r"\| (\d+), (\d+), (\d+)(?: \(first \d+\))? \|", row).groups())
        assert differ <= tied, row
    assert "FAILED" not in result.stdout
    assert re.search(r"^W5b fitted, predict at P = 500: .* \(same labels\); at P = 5000: ", result.stdout, re.M)


def test_version_is_the_projects():
    project = re.search(r"project\(vendral VERSION ([0-9.]+)", (TOP / "CMakeLists.txt").read_text()).group(1)
    assert vendral.__version__ == project


def test_docstring_examples():
    import doctest

    import vendral._classifier

    failures, tried = doctest.testmod(vendral._classifier)
    assert tried > 0 and failures == 0
