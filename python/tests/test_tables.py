"""The Result's tables are the program's TSV files, double for double."""

import pandas.testing as pdt
import pytest

import identify
from conftest import read_tsv, run_program


def test_tables_equal_the_files_of_the_same_run(theophylline):
    code, _ = run_program(theophylline, "--profile", "--threads", "2")
    assert code == 0
    r = identify.fit(str(theophylline), profile=True, threads=2)
    folder = theophylline.parent
    for frame, name in [
        (r.parameters, "problem.parameters.tsv"),
        (r.fit, "problem.fit.tsv"),
        (r.profiles, "problem.profiles.tsv"),
    ]:
        pdt.assert_frame_equal(frame, read_tsv(folder / name), check_exact=True)
    assert r.converged and r.termination == "optimum reached"
    assert r.exit_code == 0
    assert r.objective == pytest.approx((r.fit.weightedResidual**2).sum(), rel=1e-12)
    assert r.verdict.startswith("converged: lm: ")
    assert r.report.startswith("Fit report")
    assert list(r.starts.columns[:2]) == ["start", "objective"]
    assert list(r.starts.start) == list(range(1, 21))
    assert r.starts.objective.min() == pytest.approx(r.objective, rel=1e-9)


def test_the_same_run_without_profiles_leaves_their_columns_empty(theophylline):
    code, _ = run_program(theophylline, "--starts", "3", "--seed", "7")
    assert code == 0
    r = identify.fit(theophylline, starts=3, seed=7)
    pdt.assert_frame_equal(
        r.parameters,
        read_tsv(theophylline.parent / "problem.parameters.tsv"),
        check_exact=True,
    )
    assert r.parameters.profileLower.isna().all()
    assert r.profiles.empty


def test_yaml_text_fits_as_its_file(theophylline, monkeypatch):
    monkeypatch.chdir(theophylline.parent)
    from_file = identify.fit(theophylline, starts=2)
    from_text = identify.fit(theophylline.read_text(), starts=2)
    pdt.assert_frame_equal(from_text.parameters, from_file.parameters)
