# SPDX-License-Identifier: BSD-3-Clause
"""ParzenClassifier against a brute-force reference, and its conventions:
labels of every kind, the unknown label, parameters, validation, pickling."""
import pickle
import re

import numpy as np
import pytest
from conftest import blobs, reference_scores
from sklearn.exceptions import NotFittedError

from vendral import ParzenClassifier, _engine

KERNELS = ["gaussian", "squared_sinc", "laplacian", "cauchy"]


def strict_winners(scores, margin=1e-9):
    """Rows whose top score leads the next by more than rounding could blur, and their winner."""
    ordered = np.sort(scores, axis=1)
    clear = ordered[:, -1] - ordered[:, -2] > margin * ordered[:, -1]
    return clear, scores.argmax(axis=1)


@pytest.mark.parametrize("kernel", KERNELS)
@pytest.mark.parametrize("p", [1.0, 1.5, 2.0, 3.0, np.inf])
def test_labels_and_scores_are_the_reference_ones(kernel, p):
    X, y, X_test, _ = blobs(seed=1, d=4, classes=4)
    clf = ParzenClassifier(kernel=kernel, bandwidth=0.2, p=p).fit(X, y)
    expected = reference_scores(X, y, 4, X_test, kernel, p, 0.2)
    clear, winner = strict_winners(expected)
    assert clear.sum() > 150
    predicted = clf.predict(X_test)
    np.testing.assert_array_equal(predicted[clear], winner[clear])
    proba = clf.predict_proba(X_test)
    np.testing.assert_allclose(proba, expected / expected.sum(axis=1, keepdims=True), rtol=1e-9, atol=1e-300)


def test_fit_returns_self_and_sets_fitted_attributes(data):
    X, y, X_test, _ = data
    clf = ParzenClassifier()
    assert clf.fit(X, y) is clf
    np.testing.assert_array_equal(clf.classes_, [0, 1, 2])
    assert clf.n_features_in_ == 3
    assert clf.unknown_label_ == -1
    assert not hasattr(clf, "feature_names_in_")


@pytest.mark.parametrize("kernel", ["gaussian", "laplacian", "cauchy"])
def test_labels_do_not_depend_on_the_algorithm(kernel):
    # Enough samples and patterns, and few enough columns, for the tree.
    X, y, X_test, _ = blobs(seed=2, n_train=3000, n_test=500, d=3, classes=5, spread=0.15)
    X_test = np.vstack([X_test, [[100.0, 0.0, 0.0], [-50.0, 50.0, 0.0]]])  # far off: every value underflows
    p = 1.0 if kernel == "laplacian" else 2.0
    labels = {algorithm: ParzenClassifier(kernel=kernel, bandwidth=0.01, p=p, algorithm=algorithm)
              .fit(X, y).predict(X_test) for algorithm in ("auto", "brute", "tree")}
    np.testing.assert_array_equal(labels["auto"], labels["brute"])
    np.testing.assert_array_equal(labels["tree"], labels["brute"])
    assert (labels["brute"][-2:] == -1).all() == (kernel != "cauchy")


def test_training_samples_are_copied(data):
    X, y, X_test, _ = data
    X = X.copy()
    clf = ParzenClassifier(bandwidth=0.3).fit(X, y)
    before = clf.predict_proba(X_test)
    X[:] = 0
    np.testing.assert_array_equal(clf.predict_proba(X_test), before)


# ---- labels of every kind

def test_integer_labels_map_back_in_sorted_order(data):
    X, y, X_test, _ = data
    names = np.array([10, -5, 7])
    clf = ParzenClassifier(bandwidth=0.3).fit(X, names[y])
    np.testing.assert_array_equal(clf.classes_, [-5, 7, 10])
    reference = ParzenClassifier(bandwidth=0.3).fit(X, y)
    np.testing.assert_array_equal(clf.predict(X_test), names[reference.predict(X_test)])
    # The columns of the scores follow classes_.
    np.testing.assert_array_equal(clf._model.scores(X_test), reference._model.scores(X_test)[:, [1, 2, 0]])
    np.testing.assert_allclose(clf.predict_proba(X_test), reference.predict_proba(X_test)[:, [1, 2, 0]], rtol=1e-15)


def test_string_labels(data):
    X, y, X_test, _ = data
    names = np.array(["setosa", "versicolor", "virginica"])
    clf = ParzenClassifier(bandwidth=0.3).fit(X, names[y])
    reference = ParzenClassifier(bandwidth=0.3).fit(X, y).predict(X_test)
    predicted = clf.predict(X_test)
    assert predicted.dtype == object
    assert list(predicted) == list(names[reference])
    assert clf.unknown_label_ is None


