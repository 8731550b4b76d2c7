"""identify.fit(): the problem and options in, a Result out."""

import operator
import os

import pandas as pd

from . import _identify
from ._frames import columns_of
from ._result import Result


def fit(
    problem,
    data=None,
    starts=20,
    seed=1,
    threads=None,
    profile=False,
    method="lm",
    model="exact",
    progress=None,
):
    """Fits a problem file as `identify PROBLEM.yaml` does.

    problem: the path of a problem file (str or os.PathLike), or its YAML
        text (a str holding a line break); tables named in the text are read
        relative to the current directory.
    data: None (the problem's own tables), a DataFrame, or a list of them,
        replacing every data table the problem names; the same columns as a
        data table file (long form: experiment, observable, time,
        measurement, sigma; wide form: time, experiment and one column per
        observable).
    starts: the number of starts (1 to 1000000): the parameters' values and
        starts - 1 Latin hypercube samples of the bounds, drawn from `seed`.
    threads: worker threads for the starts and profiles; None: the cores.
    profile: True for profile-likelihood intervals of every estimated
        parameter, or a list of parameter names.
    method: "lm", "lbfgsb" or "descent"; model: "exact" or "grid".
    progress: None, or a callable taking one dict (experiment, iteration,
        objective, likelihood) after every iteration; it is
        called with the GIL held, from the fit's threads one at a time.
        Returning False stops the fit, keeping the best point so far.

    Returns a Result. Raises InputError for a fault in the problem or its
    tables, ValueError for a bad option (with the console program's words,
    which name the option as its command-line flag), TypeError for a value
    of the wrong type. Ctrl-C stops the fit as SIGINT stops the program;
    once the best point is kept, KeyboardInterrupt is raised, carrying the
    Result so far as its `result` attribute.
    """
    path_or_text, is_text = _problem_argument(problem)
    tables = None
    if data is not None:
        frames = [data] if isinstance(data, pd.DataFrame) else list(data)
        tables = [columns_of(frame) for frame in frames]
    names = []
    if not isinstance(profile, bool):
        names = [str(name) for name in profile]
        profile = True
    raw = _identify.fit(
        path_or_text,
        is_text,
        tables,
        _whole("starts", starts),
        _whole("seed", seed),
        0 if threads is None else _whole("threads", threads),
        profile,
        names,
        _text("method", method),
        _text("model", model),
        progress,
    )
    interrupt = raw.pop("interrupt")
    result = Result(raw)
    if interrupt is not None:
        interrupt.result = result
        raise interrupt
    return result


def _problem_argument(problem):
    if isinstance(problem, os.PathLike):
        return os.fspath(problem), False
    if not isinstance(problem, str):
        raise TypeError(
            "problem: expected a path or the YAML text of a problem file, "
            "found %s" % type(problem).__name__
        )
    return problem, ("\n" in problem and not os.path.isfile(problem))


def _whole(name, value):
    if isinstance(value, bool):
        raise TypeError("%s: expected a whole number, found %r" % (name, value))
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError(
            "%s: expected a whole number, found %r" % (name, value)
        ) from None


def _text(name, value):
    if not isinstance(value, str):
        raise TypeError("%s: expected a name, found %r" % (name, value))
    return value
