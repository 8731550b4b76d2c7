"""DataFrames to and from the column lists of the compiled module.

A column list is [(name, numbers, texts), ...]: numbers a float64 array for
a number column (None for a text column), texts the column's strings.
"""

import re

import numpy as np
import pandas as pd


def frame_of(columns):
    """The DataFrame of a result table, typed as pandas.read_csv types its file.

    A number column becomes float64, holding the very doubles the library
    computed, NaN where the TSV file has an empty field; int64 when every
    field is a whole number written without a point (a count, a bound "20"),
    or, in a table without field texts, every value is.
    A number column with a word in some field ("interrupted" for a profile
    side cut short) keeps that word there, as reading the TSV file would.
    """
    data = {}
    for name, numbers, texts in columns:
        if numbers is None:
            data[name] = pd.Series(list(texts), dtype=object)
            continue
        words = [i for i, t in enumerate(texts) if _is_word(t)]
        if _whole_numbers(numbers, texts):
            data[name] = pd.Series(numbers, dtype=np.float64).astype(np.int64)
        elif not words:
            data[name] = pd.Series(numbers, dtype=np.float64)
        else:
            values = list(numbers)
            for i in words:
                values[i] = texts[i]
            data[name] = pd.Series(values, dtype=object)
    return pd.DataFrame(data)


_WHOLE = re.compile(r"[+-]?[0-9]+\Z")


def _whole_numbers(numbers, texts):
    """Whether a number column reads as int64: by its field texts, or, for a
    table without them (the starts), by its values."""
    if texts:
        return all(_WHOLE.match(t) for t in texts)
    return len(numbers) > 0 and bool(
        np.all(np.isfinite(numbers)) and np.all(numbers == np.floor(numbers))
    )


def _is_word(text):
    if text == "":
        return False
    try:
        float(text)
    except ValueError:
        return True
    return False


def columns_of(frame):
    """The column list of a data or dose table given as a DataFrame.

    Numeric columns pass as float64 (NaN is a missing value), the others as
    text: None and NaN become empty fields, everything else str().
    """
    if not isinstance(frame, pd.DataFrame):
        raise TypeError(
            "data: expected a pandas DataFrame, found %s" % type(frame).__name__
        )
    columns = []
    for name in frame.columns:
        series = frame[name]
        if pd.api.types.is_numeric_dtype(series) and not pd.api.types.is_bool_dtype(
            series
        ):
            columns.append((str(name), series.to_numpy(dtype=np.float64), []))
        else:
            texts = ["" if pd.isna(v) else str(v) for v in series]
            columns.append((str(name), None, texts))
    return columns
