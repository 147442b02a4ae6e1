"""Figures the benchmark scripts take the same way (the C++ benchmarks use
tools/bench_lib/BenchFigures.h). Scripts run from the repository root import
it after adding bench/ to sys.path."""


def percentile(values, q):
    """The value at share q (0 to 1) of the values, nearest rank below;
    nan for no values."""
    ordered = sorted(values)
    if not ordered:
        return float("nan")
    return ordered[min(len(ordered) - 1, int(q * len(ordered)))]
