# SPDX-License-Identifier: BSD-3-Clause
"""Shared data for vendral's Python tests."""
import numpy as np
import pytest
from scipy.spatial.distance import cdist


def blobs(seed=0, n_train=300, n_test=200, d=3, classes=3, spread=0.3):
    """Training and test samples around `classes` centres in [0, 1]^d, labels 0..classes-1."""
    random = np.random.default_rng(seed)
    centres = random.uniform(0, 1, (classes, d))
    y = random.integers(0, classes, n_train)
    X = centres[y] + random.normal(0, spread, (n_train, d))
    y_test = random.integers(0, classes, n_test)
    X_test = centres[y_test] + random.normal(0, spread, (n_test, d))
    return X, y, X_test, y_test


def reference_scores(X, y_index, n_classes, patterns, kernel, p, h):
    """The class sums of kernel values, by brute force with SciPy."""
    if p == 1:
        distances = cdist(patterns, X, "cityblock")
    elif p == np.inf:
        distances = cdist(patterns, X, "chebyshev")
    else:
        distances = cdist(patterns, X, "minkowski", p=p)
    u = distances / h
    with np.errstate(invalid="ignore", divide="ignore"):
        if kernel == "gaussian":
            values = np.exp(-u * u / 2)
        elif kernel == "laplacian":
            values = np.exp(-u)
        elif kernel == "cauchy":
            values = 1 / (1 + u * u)
        else:
            v = distances / (2 * h)
            values = np.where(v == 0, 1.0, (np.sin(v) / np.where(v == 0, 1, v)) ** 2)
    indicator = np.zeros((len(X), n_classes))
    indicator[np.arange(len(X)), y_index] = 1
    return values @ indicator


@pytest.fixture
def data():
    return blobs()
