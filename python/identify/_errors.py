"""The exceptions of the identify package."""


class InputError(Exception):
    """A fault in a problem file or one of its tables.

    Attributes: file (as named in the problem file, "<data 1>" for the first
    DataFrame given as data, "" when there is no file), line and column
    (1-based; 0 when the fault has no place, such as a file that cannot be
    opened), and message, the console program's message without its
    "identify: " prefix: 'problem.yaml:13:32: expected a declared parameter,
    found "kel"'. str() of the error is the message.
    """

    def __init__(self, message, file="", line=0, column=0):
        super().__init__(message)
        self.message = message
        self.file = file
        self.line = line
        self.column = column
