# SPDX-License-Identifier: BSD-3-Clause
"""A long prediction lets other Python threads run, shares a fitted
estimator with other threads, and stops on Ctrl-C."""
import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest
from conftest import blobs

from vendral import ParzenClassifier


def slow_problem(patterns):
    """Squared sinc with p = 3: some 0.35 ms a pattern on one thread."""
    random = np.random.default_rng(0)
    X = random.uniform(size=(20000, 16))
    y = random.integers(0, 10, 20000)
    clf = ParzenClassifier(kernel="squared_sinc", p=3.0, algorithm="brute").fit(X, y)
    return clf, random.uniform(size=(patterns, 16))


def test_other_threads_run_during_a_long_prediction():
    clf, patterns = slow_problem(1500)
    ticks = []
    done = threading.Event()

    def tick():
        while not done.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.005)

    ticker = threading.Thread(target=tick)
    ticker.start()
    started = time.monotonic()
    try:
        clf.predict(patterns)
    finally:
        done.set()
        ticker.join()
    took = time.monotonic() - started
    assert took > 0.3, "the prediction was too short to tell"
    during = [t for t in ticks if started <= t <= started + took]
    gaps = np.diff(during)
    # With the GIL held through the call the ticker would stop for all of it.
    assert len(during) >= 10
    assert gaps.max() < 0.5 * took


def test_many_threads_predict_on_one_estimator_at_once():
    X, y, X_test, _ = blobs(seed=3, n_train=2000, n_test=3000, d=4, classes=4)
    clf = ParzenClassifier(bandwidth=0.05, algorithm="auto").fit(X, y)
    slices = [X_test[k::6] for k in range(6)]
    expected_labels = [clf.predict(part) for part in slices]
    expected_proba = [clf.predict_proba(part) for part in slices]
    results = {}
    barrier = threading.Barrier(6)

    def work(k):
        barrier.wait()
        for _ in range(3):
            labels = clf.predict(slices[k])
            proba = clf.predict_proba(slices[k])
        results[k] = (labels, proba)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(6)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=60)
    assert sorted(results) == list(range(6))
    for k in range(6):
        np.testing.assert_array_equal(results[k][0], expected_labels[k])
        np.testing.assert_array_equal(results[k][1], expected_proba[k])


CHILD = textwrap.dedent("""
    import signal, sys, time
    import numpy as np
    sys.path.insert(0, {tests!r})
    # A shell that starts us in the background ignores SIGINT, and Python
    # then keeps it ignored: ask for KeyboardInterrupt explicitly.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    from test_threads import slow_problem
    clf, patterns = slow_problem({patterns})
    expected = clf.{method}(patterns[:20])
    print("started", flush=True)
    started = time.monotonic()
    try:
        clf.{method}(patterns)
        print("finished", flush=True)
    except KeyboardInterrupt:
        print("interrupted", flush=True)
    again = clf.{method}(patterns[:20])
    print("again", "same" if np.array_equal(again, expected) else "different", flush=True)
""")


@pytest.mark.parametrize("method, patterns", [("predict", 200000), ("predict_proba", 20000)])
def test_ctrl_c_stops_a_long_prediction(method, patterns):
    script = CHILD.format(tests=os.path.dirname(__file__), method=method, patterns=patterns)
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True)
    try:
        assert child.stdout.readline() == "started\n"
        time.sleep(0.5)  # well inside the call, which would take a minute or more
        child.send_signal(signal.SIGINT)
        sent = time.monotonic()
        line = child.stdout.readline()
        stopped_after = time.monotonic() - sent
        assert line == "interrupted\n"
        assert stopped_after < 2.0
        assert child.stdout.readline() == "again same\n"
        assert child.wait(timeout=30) == 0, child.stderr.read()
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
