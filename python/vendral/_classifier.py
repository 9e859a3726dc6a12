# SPDX-License-Identifier: BSD-3-Clause
"""The scikit-learn estimator over vendral's engine."""
import math
import numbers
import os
import sys
import uuid

import numpy as np
from sklearn.base import BaseEstimator, ClassifierMixin
from sklearn.utils import check_array
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import check_consistent_length, check_is_fitted, column_or_1d

from . import _engine

try:  # scikit-learn >= 1.6
    from sklearn.utils.validation import validate_data as _validate_data
except ImportError:  # Debian 12's scikit-learn 1.2: the estimator's own method
    def _validate_data(estimator, X="no_validation", y="no_validation", **check_params):
        return estimator._validate_data(X, y, **check_params)

__all__ = ["ParzenClassifier"]

_KERNELS = {
    "gaussian": _engine.GAUSSIAN,
    "squared_sinc": _engine.SQUARED_SINC,
    "laplacian": _engine.LAPLACIAN,
    "cauchy": _engine.CAUCHY,
}
_ALGORITHMS = {
    "auto": _engine.PRUNE_AUTOMATIC,
    "brute": _engine.PRUNE_NEVER,
    "tree": _engine.PRUNE_ALWAYS,
}
# The engine indexes rows and columns with 32-bit integers.
_LARGEST_INDEX = 2**31 - 1
_VECTOR_WIDTHS = ("0", "1", "2", "4", "8")


def _is_real(value):
    return isinstance(value, numbers.Real) and not isinstance(value, (bool, np.bool_))


def _is_dask_array(X):
    # Dask is optional: a Dask array can only be here if Dask is imported.
    dask_array = sys.modules.get("dask.array")
    return dask_array is not None and isinstance(X, dask_array.Array)


def _check_extent(X):
    """Refuses, before any copy, an array the engine cannot index."""
    shape = getattr(X, "shape", None)
    if shape is None or len(shape) != 2:
        return
    if shape[0] > _LARGEST_INDEX:
        raise ValueError(f"vendral: at most 2147483647 training samples are supported, got {shape[0]}")
    if shape[1] > _LARGEST_INDEX:
        raise ValueError(f"vendral: at most 2147483647 features are supported, got {shape[1]}")


def _vector_width():
    """Doubles per vector: VENDRAL_VECTOR_WIDTH, or 0 for the widest the processor has."""
    width = os.environ.get("VENDRAL_VECTOR_WIDTH", "0").strip() or "0"
    if width not in _VECTOR_WIDTHS:
        raise ValueError(f"VENDRAL_VECTOR_WIDTH must be one of 0, 1, 2, 4, 8; got {width!r}")
    return int(width)


def _label_kind(classes):
    if classes.dtype.kind in "iuf":
        return "numeric"
    if classes.dtype.kind in "US" or (classes.dtype.kind == "O" and all(isinstance(c, str) for c in classes)):
        return "string"
    return "other"


def _is_class(value, classes):
    try:
        return bool(np.any(classes == value))
    except (TypeError, ValueError):
        return False


def _predict_block(block, estimator):
    return estimator._predict_rows(block)


def _proba_block(block, estimator):
    return estimator._proba_rows(block)


def _index_block(block, estimator):
    return estimator._class_indices(estimator._block_rows(block))