def test_float_labels_give_float_predictions(data):
    X, y, X_test, _ = data
    clf = ParzenClassifier(bandwidth=0.3).fit(X, y.astype(float) + 1)
    predicted = clf.predict(X_test)
    assert predicted.dtype == np.float64
    assert clf.unknown_label_ == -1.0


def test_continuous_labels_are_refused(data):
    X, _, _, _ = data
    with pytest.raises(ValueError, match=re.escape("Unknown label type: 'continuous'")):
        ParzenClassifier().fit(X, np.linspace(0, 1, len(X)))


def tie_data():
    """Two samples of two classes, and patterns: the midpoint (a tie), one far off (all
    kernel values underflow: a tie), and one near each sample."""
    X = np.array([[0.0, 0.0], [2.0, 0.0]])
    patterns = np.array([[1.0, 0.0], [1e3, 1e3], [0.1, 0.0], [1.9, 0.0]])
    return X, patterns


@pytest.mark.parametrize("labels, unknown_label, expected, dtype", [
    ([3, 5], None, [-1, -1, 3, 5], np.int64),
    ([-1, 5], None, [-2, -2, -1, 5], np.int64),
    ([np.uint8(3), np.uint8(5)], None, [-1, -1, 3, 5], np.int16),
    ([1.0, 2.0], None, [-1.0, -1.0, 1.0, 2.0], np.float64),
    ([-1.0, 2.0], None, [-2.0, -2.0, -1.0, 2.0], np.float64),
    ([3, 5], 0, [0, 0, 3, 5], np.int64),
    ([3, 5], np.nan, [np.nan, np.nan, 3, 5], np.float64),
    (["a", "b"], None, [None, None, "a", "b"], object),
    (["a", "b"], "unknown", ["unknown", "unknown", "a", "b"], np.dtype("<U7")),
    (np.array(["a", "b"], dtype=object), "?", ["?", "?", "a", "b"], object),
    ([False, True], None, [None, None, False, True], object),
])
def test_unknown_label_where_no_class_wins(labels, unknown_label, expected, dtype):
    X, patterns = tie_data()
    y = np.array(labels)
    clf = ParzenClassifier(unknown_label=unknown_label).fit(X, y)
    predicted = clf.predict(patterns)
    assert predicted.dtype == dtype
    np.testing.assert_array_equal(predicted, np.array(expected, dtype=dtype))


@pytest.mark.parametrize("labels, unknown_label, message", [
    ([3, 5], "unknown", "unknown_label must be a real number (or None) when y holds numbers; got 'unknown'"),
    ([3, 5], True, "unknown_label must be a real number (or None) when y holds numbers; got True"),
    (["a", "b"], -1, "unknown_label must be a string (or None) when y holds strings; got -1"),
    ([3, 5], 5, "unknown_label=5 is also a class label in y; choose another value"),
    ([3.0, 5.0], 5, "unknown_label=5 is also a class label in y; choose another value"),
    (["a", "b"], "b", "unknown_label='b' is also a class label in y; choose another value"),
])
def test_unknown_label_that_cannot_stand_beside_the_labels(labels, unknown_label, message):
    X, _ = tie_data()
    with pytest.raises(ValueError, match="^" + re.escape(message) + "$"):
        ParzenClassifier(unknown_label=unknown_label).fit(X, labels)


def test_one_class_wins_everywhere():
    X, patterns = tie_data()
    clf = ParzenClassifier().fit(X, ["only", "only"])
    assert list(clf.predict(patterns)) == ["only"] * 4
    np.testing.assert_array_equal(clf.predict_proba(patterns), np.ones((4, 1)))


# ---- predict_proba

def test_probabilities_agree_with_predict(data):
    X, y, X_test, _ = data
    clf = ParzenClassifier(kernel="laplacian", bandwidth=0.05, p=1.0).fit(X, y)
    proba = clf.predict_proba(X_test)
    predicted = clf.predict(X_test)
    np.testing.assert_allclose(proba.sum(axis=1), 1.0)
    decided = predicted != -1
    np.testing.assert_array_equal(proba[decided].argmax(axis=1), predicted[decided])
    assert np.isfinite(proba).all()


