"""Stand-in for the unit converter `gaugeshift`: length conversion factors between unit labels."""
from fractions import Fraction

# Metres per unit, exact (the inch, foot, yard and mile are defined through the metre).
_METRES = {
    unit: Fraction(metres)
    for unit, metres in (
        ("m", "1"), ("dm", "0.1"), ("cm", "0.01"), ("mm", "0.001"), ("um", "0.000001"),
        ("km", "1000"), ("in", "0.0254"), ("ft", "0.3048"), ("yd", "0.9144"), ("mi", "1609.344"),
    )
}


class GaugeshiftFactor:
    """Converter object; get_gaugeshift_factor gives the factors between two unit labels."""

    def get_gaugeshift_factor(self, quantity, from_label, to_label):
        """[factor] such that a `quantity` value in `from_label` times factor is in `to_label`.

        Only "Length" is known (in any letter case). Raises ValueError naming an unknown quantity
        or label. The factor is the correctly rounded float of the exact ratio.
        """
        if not isinstance(quantity, str) or quantity.lower() != "length":
            raise ValueError(f"unknown quantity {quantity!r}; known: 'Length'")
        for label in (from_label, to_label):
            if not isinstance(label, str) or label not in _METRES:
                raise ValueError(f"unknown length unit {label!r}; known: {', '.join(_METRES)}")
        return [float(_METRES[from_label] / _METRES[to_label])]


def gaugeshift_factor():
    """A new converter object."""
    return GaugeshiftFactor()
