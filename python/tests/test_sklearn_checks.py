# SPDX-License-Identifier: BSD-3-Clause
"""scikit-learn's own checks of an estimator, every one of them."""
from sklearn.utils.estimator_checks import parametrize_with_checks

from vendral import ParzenClassifier


@parametrize_with_checks([
    ParzenClassifier(),
    ParzenClassifier(kernel="laplacian", p=1.0, algorithm="tree"),
    ParzenClassifier(kernel="cauchy", p=float("inf"), n_jobs=-1),
    ParzenClassifier(kernel="squared_sinc", p=3.0),
])
def test_scikit_learn_estimator_checks(estimator, check):
    check(estimator)
