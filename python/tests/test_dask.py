# SPDX-License-Identifier: BSD-3-Clause
"""Predictions on Dask arrays, on a real cluster of worker processes."""
import os
import re
import signal
import time

import numpy as np
import pytest
from conftest import blobs

from vendral import ParzenClassifier, _engine

da = pytest.importorskip("dask.array")
dask = pytest.importorskip("dask")
distributed = pytest.importorskip("distributed")


def local_cluster():
    return distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1, host="127.0.0.1",
                                    dashboard_address=":0", silence_logs=50)


# A lambda, so that it is pickled by value: the workers cannot import this
# test module, nor pickle the extension's own function.
models_unpickled = lambda: _engine._models_unpickled()  # noqa: E731


@pytest.fixture(scope="module")
def client():
    with local_cluster() as cluster, distributed.Client(cluster) as client:
        yield client


@pytest.fixture(scope="module")
def fitted():
    X, y, X_test, _ = blobs(seed=4, n_train=1000, n_test=1000, d=3, classes=4, spread=0.2)
    names = np.array(["north", "east", "south", "west"])
    return ParzenClassifier(bandwidth=0.02).fit(X, names[y]), X_test


def test_predict_gives_a_lazy_array_chunked_by_rows(fitted):
    clf, X_test = fitted
    X = da.from_array(X_test, chunks=(128, 2))  # chunked across the columns too
    labels = clf.predict(X)
    assert isinstance(labels, da.Array)
    assert labels.dtype == object and labels.shape == (1000,)
    assert labels.chunks == (X.chunks[0],)
    assert isinstance(labels._meta, np.ndarray) and labels._meta.dtype == object and labels._meta.ndim == 1
    proba = clf.predict_proba(X)
    assert proba.dtype == np.float64 and proba.chunks == (X.chunks[0], (4,))
    assert isinstance(proba._meta, np.ndarray) and proba._meta.ndim == 2
    # The local schedulers need no pickling.
    np.testing.assert_array_equal(labels.compute(scheduler="sync"), clf.predict(X_test))
    np.testing.assert_array_equal(proba.compute(scheduler="threads"), clf.predict_proba(X_test))
    assert clf.score(X, clf.predict(X_test)) == 1.0


def test_the_graph_holds_the_estimator_once(fitted):
    clf, X_test = fitted
    labels = clf.predict(da.from_array(X_test, chunks=50))
    for graph in (labels.__dask_graph__(), dask.optimize(labels)[0].__dask_graph__()):
        holding = [key for key, task in dict(graph).items() if isinstance(task, ParzenClassifier)]
        assert len(holding) == 1
        assert sum(1 for task in dict(graph).values() if _mentions(task, holding[0])) == 20


def _mentions(task, key):
    if isinstance(task, tuple):
        return any(_mentions(part, key) for part in task)
    return task == key if isinstance(task, (str, tuple)) else False


def test_cluster_labels_equal_the_in_memory_ones(client, fitted):
    clf, X_test = fitted
    X = da.from_array(X_test, chunks=50)
    for predicted, expected in ((clf.predict(X), clf.predict(X_test)),
                                (clf.predict_proba(X), clf.predict_proba(X_test))):
        before = client.run(models_unpickled)
        np.testing.assert_array_equal(client.compute(predicted).result(timeout=60), expected)
        # 20 blocks, but each worker process re-prepared the model at most
        # once, not once a block.
        after = client.run(models_unpickled)
        received = [after[worker] - before[worker] for worker in after]
        assert max(received) == 1 and min(received) >= 0, received


def test_numeric_labels_and_the_unknown_label_on_the_cluster(client):
    X, y, X_test, _ = blobs(seed=5, n_train=500, n_test=400, d=2, classes=3, spread=0.1)
    X_test[::7] += 100.0  # far off: every gaussian value underflows, no class wins
    clf = ParzenClassifier(bandwidth=0.01, unknown_label=-7).fit(X, y * 10)
    labels = client.compute(clf.predict(da.from_array(X_test, chunks=64))).result(timeout=60)
    assert labels.dtype == np.int64
    np.testing.assert_array_equal(labels, clf.predict(X_test))
    assert (labels[::7] == -7).all()


def test_bad_dask_input(client, fitted):
    clf, X_test = fitted
    with pytest.raises(ValueError, match="^" + re.escape(
            "X has 2 features, but ParzenClassifier is expecting 3 features as input.") + "$"):
        clf.predict(da.from_array(X_test[:, :2], chunks=100))
    with pytest.raises(ValueError, match="^" + re.escape("Expected a 2-dimensional Dask array, got 1 dimension(s)") + "$"):
        clf.predict_proba(da.from_array(X_test[:, 0], chunks=100))
    bad = X_test.copy()
    bad[555, 1] = np.nan
    labels = clf.predict(da.from_array(bad, chunks=100))  # lazy: found when that block runs
    with pytest.raises(ValueError, match=re.escape("Input contains NaN.")):
        client.compute(labels).result(timeout=60)


def test_a_killed_worker_does_not_change_the_result():
    random = np.random.default_rng(6)
    X = random.uniform(size=(5000, 16))
    y = random.integers(0, 5, 5000)
    X_test = random.uniform(size=(6000, 16))
    # Squared sinc with p = 3 is slow: some 30 ms a block of 100 patterns.
    clf = ParzenClassifier(kernel="squared_sinc", p=3.0).fit(X, y)
    expected = clf.predict(X_test)
    with local_cluster() as cluster, distributed.Client(cluster) as client:
        pids = client.run(os.getpid)
        future = client.compute(clf.predict(da.from_array(X_test, chunks=100)))
        deadline = time.monotonic() + 30
        while not client.processing() or not any(client.processing().values()):
            assert time.monotonic() < deadline
            time.sleep(0.01)
        time.sleep(0.3)
        assert not future.done()
        os.kill(next(iter(pids.values())), signal.SIGKILL)
        np.testing.assert_array_equal(future.result(timeout=120), expected)
