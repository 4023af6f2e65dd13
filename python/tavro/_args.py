"""Argument checks of the public methods: integers are integers and numbers
are numbers, refused with the module's own words instead of the binding's
conversion text."""

import numbers
import os


def integer(value, what):
    """`value` as an int; bool, float and text are refused."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{what} must be an integer (not {value!r})")
    return int(value)


def real(value, what):
    """`value` as a float; bool, complex and text are refused."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{what} must be a number (not {value!r})")
    return float(value)


def text(value, what):
    """`value` as a str; a path object is taken as its path."""
    if isinstance(value, os.PathLike):
        value = os.fspath(value)
    if not isinstance(value, str):
        raise TypeError(f"{what} must be text (not {value!r})")
    return value


def triple(value, what):
    """One number for all three axes, or three numbers (x, y, z)."""
    if isinstance(value, (str, bytes)):
        raise TypeError(f"{what} takes one number or three (x, y, z), not the text {value!r}")
    if isinstance(value, numbers.Real) and not isinstance(value, bool):
        return (value, value, value)
    try:
        value = tuple(value)
    except TypeError:
        raise TypeError(f"{what} takes one number or three (x, y, z) (not {value!r})") from None
    if len(value) != 3:
        raise ValueError(f"{what} takes three values (x, y, z) or one for all axes")
    return value
