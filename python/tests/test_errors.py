"""Faults raise InputError or ValueError with the program's words."""

import pandas as pd
import pytest

import identify
from conftest import run_program


def test_an_input_error_names_file_line_and_column(theophylline):
    text = theophylline.read_text().replace("central: -ke}", "central: -kel}")
    theophylline.write_text(text)
    code, stderr = run_program(theophylline)
    assert code == 3
    with pytest.raises(identify.InputError) as caught:
        identify.fit(str(theophylline))
    error = caught.value
    assert "identify: " + str(error) + "\n" == stderr
    assert error.message == str(error)
    assert (error.file, error.line, error.column) == (str(theophylline), 13, 32)
    assert str(error).endswith('expected a declared parameter, found "kel"')


def test_a_fault_in_a_data_frame_names_the_frame(theophylline):
    table = pd.DataFrame({"tme": [1.0, 2.0], "concentration": [3.0, 4.0]})
    with pytest.raises(identify.InputError) as caught:
        identify.fit(theophylline, data=table)
    assert caught.value.file == "<data 1>"
    assert caught.value.line == 1
    assert "found \"tme\"" in caught.value.message


def test_a_missing_file_is_an_input_error(tmp_path):
    with pytest.raises(identify.InputError, match="cannot open"):
        identify.fit(str(tmp_path / "none.yaml"))


BAD_OPTIONS = [
    ({"starts": 0}, ValueError, '--starts: expected a whole number from 1 to 1000000, found "0"'),
    ({"threads": 257}, ValueError, 'to 256, found "257"'),
    ({"seed": -1}, ValueError, "--seed: expected a whole number from 0 to"),
    ({"method": "newton"}, ValueError, '--method: expected one of descent, lm, lbfgsb, found "newton"'),
    ({"model": "rk4"}, ValueError, '--model: expected one of grid, exact, found "rk4"'),
    ({"profile": ["CL"]}, ValueError, '--profile: expected a fitted parameter (ka, ke, V), found "CL"'),
    ({"starts": 2.5}, TypeError, "starts: expected a whole number, found 2.5"),
    ({"starts": True}, TypeError, "starts: expected a whole number"),
    ({"method": None}, TypeError, "method: expected a name"),
]


@pytest.mark.parametrize("options, kind, words", BAD_OPTIONS)
def test_bad_options(theophylline, options, kind, words):
    with pytest.raises(kind) as caught:
        identify.fit(theophylline, **options)
    assert words in str(caught.value)


def test_option_words_are_those_of_the_program(theophylline):
    code, stderr = run_program(theophylline, "--method", "newton")
    assert code == 2
    with pytest.raises(ValueError) as caught:
        identify.fit(theophylline, method="newton")
    assert stderr == "identify: " + str(caught.value) + "\n"
