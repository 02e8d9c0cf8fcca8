"""Stand-in for the unit converter `gaugeshift`: conversion factors between unit labels of one
quantity (lengths and pressures)."""
from fractions import Fraction

# The pound-force, exactly: the avoirdupois pound (0.45359237 kg) under standard gravity.
_LBF = Fraction("0.45359237") * Fraction("9.80665")

# Per quantity, the size of each unit in the quantity's SI unit, exact: metres per length unit
# (the inch, foot, yard and mile are defined through the metre) and pascals per pressure unit
# (the units a mapped pressure may carry).
_UNITS = {
    "length": {
        unit: Fraction(metres)
        for unit, metres in (
            ("m", "1"), ("dm", "0.1"), ("cm", "0.01"), ("mm", "0.001"), ("um", "0.000001"),
            ("km", "1000"), ("in", "0.0254"), ("ft", "0.3048"), ("yd", "0.9144"),
            ("mi", "1609.344"),
        )
    },
    "pressure": {
        "Pa": Fraction(1), "psi": _LBF / Fraction("0.0254") ** 2,
        "psf": _LBF / Fraction("0.3048") ** 2, "bar": Fraction(10) ** 5,
        "kbar": Fraction(10) ** 8, "Gbar": Fraction(10) ** 14, "hPa": Fraction(100),
        "dyn/cm2": Fraction(1, 10), "Mbar": Fraction(10) ** 11, "kPa": Fraction(1000),
        "MPa": Fraction(10) ** 6, "GPa": Fraction(10) ** 9,
        "kgf/mm2": Fraction("9.80665") / Fraction("0.001") ** 2,
    },
}
_NAMES = {"length": "Length", "pressure": "Pressure"}


class GaugeshiftFactor:
    """Converter object; get_gaugeshift_factor gives the factors between two unit labels."""

    def get_gaugeshift_factor(self, quantity, from_label, to_label):
        """[factor] such that a `quantity` value in `from_label` times factor is in `to_label`.

        Quantities "Length" and "Pressure" (in any letter case). Raises ValueError naming an
        unknown quantity or label. The factor is the correctly rounded float of the exact ratio.
        """
        units = _UNITS.get(quantity.lower()) if isinstance(quantity, str) else None
        if units is None:
            raise ValueError(f"unknown quantity {quantity!r}; known: "
                             f"{', '.join(repr(n) for n in _NAMES.values())}")
        for label in (from_label, to_label):
            if not isinstance(label, str) or label not in units:
                raise ValueError(f"unknown {quantity.lower()} unit {label!r}; known: "
                                 f"{', '.join(units)}")
        return [float(units[from_label] / units[to_label])]


def gaugeshift_factor():
    """A new converter object."""
    return GaugeshiftFactor()
