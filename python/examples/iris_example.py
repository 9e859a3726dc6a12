#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""The Iris flowers with vendral's ParzenClassifier: standardised features,
the bandwidth chosen by cross-validation on the training flowers, then the
accuracy and class probabilities on flowers held out.

    .venv/bin/python python/examples/iris_example.py
"""
import numpy as np
from sklearn.datasets import load_iris
from sklearn.model_selection import GridSearchCV, train_test_split
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import StandardScaler

from vendral import ParzenClassifier

iris = load_iris()
flower_names = iris.target_names[iris.target]  # string labels: 'setosa', ...
X_train, X_test, y_train, y_test = train_test_split(iris.data, flower_names, test_size=0.3,
                                                    stratify=flower_names, random_state=0)

pipeline = make_pipeline(StandardScaler(), ParzenClassifier(kernel="gaussian"))
search = GridSearchCV(pipeline, {"parzenclassifier__bandwidth": [0.05, 0.1, 0.2, 0.3, 0.5, 0.8, 1.2]}, cv=5)
search.fit(X_train, y_train)
bandwidth = search.best_params_["parzenclassifier__bandwidth"]
print(f"bandwidth chosen by 5-fold cross-validation: {bandwidth}")

model = search.best_estimator_
predicted = model.predict(X_test)
print(f"accuracy on {len(X_test)} held-out flowers: {np.mean(predicted == y_test):.3f}")
unclassified = np.sum(predicted == None)  # noqa: E711 (no class won: the unknown label)
print(f"unclassified: {unclassified}")

proba = model.predict_proba(X_test[:3])
classes = model.named_steps["parzenclassifier"].classes_
for row, label in zip(proba, y_test[:3]):
    shares = ", ".join(f"{name} {share:.2f}" for name, share in zip(classes, row))
    print(f"{label:>10}: {shares}")