def test_probabilities_where_no_score_is_above_zero_or_a_score_is_nan():
    X, patterns = tie_data()
    clf = ParzenClassifier().fit(X, [0, 1])
    proba = clf.predict_proba(patterns)
    np.testing.assert_array_equal(proba[:2], 0.5)  # the tie and the underflow
    assert proba[2, 0] > 0.5 and proba[3, 1] > 0.5
    # Squared sinc at an infinite distance (the squares overflow) is NaN.
    far = np.array([[1e300, 1e300], [0.0, 0.0]])
    clf = ParzenClassifier(kernel="squared_sinc").fit(far, [0, 1])
    assert clf.predict([[-1e300, -1e300]])[0] == -1
    np.testing.assert_array_equal(clf.predict_proba([[-1e300, -1e300]]), [[0.5, 0.5]])


class _Scores:
    """Stands in for the engine's model with scores chosen by the test."""

    def __init__(self, scores):
        self._scores = np.asarray(scores, dtype=float)

    def scores(self, X, **settings):
        return self._scores.copy()


def test_a_winner_stays_strictly_ahead_after_normalising():
    # Find two neighbouring doubles a > b and a third score c so that the
    # division by the total makes a and b equal.
    random = np.random.default_rng(0)
    for _ in range(100000):
        b = random.uniform(0.5, 1.0)
        a = np.nextafter(b, 2.0)
        c = random.uniform(0.0, 0.5)
        total = c + b + a
        if a / total == b / total:
            break
    else:
        pytest.fail("no scores found that rounding makes equal")
    clf = ParzenClassifier().fit([[0.0], [1.0], [2.0]], [0, 1, 2])
    clf._model = _Scores([[c, b, a]])
    proba = clf.predict_proba([[0.0]])
    assert proba[0, 2] > proba[0, 1]
    assert proba[0, 1] == np.nextafter(a / total, 0.0)
    assert proba.argmax() == 2


# ---- parameters

@pytest.mark.parametrize("params, message", [
    ({"kernel": "epanechnikov"},
     "kernel must be one of 'gaussian', 'squared_sinc', 'laplacian', 'cauchy'; got 'epanechnikov'"),
    ({"bandwidth": 0}, "bandwidth must be a number above 0; got 0"),
    ({"bandwidth": -1.0}, "bandwidth must be a number above 0; got -1.0"),
    ({"bandwidth": float("nan")}, "bandwidth must be a number above 0; got nan"),
    ({"bandwidth": "1"}, "bandwidth must be a number above 0; got '1'"),
    ({"p": 0.5}, "p must be a number at least 1, or float('inf'); got 0.5"),
    ({"p": float("nan")}, "p must be a number at least 1, or float('inf'); got nan"),
    ({"algorithm": "kd_tree"}, "algorithm must be one of 'auto', 'brute', 'tree'; got 'kd_tree'"),
    ({"n_jobs": 0}, "n_jobs must be None or a nonzero integer; got 0"),
    ({"n_jobs": 1.5}, "n_jobs must be None or a nonzero integer; got 1.5"),
    ({"verbose": -1}, "verbose must be an integer at least 0; got -1"),
])
def test_bad_parameters_are_refused_at_fit(data, params, message):
    X, y, _, _ = data
    with pytest.raises(ValueError, match="^" + re.escape(message) + "$"):
        ParzenClassifier(**params).fit(X, y)


def test_bad_prediction_settings_are_refused_at_predict(data):
    X, y, X_test, _ = data
    clf = ParzenClassifier().fit(X, y)
    clf.set_params(algorithm="ball_tree")
    with pytest.raises(ValueError, match=re.escape("algorithm must be one of 'auto', 'brute', 'tree'; got 'ball_tree'")):
        clf.predict(X_test)


def test_n_jobs_as_scikit_learn_means_it(data, monkeypatch):
    X, y, X_test, _ = data
    monkeypatch.setattr("os.cpu_count", lambda: 8)
    threads = {n_jobs: ParzenClassifier(n_jobs=n_jobs)._threads() for n_jobs in (None, 1, 3, -1, -2, -8, -20)}
    assert threads == {None: 1, 1: 1, 3: 3, -1: 0, -2: 7, -8: 1, -20: 1}
    one = ParzenClassifier(bandwidth=0.1).fit(X, y)
    every = ParzenClassifier(bandwidth=0.1, n_jobs=-1).fit(X, y)
    np.testing.assert_array_equal(one.predict(X_test), every.predict(X_test))
    np.testing.assert_array_equal(one.predict_proba(X_test), every.predict_proba(X_test))


