import pytest

import gaugeshift


def factor(from_label, to_label, quantity="Length"):
    return gaugeshift.gaugeshift_factor().get_gaugeshift_factor(quantity, from_label, to_label)[0]


class TestFactors:
    @pytest.mark.parametrize("from_label, to_label, expected", [
        ("mm", "m", 0.001), ("m", "mm", 1000.0), ("in", "mm", 25.4), ("ft", "in", 12.0),
        ("yd", "ft", 3.0), ("mi", "ft", 5280.0), ("km", "m", 1000.0), ("um", "mm", 0.001),
        ("dm", "cm", 10.0), ("in", "m", 0.0254), ("mi", "km", 1.609344),
    ])
    def test_exact_factors(self, from_label, to_label, expected):
        assert factor(from_label, to_label) == expected  # exact, not approximately

    @pytest.mark.parametrize("from_label, to_label, expected", [
        ("kPa", "Pa", 1000.0), ("Pa", "MPa", 1e-6), ("bar", "kPa", 100.0), ("Gbar", "GPa", 1e5),
        ("dyn/cm2", "Pa", 0.1), ("psi", "Pa", 6894.757293168362), ("psi", "psf", 144.0),
        ("kgf/mm2", "MPa", 9.80665),
    ])
    def test_exact_pressure_factors(self, from_label, to_label, expected):
        assert factor(from_label, to_label, "Pressure") == expected

    def test_result_is_a_sequence_with_the_factor_first(self):
        result = gaugeshift.gaugeshift_factor().get_gaugeshift_factor("length", "cm", "m")
        assert list(result) == [0.01]


class TestRefusals:
    @pytest.mark.parametrize("from_label, to_label, bad", [("mm", "furlong", "furlong"),
                                                           ("MM", "m", "MM"),
                                                           ("mm-t-s-N-K", "m", "mm-t-s-N-K")])
    def test_unknown_label_is_named(self, from_label, to_label, bad):
        with pytest.raises(ValueError, match=bad):
            factor(from_label, to_label)

    def test_unknown_quantity_is_named(self):
        with pytest.raises(ValueError, match="Energy"):
            factor("J", "kJ", quantity="Energy")

    def test_a_unit_of_another_quantity_is_refused(self):
        with pytest.raises(ValueError, match="unknown pressure unit 'mm'"):
            factor("mm", "Pa", quantity="Pressure")
