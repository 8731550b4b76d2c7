"""Progress, Ctrl-C and fits on several Python threads."""

import _thread
import os
import threading
import time

import pandas.testing as pdt
import pytest

import identify
from conftest import EXAMPLES


def test_progress_is_called_after_every_iteration(theophylline):
    events = []
    r = identify.fit(theophylline, starts=3, progress=events.append)
    assert events, "no progress"
    assert set(events[0]) == {"experiment", "iteration", "objective", "likelihood"}
    # every fit counts its iterations from 0: three starts and the result
    assert sum(e["iteration"] == 0 for e in events) >= 3
    assert all(e["iteration"] >= 0 for e in events)
    assert min(e["objective"] for e in events) == pytest.approx(r.objective ** 0.5, rel=1e-6)


def test_progress_returning_false_stops_the_fit(theophylline):
    calls = []

    def stop_at_once(event):
        calls.append(event)
        return False

    r = identify.fit(theophylline, starts=50, progress=stop_at_once)
    assert r.termination == "interrupted"
    assert len(calls) < 10
    assert len(r.parameters) == 3


def test_an_exception_in_progress_reaches_the_caller(theophylline):
    def fail(event):
        raise RuntimeError("from progress")

    with pytest.raises(RuntimeError, match="from progress"):
        identify.fit(theophylline, starts=50, progress=fail)


def test_ctrl_c_stops_a_long_multistart_keeping_the_best_point(theophylline):
    timer = threading.Timer(1.0, _thread.interrupt_main)
    began = time.monotonic()
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt) as caught:
            identify.fit(theophylline, starts=100000, threads=2)
    finally:
        timer.cancel()
    elapsed = time.monotonic() - began
    assert elapsed < 30  # the starts take minutes
    r = caught.value.result
    assert r.termination == "interrupted"
    assert r.exit_code == 130
    assert r.objective == pytest.approx(4.28601, rel=1e-5)
    assert r.parameters.estimate.notna().all()
    assert 0 < r.starts.finished.sum() < 100000


def test_two_threads_fit_as_two_separate_runs(theophylline):
    other = os.path.join(EXAMPLES, "alpha_pinene_5rate", "problem.yaml")
    alone = [
        identify.fit(theophylline, seed=3, starts=200, threads=1),
        identify.fit(other, starts=200, threads=1),
    ]
    together = [None, None]

    def run(k, problem, **options):
        together[k] = identify.fit(problem, starts=200, threads=1, **options)

    threads = [
        threading.Thread(target=run, args=(0, theophylline), kwargs={"seed": 3}),
        threading.Thread(target=run, args=(1, other)),
    ]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for a, b in zip(alone, together):
        pdt.assert_frame_equal(b.parameters, a.parameters, check_exact=True)
        pdt.assert_frame_equal(b.starts, a.starts, check_exact=True)
        assert b.objective == a.objective


def test_other_python_threads_run_during_a_fit(theophylline):
    ticks = 0
    fitting = threading.Thread(
        target=identify.fit, args=(theophylline,), kwargs={"starts": 300, "threads": 1}
    )
    fitting.start()
    while fitting.is_alive():
        ticks += 1
        time.sleep(0.001)
    fitting.join()
    assert ticks > 20  # the fit takes a few hundred milliseconds