@pytest.mark.parametrize("width", ["1", "2", "4", "8", "0", ""])
def test_vector_width_from_the_environment(data, monkeypatch, width):
    X, y, X_test, _ = data
    clf = ParzenClassifier(bandwidth=0.1).fit(X, y)
    widest = clf.predict(X_test)
    monkeypatch.setenv("VENDRAL_VECTOR_WIDTH", width)
    np.testing.assert_array_equal(clf.predict(X_test), widest)


def test_bad_vector_width_is_refused(data, monkeypatch):
    X, y, X_test, _ = data
    clf = ParzenClassifier().fit(X, y)
    monkeypatch.setenv("VENDRAL_VECTOR_WIDTH", "3")
    with pytest.raises(ValueError, match="^" + re.escape("VENDRAL_VECTOR_WIDTH must be one of 0, 1, 2, 4, 8; got '3'") + "$"):
        clf.predict(X_test)


def test_verbose_reports_on_stderr(data, capfd):
    X, y, X_test, _ = data
    clf = ParzenClassifier(verbose=2).fit(X, y)
    quiet = ParzenClassifier().fit(X, y)
    np.testing.assert_array_equal(clf.predict(X_test), quiet.predict(X_test))
    assert re.fullmatch(r"vendral: classified 200 patterns in \d+\.\d{3} s\n", capfd.readouterr().err)
    clf.predict_proba(X_test)
    assert re.fullmatch(r"vendral: scored 200 patterns in \d+\.\d{3} s\n", capfd.readouterr().err)
    clf.set_params(verbose=1)  # a short prediction says nothing
    clf.predict(X_test)
    assert capfd.readouterr().err == ""


def test_progress_lines_as_the_patterns_are_classified(data, capfd):
    X, y, X_test, _ = data
    model = ParzenClassifier().fit(X, y)._model
    model.classify(X_test, verbose=1, block_rows=50, progress_interval=0.0)
    *progress, last = capfd.readouterr().err.splitlines()
    assert progress, "no progress line"
    for line in progress:
        assert re.fullmatch(r"vendral: classified \d+ of 200 patterns \(\d+%\), \d+\.\d s", line), line
    assert re.fullmatch(r"vendral: classified 200 patterns in \d+\.\d{3} s", last)


# ---- validation

def test_not_fitted(data):
    _, _, X_test, y_test = data
    clf = ParzenClassifier()
    message = ("This ParzenClassifier instance is not fitted yet. Call 'fit' with appropriate arguments "
               "before using this estimator.")
    for method in (clf.predict, clf.predict_proba, lambda X: clf.score(X, y_test)):
        with pytest.raises(NotFittedError, match="^" + re.escape(message) + "$"):
            method(X_test)


@pytest.mark.parametrize("value, message", [
    (np.nan, "Input X contains NaN."),
    (np.inf, "Input X contains infinity or a value too large for dtype('float64')."),
])
def test_non_finite_input_is_refused(data, value, message):
    X, y, X_test, _ = data
    bad = X.copy()
    bad[3, 1] = value
    with pytest.raises(ValueError, match=re.escape(message)):
        ParzenClassifier().fit(bad, y)
    clf = ParzenClassifier().fit(X, y)
    bad = X_test.copy()
    bad[0, 0] = value
    for method in (clf.predict, clf.predict_proba):
        with pytest.raises(ValueError, match=re.escape(message)):
            method(bad)


def test_wrong_number_of_features_is_refused(data):
    X, y, X_test, y_test = data
    clf = ParzenClassifier().fit(X, y)
    message = "X has 2 features, but ParzenClassifier is expecting 3 features as input."
    for method in (clf.predict, clf.predict_proba, lambda X: clf.score(X, y_test)):
        with pytest.raises(ValueError, match="^" + re.escape(message) + "$"):
            method(X_test[:, :2])


def test_read_only_and_memory_mapped_input(data, tmp_path):
    X, y, X_test, _ = data
    expected = ParzenClassifier().fit(X, y).predict_proba(X_test)
    stored = {}
    for name, array in (("X", X), ("X_test", X_test)):
        np.save(tmp_path / f"{name}.npy", array)
        stored[name] = np.load(tmp_path / f"{name}.npy", mmap_mode="r")
        assert not stored[name].flags.writeable
    clf = ParzenClassifier().fit(stored["X"], y)
    np.testing.assert_array_equal(clf.predict_proba(stored["X_test"]), expected)
    read_only = X_test.copy()
    read_only.setflags(write=False)
    np.testing.assert_array_equal(clf.predict_proba(read_only), expected)
    # Any layout and type of numbers.
    np.testing.assert_array_equal(clf.predict_proba(np.asfortranarray(X_test)), expected)
    np.testing.assert_array_equal(clf.predict(X_test.astype(np.float32)),
                                  clf.predict(X_test.astype(np.float32).astype(np.float64)))


