"""Benchmarks of the explorerview module against the same code in plain Python.

Run them with `make bench`; `python -m bench --help` lists the options.
"""