class ParzenClassifier(ClassifierMixin, BaseEstimator):
    """Exact Parzen-window (kernel) classifier.

    Each class scores the plain sum of its training samples' kernel values at
    their Minkowski distances from a pattern (no normalising factor, no
    division by the class size); the class with the strictly highest score
    wins. Where the highest score is shared, or a score is NaN, the pattern
    gets ``unknown_label``. Every answer is the one this literal evaluation
    gives; the engine only finds it faster.

    Parameters
    ----------
    kernel : {"gaussian", "squared_sinc", "laplacian", "cauchy"}, default="gaussian"
        The window, with ``x`` the distance and ``u = x / bandwidth``:
        gaussian ``exp(-u**2 / 2)``, squared sinc ``(sin v / v)**2`` with
        ``v = x / (2 * bandwidth)``, laplacian ``exp(-u)``, cauchy
        ``1 / (1 + u**2)``.
    bandwidth : float, default=1.0
        The window width h, above 0.
    p : float, default=2.0
        The Minkowski distance's exponent: at least 1, or ``float("inf")``
        for the largest absolute difference.
    unknown_label : object, default=None
        What :meth:`predict` gives a pattern that no class wins (a tie at the
        top, or a NaN score). ``None`` means -1 for numeric labels (or, where
        -1 is itself a class, one less than the smallest class; NaN for float
        labels where even that is a class) and ``None`` for string and
        boolean labels, whose predictions are then an object array. An
        explicit value must be a real number for numeric labels and a string
        for string labels, and must not be a class label. The value used is
        ``unknown_label_``.
    algorithm : {"auto", "brute", "tree"}, default="auto"
        How the gaussian and laplacian kernels visit the training samples:
        "tree" skips, through a tree of bounding boxes, those too far to
        change the decision; "brute" visits every one; "auto" uses the tree
        where the first patterns show it pays. Labels never depend on it,
        nor do they for the other two kernels, which always go brute force.
    n_jobs : int, default=None
        Threads for a prediction: ``None`` one, ``-1`` every processor,
        ``-2`` every processor but one, and so on; a positive number that
        many.
    verbose : int, default=0
        1 and more: progress lines on stderr for predictions that take more
        than a second; 2 and more: also a line at the end of every one.

    Attributes
    ----------
    classes_ : ndarray of shape (n_classes,)
        The class labels, sorted as :func:`numpy.unique` sorts them.
    unknown_label_ : object
        The label :meth:`predict` gives a pattern no class wins.
    n_features_in_ : int
        Number of features seen during :term:`fit`.
    feature_names_in_ : ndarray of shape (n_features_in_,)
        Names of features seen during :term:`fit`, where ``X`` has feature
        names that are all strings (a pandas data frame).

    Notes
    -----
    The engine indexes rows with 32-bit integers: at most 2**31 - 1 training
    samples and features. Any number of patterns may be predicted; they are
    taken in blocks. A fitted estimator pickles its training samples and
    parameters, and re-prepares the model when loaded.

    Examples
    --------
    >>> from sklearn.datasets import load_iris
    >>> from vendral import ParzenClassifier
    >>> X, y = load_iris(return_X_y=True)
    >>> clf = ParzenClassifier(bandwidth=0.3).fit(X, y)
    >>> clf.predict(X[:3])
    array([0, 0, 0])
    """

    def __init__(self, kernel="gaussian", bandwidth=1.0, p=2.0, unknown_label=None, algorithm="auto", n_jobs=None,
                 verbose=0):
        self.kernel = kernel
        self.bandwidth = bandwidth
        self.p = p
        self.unknown_label = unknown_label
        self.algorithm = algorithm
        self.n_jobs = n_jobs
        self.verbose = verbose

    # ---- parameters

    def _check_params(self):
        if not isinstance(self.kernel, str) or self.kernel not in _KERNELS:
            raise ValueError("kernel must be one of 'gaussian', 'squared_sinc', 'laplacian', 'cauchy'; "
                             f"got {self.kernel!r}")
        if not _is_real(self.bandwidth) or not self.bandwidth > 0:
            raise ValueError(f"bandwidth must be a number above 0; got {self.bandwidth!r}")
        if not _is_real(self.p) or not self.p >= 1:
            raise ValueError(f"p must be a number at least 1, or float('inf'); got {self.p!r}")
        self._check_call_params()

    def _check_call_params(self):
        if not isinstance(self.algorithm, str) or self.algorithm not in _ALGORITHMS:
            raise ValueError(f"algorithm must be one of 'auto', 'brute', 'tree'; got {self.algorithm!r}")
        self._threads()
        if not isinstance(self.verbose, (numbers.Integral, bool)) or self.verbose < 0:
            raise ValueError(f"verbose must be an integer at least 0; got {self.verbose!r}")

    def _threads(self):
        """n_jobs as the engine's thread count (0: every processor)."""
        n_jobs = self.n_jobs
        if n_jobs is None:
            return 1
        if not isinstance(n_jobs, numbers.Integral) or isinstance(n_jobs, (bool, np.bool_)) or n_jobs == 0:
            raise ValueError(f"n_jobs must be None or a nonzero integer; got {n_jobs!r}")
        if n_jobs == -1:
            return 0
        if n_jobs < -1:
            return max(1, (os.cpu_count() or 1) + 1 + int(n_jobs))
        return int(n_jobs)

    def _resolve_unknown_label(self, classes):
        kind = _label_kind(classes)
        label = self.unknown_label
        if label is None:
            if kind != "numeric":
                return None, np.dtype(object)
            label = -1
            if _is_class(label, classes):
                if classes.dtype.kind in "iu":
                    label = int(classes.min()) - 1
                else:
                    label = float(classes.min()) - 1.0
                    if _is_class(label, classes):
                        label = math.nan
        else:
            if kind == "numeric" and not _is_real(label):
                raise ValueError(f"unknown_label must be a real number (or None) when y holds numbers; got {label!r}")
            if kind == "string" and not isinstance(label, str):
                raise ValueError(f"unknown_label must be a string (or None) when y holds strings; got {label!r}")
            if _is_class(label, classes):
                raise ValueError(f"unknown_label={label!r} is also a class label in y; choose another value")
        if kind == "numeric":
            if isinstance(label, numbers.Integral):
                label = int(label)
                dtype = np.result_type(classes.dtype, np.min_scalar_type(label))
            else:
                label = float(label)
                dtype = np.result_type(classes.dtype, np.float64)
            return label, dtype
        if kind == "string" and classes.dtype.kind in "US":
            return label, np.result_type(classes.dtype, np.array(label).dtype)
        return label, np.dtype(object)

    # ---- fitting

    def fit(self, X, y):
        """Prepare the classifier from the training samples.

        Parameters
        ----------
        X : array-like of shape (n_samples, n_features)
            Training samples, finite.
        y : array-like of shape (n_samples,)
            Class labels: integers, floats with whole values or strings, as
            scikit-learn's classifiers accept them.

        Returns
        -------
        self : object
            The fitted estimator.
        """
        self._check_params()
        _check_extent(X)
        X, y = _validate_data(self, X=X, y=y, dtype=np.float64, order="C")
        _check_extent(X)
        check_classification_targets(y)
        classes, indices = np.unique(y, return_inverse=True)
        unknown_label, dtype = self._resolve_unknown_label(classes)
        model = _engine.Model(X, indices.astype(np.float64), _KERNELS[self.kernel], float(self.p),
                              float(self.bandwidth))
        self.classes_ = classes
        self.unknown_label_ = unknown_label
        self._prediction_dtype = dtype
        self._model = model
        return self

    # ---- predicting

    def _call_settings(self):
        self._check_call_params()
        return dict(threads=self._threads(), vector_width=_vector_width(), verbose=int(self.verbose))

    def _rows(self, X):
        """Patterns as a C-ordered float64 array, checked as scikit-learn checks them."""
        return _validate_data(self, X=X, reset=False, dtype=np.float64, order="C")

    def _class_indices(self, X):
        """Index into classes_ of each pattern's winner, -1 where none wins."""
        settings = self._call_settings()
        return self._model.classify(X, prune=_ALGORITHMS[self.algorithm], **settings)

    def _labels_of(self, indices):
        table = np.empty(len(self.classes_) + 1, dtype=self._prediction_dtype)
        table[:-1] = self.classes_
        table[-1] = self.unknown_label_
        return table[indices]  # -1 is the table's last entry: unknown_label_

    def _block_rows(self, X):
        """A Dask block's patterns: checked as a whole array is, but may be empty."""
        X = check_array(X, dtype=np.float64, order="C", ensure_min_samples=0)
        if X.shape[1] != self.n_features_in_:
            raise ValueError(f"X has {X.shape[1]} features, but {type(self).__name__} is expecting "
                             f"{self.n_features_in_} features as input.")
        return X

    def _predict_rows(self, X):
        return self._labels_of(self._class_indices(self._block_rows(X)))

    def _proba_rows(self, X):
        return self._proba_of(self._block_rows(X))

    def predict(self, X):
        """Classify patterns.

        Parameters
        ----------
        X : array-like or dask.array.Array of shape (n_samples, n_features)
            Patterns, finite.

        Returns
        -------
        y : ndarray or dask.array.Array of shape (n_samples,)
            For each pattern the class with the strictly highest score, or
            ``unknown_label_`` where none scores strictly highest. A Dask
            array in gives a lazy Dask array out, chunked as ``X``'s rows.
        """
        check_is_fitted(self)
        if _is_dask_array(X):
            return self._map_dask(X, _predict_block, self._prediction_dtype, ())
        return self._labels_of(self._class_indices(self._rows(X)))

    def predict_proba(self, X):
        """Class scores of patterns, normalised to sum to 1 per pattern.

        Parameters
        ----------
        X : array-like or dask.array.Array of shape (n_samples, n_features)
            Patterns, finite.

        Returns
        -------
        proba : ndarray or dask.array.Array of shape (n_samples, n_classes)
            Each class's sum of kernel values divided by the pattern's total,
            columns in the order of ``classes_``. Where :meth:`predict` gives
            a class, that class's entry is the row's strict maximum (an entry
            that rounding made equal to it is lowered by one unit in the last
            place). A pattern whose scores are all zero (every kernel value
            underflowed) or include a NaN gets ``1 / n_classes`` for every
            class, as no class wins it. With one class, every entry is 1.
        """
        check_is_fitted(self)
        if _is_dask_array(X):
            return self._map_dask(X, _proba_block, np.dtype(np.float64), (len(self.classes_),))
        return self._proba_of(self._rows(X))

    def _proba_of(self, X):
        scores = self._model.scores(X, **self._call_settings())
        n_classes = scores.shape[1]
        if n_classes == 1:
            return np.ones_like(scores)
        with np.errstate(invalid="ignore", divide="ignore"):
            total = scores.sum(axis=1)
            proba = scores / total[:, np.newaxis]
        undecided = ~(total > 0) | np.isnan(scores).any(axis=1)
        proba[undecided] = 1.0 / n_classes
        # Division rounds monotonically, but may make two different scores
        # equal; the strict winner must stay strictly ahead.
        top = scores.max(axis=1)
        strict = ~undecided & ((scores == top[:, np.newaxis]).sum(axis=1) == 1)
        rows = np.flatnonzero(strict)
        if rows.size:
            winners = scores[rows].argmax(axis=1)
            best = proba[rows, winners]
            level = proba[rows] >= best[:, np.newaxis]
            level[np.arange(rows.size), winners] = False
            if level.any():
                lowered = np.nextafter(best, 0.0)
                r, c = np.nonzero(level)
                proba[rows[r], c] = lowered[r]
        return proba

    def score(self, X, y, sample_weight=None):
        """Mean accuracy on the given patterns and labels.

        A pattern that :meth:`predict` leaves unclassified counts as an error.

        Parameters
        ----------
        X : array-like or dask.array.Array of shape (n_samples, n_features)
            Patterns, finite.
        y : array-like of shape (n_samples,)
            Their true labels.
        sample_weight : array-like of shape (n_samples,), default=None
            Weights of the patterns.

        Returns
        -------
        score : float
            The (weighted) fraction of patterns classified correctly.
        """
        check_is_fitted(self)
        if _is_dask_array(X):
            indices = np.asarray(self._map_dask(X, _index_block, np.dtype(np.int32), ()))
        else:
            indices = self._class_indices(self._rows(X))
        y = column_or_1d(y, warn=True)
        check_consistent_length(indices, y)
        lookup = {label: k for k, label in enumerate(self.classes_.tolist())}
        truth = np.fromiter((lookup.get(label, -2) for label in y.tolist()), dtype=np.int64, count=len(y))
        return float(np.average(indices == truth, weights=sample_weight))

    # ---- Dask

    def _map_dask(self, X, block_function, dtype, new_columns):
        if X.ndim != 2:
            raise ValueError(f"Expected a 2-dimensional Dask array, got {X.ndim} dimension(s)")
        if not np.isnan(X.shape[1]) and X.shape[1] != self.n_features_in_:
            raise ValueError(f"X has {X.shape[1]} features, but {type(self).__name__} is expecting "
                             f"{self.n_features_in_} features as input.")
        self._call_settings()  # bad settings fail now, not on the workers
        import dask

        if len(X.chunks[1]) > 1:
            X = X.rechunk({1: -1})
        # One key for the fitted estimator: each worker receives it once
        # and re-prepares the model once, however many blocks it predicts.
        estimator = dask.delayed(self, name="vendral-parzen-" + uuid.uuid4().hex, traverse=False)
        meta = np.empty((0,) + new_columns, dtype=dtype)
        if new_columns:
            return X.map_blocks(block_function, estimator, chunks=(X.chunks[0], new_columns), dtype=dtype, meta=meta)
        return X.map_blocks(block_function, estimator, drop_axis=1, dtype=dtype, meta=meta)

