"""Turns the benchmark driver's result lines into medians, ratios and tables.

The driver prints one line per result, words separated by blanks, and
"error ..." when the road did not do what a measurement relies on. Pairs are
measured side by side in rounds; a ratio is taken within each round (the two
sides saw the same machine load) and reported as the median of those ratios
with their lowest and highest.
"""
import statistics


class BenchError(Exception):
    """A measurement that could not be made; the text says why."""


def parse_lines(text, kind):
    """The driver's lines of this kind, split into words without the kind.

    Any "error" line raises BenchError with its text.
    """
    rows = []
    for line in text.splitlines():
        words = line.split()
        if not words:
            continue
        if words[0] == "error":
            raise BenchError(line[len("error"):].strip() or "the driver reported an error")
        if words[0] == kind:
            rows.append(words[1:])
    return rows


def by_round(rows, name):
    """{round: [numbers...]} for the rows "name round n1 n2 ..."."""
    result = {}
    for words in rows:
        if len(words) >= 3 and words[0] == name:
            result[int(words[1])] = [float(w) for w in words[2:]]
    return result


class Pair:
    """One side-by-side comparison: samples of ours and of the baseline, per round."""

    def __init__(self, ours, baseline):
        rounds = sorted(set(ours) & set(baseline))
        if not rounds:
            raise BenchError("no round has both sides of the comparison")
        self.ours = [ours[r] for r in rounds]
        self.baseline = [baseline[r] for r in rounds]
        self.ratios = [o / b for o, b in zip(self.ours, self.baseline) if b > 0]
        if not self.ratios:
            raise BenchError("the baseline measured nothing")

    @property
    def rounds(self):
        return len(self.ours)

    @property
    def ours_median(self):
        return statistics.median(self.ours)

    @property
    def baseline_median(self):
        return statistics.median(self.baseline)

    @property
    def ratio(self):
        return statistics.median(self.ratios)

    @property
    def ratio_range(self):
        return min(self.ratios), max(self.ratios)


def pair_from(rows, ours, baseline, column=0, transform=None):
    """A Pair of two named series, taking one column of each row's numbers."""
    def series(name):
        values = {}
        for r, numbers in by_round(rows, name).items():
            if column < len(numbers):
                values[r] = transform(numbers[column]) if transform else numbers[column]
        return values
    return Pair(series(ours), series(baseline))


def median_of(rows, name, column=0, transform=None):
    values = [numbers[column] for numbers in by_round(rows, name).values() if column < len(numbers)]
    if not values:
        raise BenchError(f"no result for {name}")
    value = statistics.median(values)
    return transform(value) if transform else value


def verdict(ratio, target, at_least=False):
    """'met' or 'missed' for a ratio against an upper bound (a lower one with
    at_least); '' without one."""
    if target is None:
        return ""
    return "met" if (ratio >= target if at_least else ratio <= target) else "missed"


def markdown_table(header, rows):
    """A Markdown table; every row has as many cells as the header."""
    for row in rows:
        if len(row) != len(header):
            raise ValueError(f"row {row!r} has {len(row)} cells, the header {len(header)}")
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows]
    return "\n".join(lines)


def number(value, digits=1):
    """A value with a fixed number of decimals."""
    return f"{value:.{digits}f}"
