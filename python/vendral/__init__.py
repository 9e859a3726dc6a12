# SPDX-License-Identifier: BSD-3-Clause
"""vendral: an exact Parzen-window (kernel) classifier with a scikit-learn
interface; predictions also take Dask arrays."""
from ._classifier import ParzenClassifier
from ._engine import __version__

__all__ = ["ParzenClassifier", "__version__"]
