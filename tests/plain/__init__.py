"""Plain-Python renditions of the native modules' entry points.

The property tests compare each native function with its rendition here, and
the benchmarks time the native modules against them. They follow the
documented steps one by one, with the escaping of values inserted into
generated code (codetext.py) and the argument checks of the native functions.
"""
