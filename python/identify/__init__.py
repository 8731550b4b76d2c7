"""identify: fit linear ODE models dx/dt = A(theta) x + inputs to time series.

    import identify
    r = identify.fit("examples/theophylline_pk/problem.yaml")
    r.parameters        # a pandas DataFrame, as PROBLEM.parameters.tsv

identify.fit() reads a problem file (or its YAML text), optionally replaces
its data tables with DataFrames, and fits it as the console program
`identify PROBLEM.yaml` does, returning a Result. Faults in the problem or
its tables raise identify.InputError, bad options ValueError.
"""

import sys


def _import_numeric():
    """Imports numpy and pandas, from Debian's site directory if need be.

    The module is built for Debian's python3, whose numpy and pandas live in
    its own dist-packages directory. Another interpreter of the same version
    (a pyenv python3 first on PATH) imports the extension as well but lacks
    them: that directory, recorded at build time, is then appended to
    sys.path (after the interpreter's own directories) and the import
    retried.
    """
    try:
        import numpy  # noqa: F401
        import pandas  # noqa: F401
    except ImportError:
        from ._site import SITE_DIRECTORIES

        for directory in SITE_DIRECTORIES:
            if directory and directory not in sys.path:
                sys.path.append(directory)
        import numpy  # noqa: F401
        import pandas  # noqa: F401


_import_numeric()

from ._errors import InputError  # noqa: E402
from ._fit import fit  # noqa: E402
from ._result import Result  # noqa: E402

__all__ = ["fit", "Result", "InputError"]
