"""The Result of identify.fit()."""

from ._frames import frame_of


class Result:
    """What a fit returns.

    parameters: DataFrame, equal value for value to PROBLEM.parameters.tsv
        of the same run (parameterId, estimate, standardError, lower95,
        upper95, scale, lowerBound, upperBound, status, profileLower,
        profileUpper).
    fit: DataFrame, as PROBLEM.fit.tsv (one row per measurement).
    profiles: DataFrame, as PROBLEM.profiles.tsv; no columns without
        profiles.
    starts: DataFrame of the starts: start, objective, iterations and the
        distinct optimum each reached (1-based; 0: none).
    objective: the sum of squares of the result, or -2 ln L when the
        problem's error model makes that the objective (`likelihood`).
    converged: whether the fit ended on a convergence test (or reached its
        tolerance).
    verdict: the console program's verdict line(s), without "identify: ".
    termination: "optimum reached", "tolerance reached", "iteration limit",
        "no progress", "diverged", "stalled", "library failure" or
        "interrupted".
    report: the text `identify --report` writes.
    method, model, iterations, seconds, and exit_code (the console
    program's exit code for this result).
    """

    def __init__(self, raw):
        self.parameters = frame_of(raw["parameters"])
        self.fit = frame_of(raw["fit"])
        self.profiles = frame_of(raw["profiles"])
        self.starts = frame_of(raw["starts"])
        self.objective = raw["objective"]
        self.likelihood = raw["likelihood"]
        self.converged = raw["converged"]
        self.verdict = raw["verdict"]
        self.termination = raw["termination"]
        self.report = raw["report"]
        self.method = raw["method"]
        self.model = raw["model"]
        self.iterations = raw["iterations"]
        self.seconds = raw["seconds"]
        self.exit_code = raw["exit_code"]

    def __repr__(self):
        return "<identify.Result %s, objective %.6g, %d parameters>" % (
            self.termination,
            self.objective,
            len(self.parameters),
        )
