"""Data tables given as DataFrames replace the problem's own."""

import pandas as pd
import pandas.testing as pdt
import pytest

import identify


def read_table(problem):
    return pd.read_csv(
        problem.parent / "theophylline.csv", comment="#", float_precision="round_trip"
    )


def test_a_frame_of_the_file_fits_as_the_file(theophylline):
    from_file = identify.fit(theophylline, starts=3)
    from_frame = identify.fit(theophylline, data=read_table(theophylline), starts=3)
    pdt.assert_frame_equal(from_frame.parameters, from_file.parameters, check_exact=True)
    pdt.assert_frame_equal(from_frame.fit, from_file.fit, check_exact=True)


def test_a_changed_frame_fits_as_the_changed_file(theophylline):
    table = read_table(theophylline)
    later = table[table.time > 0].reset_index(drop=True)
    later.to_csv(theophylline.parent / "theophylline.csv", index=False)
    from_file = identify.fit(theophylline, starts=3)
    from_frame = identify.fit(theophylline, data=[later], starts=3)
    pdt.assert_frame_equal(from_frame.parameters, from_file.parameters, check_exact=True)
    assert len(from_frame.fit) == len(later)


def test_long_form_with_text_columns_and_missing_values(theophylline):
    table = read_table(theophylline)
    long = pd.DataFrame(
        {
            "experiment": "subject1",
            "observable": "concentration",
            "time": table.time,
            "measurement": table.concentration,
        }
    )
    long.loc[len(long)] = ["subject1", "concentration", 30.0, float("nan")]
    wide = identify.fit(theophylline, data=table, starts=2)
    r = identify.fit(theophylline, data=long, starts=2)
    pdt.assert_frame_equal(r.parameters, wide.parameters, check_exact=True)
    assert len(r.fit) == len(table)  # the missing measurement is skipped


def test_data_must_be_frames(theophylline):
    with pytest.raises(TypeError, match="data: expected a pandas DataFrame"):
        identify.fit(theophylline, data=[{"time": [1.0]}])
