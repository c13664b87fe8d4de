"""The one table that `make bench` prints."""
import statistics
from dataclasses import dataclass


@dataclass
class Row:
    case: str
    values: list          # one measurement per run (a single one for instruction counts)
    unit: str             # "s", "Ir" (instructions per call) or "B"
    reference: str = ""   # what the ratio is taken against
    ratio: float | None = None
    target: float | None = None  # the ratio not to exceed
    limit: float | None = None   # the median not to exceed, in `unit`
    per_call: float | None = None  # seconds per comparison, for sorts
    note: str = ""
    sound: bool = True  # False: the case did something wrong (a different order)
    own: float | None = None         # the module's own part against the interpreter's own part
    own_target: float | None = None  # the own ratio not to exceed

    @property
    def median(self):
        return statistics.median(self.values)

    @property
    def met(self):
        if self.target is None and self.limit is None and self.own_target is None and self.sound:
            return None
        return (self.sound
                and (self.target is None or (self.ratio is not None and self.ratio <= self.target))
                and (self.own_target is None or (self.own is not None and self.own <= self.own_target))
                and (self.limit is None or self.median <= self.limit))


def _scale(value, unit):
    """(divisor, suffix) to show `value` of `unit` readably."""
    if unit == "s":
        return (1, "s") if value >= 1 else (1e-3, "ms") if value >= 1e-3 else (1e-6, "µs")
    if unit == "B":
        return 1024, "KiB"
    return 1, unit


def _number(value, divisor, suffix):
    scaled = value / divisor
    if suffix in ("s", "ms", "µs"):
        return f"{scaled:.2f}" if scaled < 10 else f"{scaled:.1f}"
    return f"{scaled:,.0f}"


def _quantity(value, unit):
    divisor, suffix = _scale(value, unit)
    return f"{_number(value, divisor, suffix)} {suffix}"


def _spread(low, high, median, unit):
    """min … max in the unit of the median, so both read alike."""
    divisor, suffix = _scale(median, unit)
    return f"{_number(low, divisor, suffix)} … {_number(high, divisor, suffix)}"


def format_table(rows):
    header = ["case", "median", "min … max", "per call", "ratio", "against", "target", "",
              "notes"]
    lines = []
    for row in rows:
        low, high = min(row.values), max(row.values)
        spread = "" if low == high else _spread(low, high, row.median, row.unit)
        target = ", ".join(
            ([f"≤ {row.target:.2f}×"] if row.target is not None else [])
            + ([f"own ≤ {row.own_target:.2f}×"] if row.own_target is not None else [])
            + ([f"≤ {_quantity(row.limit, row.unit)}"] if row.limit is not None else []))
        verdict = {None: "", True: "met", False: "MISSED"}[row.met]
        lines.append([
            row.case,
            _quantity(row.median, row.unit),
            spread,
            _quantity(row.per_call, "s") if row.per_call is not None else "",
            f"{row.ratio:.2f}×" if row.ratio is not None else "",
            row.reference,
            target,
            verdict,
            row.note,
        ])
    widths = [max(len(str(c)) for c in column) for column in zip(header, *lines)]
    right = {1, 2, 3, 4}

    def render(cells):
        out = []
        for i, (cell, width) in enumerate(zip(cells, widths)):
            out.append(str(cell).rjust(width) if i in right else str(cell).ljust(width))
        return "  ".join(out).rstrip()

    rule = "  ".join("-" * w for w in widths)
    return "\n".join([render(header), rule] + [render(cells) for cells in lines])