def test_feature_names_from_a_data_frame(data):
    pandas = pytest.importorskip("pandas")
    X, y, X_test, _ = data
    frame = pandas.DataFrame(X, columns=["length", "width", "depth"])
    clf = ParzenClassifier().fit(frame, pandas.Series(y))
    np.testing.assert_array_equal(clf.feature_names_in_, ["length", "width", "depth"])
    test_frame = pandas.DataFrame(X_test, columns=["length", "width", "depth"])
    np.testing.assert_array_equal(clf.predict(test_frame), ParzenClassifier().fit(X, y).predict(X_test))
    with pytest.raises(ValueError, match="The feature names should match those that were passed during fit."):
        clf.predict(test_frame[["width", "length", "depth"]])


def test_score_counts_unclassified_patterns_as_errors():
    X, patterns = tie_data()
    clf = ParzenClassifier().fit(X, ["a", "b"])
    # The tie and the far pattern are unclassified: two hits of four.
    assert clf.score(patterns, ["a", "a", "a", "b"]) == 0.5
    assert clf.score(patterns, ["a", "a", "a", "b"], sample_weight=[0, 0, 1, 1]) == 1.0
    with pytest.raises(ValueError, match=re.escape("Found input variables with inconsistent numbers of samples: [4, 3]")):
        clf.score(patterns, ["a", "a", "a"])


# ---- pickling

def test_pickling_gives_identical_predictions(data):
    X, y, X_test, _ = data
    clf = ParzenClassifier(kernel="cauchy", bandwidth=0.2, p=3.0, unknown_label=-9).fit(X, np.array([4, 5, 6])[y])
    before = _engine._models_unpickled()
    loaded = pickle.loads(pickle.dumps(clf))
    assert _engine._models_unpickled() == before + 1
    np.testing.assert_array_equal(loaded.predict(X_test), clf.predict(X_test))
    np.testing.assert_array_equal(loaded.predict_proba(X_test), clf.predict_proba(X_test))
    assert loaded.get_params() == clf.get_params()
    assert loaded.n_features_in_ == 3 and loaded.unknown_label_ == -9


# ---- the engine's limits and failures

def test_more_rows_or_columns_than_the_engine_indexes_are_refused():
    many_rows = np.broadcast_to(np.zeros((1, 1)), (2**31, 1))
    many_columns = np.broadcast_to(np.zeros((1, 1)), (1, 2**31))
    rows_message = "vendral: at most 2147483647 training samples are supported, got 2147483648"
    columns_message = "vendral: at most 2147483647 features are supported, got 2147483648"
    with pytest.raises(ValueError, match="^" + re.escape(rows_message) + "$"):
        ParzenClassifier().fit(many_rows, np.broadcast_to(0, (2**31,)))
    with pytest.raises(ValueError, match="^" + re.escape(columns_message) + "$"):
        ParzenClassifier().fit(many_columns, [0])
    with pytest.raises(ValueError, match="^" + re.escape(rows_message) + "$"):
        _engine.Model(many_rows, np.broadcast_to(0.0, (2**31,)), 0, 2.0, 1.0)
    with pytest.raises(ValueError, match="^" + re.escape(columns_message) + "$"):
        _engine.Model(many_columns, [0.0], 0, 2.0, 1.0)
    model = _engine.Model(np.zeros((2, 1)), [0.0, 1.0], 0, 2.0, 1.0)
    with pytest.raises(ValueError, match="^" + re.escape(columns_message) + "$"):
        model.classify(many_columns)


def test_patterns_in_blocks_give_the_same_answers(data):
    X, y, X_test, _ = data
    model = ParzenClassifier(bandwidth=0.1).fit(X, y)._model
    np.testing.assert_array_equal(model.classify(X_test, block_rows=7), model.classify(X_test))
    np.testing.assert_array_equal(model.scores(X_test, block_rows=7), model.scores(X_test))
    assert model.classify(np.zeros((0, 3))).shape == (0,)
    assert model.scores(np.zeros((0, 3))).shape == (0, 3)


