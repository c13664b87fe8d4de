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

    @property
    def median(self):
        return statistics.median(self.values)

    @property
    def met(self):
        if self.target is None and self.limit is None and self.sound:
            return None
        return (self.sound
                and (self.target is None or (self.ratio is not None and self.ratio <= self.target))
                and (self.limit is None or self.median <= self.limit))


def _quantity(value, unit):
    if unit == "s":
        if value >= 1:
            return f"{value:.2f} s"
        if value >= 1e-3:
            return f"{value * 1e3:.1f} ms"
        return f"{value * 1e6:.2f} µs"
    if unit == "B":
        return f"{value / 1024:,.0f} KiB"
    return f"{value:,.0f} {unit}"


def _bare(value, unit):
    """A quantity without its unit, for the min … max column."""
    text = _quantity(value, unit)
    return text.rsplit(" ", 1)[0]


def format_table(rows):
    header = ["case", "median", "min … max", "per call", "ratio", "against", "target", "", "notes"]
    lines = []
    for row in rows:
        low, high = min(row.values), max(row.values)
        spread = "" if low == high else f"{_bare(low, row.unit)} … {_bare(high, row.unit)}"
        target = " and ".join(
            ([f"≤ {row.target:.2f}×"] if row.target is not None else [])
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