@pytest.mark.parametrize("arguments, error, message", [
    ((np.zeros(3), [0.0], 0, 2.0, 1.0), ValueError, "vendral: the training samples must be a 2-d array, got 1 dimension(s)"),
    ((np.zeros((2, 2)), [0.0], 0, 2.0, 1.0), ValueError, "vendral: one label per training sample is needed"),
    ((np.zeros((0, 2)), [], 0, 2.0, 1.0), ValueError, "vendral: at least one training sample and one feature are needed"),
    ((np.zeros((1, 2)), [0.0], 7, 2.0, 1.0), ValueError, "vendral: kernel_type must be 0, 1, 2 or 3, got 7"),
    ((np.zeros((1, 2)), [0.0], 0, 0.5, 1.0), ValueError, "vendral: p must be at least 1, got 0.5"),
    ((np.zeros((1, 2)), [0.0], 0, 2.0, 0.0), ValueError, "vendral: the bandwidth h must be above 0, got 0.0"),
    ((np.zeros((1, 2)), [np.nan], 0, 2.0, 1.0), ValueError,
     "vendral: every label must be finite and within the 32-bit range"),
    ((np.zeros((1, 2)), [3.0], 0, 2.0, 1.0), ValueError, "vendral: the labels must be the class indices 0 .. K-1"),
    ((np.array([["a", "b"]], dtype=object), [0.0], 0, 2.0, 1.0), TypeError,
     "vendral: the training samples must be numbers"),
    ((np.zeros((1, 2)), ["a"], 0, 2.0, 1.0), TypeError, "vendral: the labels must be numbers"),
])
def test_the_engine_layer_refuses_bad_definitions(arguments, error, message):
    with pytest.raises(error, match="^" + re.escape(message) + "$"):
        _engine.Model(*arguments)


def test_the_engine_layer_refuses_bad_patterns():
    model = _engine.Model(np.zeros((2, 3)), [0.0, 1.0], 0, 2.0, 1.0)
    with pytest.raises(ValueError, match="^" + re.escape("vendral: the patterns have 2 features, but the model has 3") + "$"):
        model.classify(np.zeros((4, 2)))
    with pytest.raises(ValueError, match="^" + re.escape("vendral: the patterns must be a 2-d array, got 1 dimension(s)") + "$"):
        model.scores(np.zeros(3))
    with pytest.raises(ValueError, match="^" + re.escape("vendral: vector_width must be 0, 1, 2, 4 or 8") + "$"):
        model.classify(np.zeros((1, 3)), vector_width=3)
    with pytest.raises(ValueError, match="^" + re.escape("vendral: threads must be 0 (every processor) or more") + "$"):
        model.classify(np.zeros((1, 3)), threads=-1)
    with pytest.raises(TypeError, match="^" + re.escape("vendral: the patterns must be numbers") + "$"):
        model.classify(np.array([["a", "b", "c"]], dtype=object))


@pytest.fixture
def refusing():
    """Lets a test have the engine's allocations refused; grants them again after."""
    yield _engine._refuse_allocations_after
    _engine._refuse_allocations_after(-1)


def test_a_refused_allocation_is_a_memory_error(data, refusing):
    X, y, X_test, _ = data
    refusing(0)
    with pytest.raises(MemoryError, match="^" + re.escape("vendral: not enough memory to prepare the model") + "$"):
        ParzenClassifier().fit(X, y)
    refusing(-1)
    clf = ParzenClassifier().fit(X, y)
    refusing(0)  # the first classification packs the samples
    with pytest.raises(MemoryError, match="^" + re.escape("vendral: not enough memory to classify the patterns") + "$"):
        clf.predict(X_test)
    refusing(-1)
    np.testing.assert_array_equal(clf.predict(X_test), ParzenClassifier().fit(X, y).predict(X_test))


def test_every_refused_allocation_of_a_classification_is_a_memory_error(data, refusing):
    X, y, X_test, _ = data
    expected = ParzenClassifier(algorithm="tree", bandwidth=0.05).fit(X, y).predict(X_test)
    failures = 0
    for granted in range(64):
        clf = ParzenClassifier(algorithm="tree", bandwidth=0.05).fit(X, y)
        refusing(granted)
        try:
            predicted = clf.predict(X_test)
        except MemoryError:
            failures += 1
            refusing(-1)
            np.testing.assert_array_equal(clf.predict(X_test), expected)
            continue
        finally:
            refusing(-1)
        np.testing.assert_array_equal(predicted, expected)
        break
    else:
        pytest.fail("the classification still needed more blocks after 64")
    assert failures > 0
