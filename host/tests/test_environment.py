import pytest

import kelm
from kelm import environment as env

SHELL = "Sample/Housing/Cover assembly/Cover/Cover shell"


@pytest.fixture
def shell():
    kelm.samples.sample_model()
    return kelm.getMesh(SHELL)


def temperature_property():
    field = {"node_ids": [499, 502], "identifier_type": "NODE_ID", "temperatures": [300.0, 310.0]}
    return env.createTemperaturePropertyStaticVariable(temperatureValues={SHELL: field})


class TestRecording:
    def test_calls_are_recorded_with_keywords_in_call_order_and_unit_system(self, shell):
        target = kelm.EntityCollection()
        target.extend(shell.getElements(ids="1279,1225"))
        kelm.setScriptUnitSystem("mm-kg-s-mN-K")
        field = {"element_ids": [1279], "identifier_type": "ELEMENT_ID_FACE_NODE_ID",
                 "face_identifiers": [[505, 508, 520]], "pressures": [[1.0, 2.0, 3.0]]}
        prop = env.createPressurePropertyStaticVariable(pressureValues={SHELL: field}, id=5)
        load = env.createLoadPressure(name="Pressure", description="d", target=target,
                                      loadPressureProperty=prop)
        first, second = env.created
        assert first.function == "createPressurePropertyStaticVariable"
        assert list(first.kwargs) == ["pressureValues", "id"]
        assert first.result is prop and isinstance(prop, env.VariablePressure) and prop.id == 5
        assert second.kwargs["target"] is target and second.result is load
        assert first.unit_system == second.unit_system == "mm-kg-s-mN-K"
        assert [e.id for e in load.target] == [1279, 1225]

    def test_temperature_load(self, shell):
        prop = temperature_property()
        env.createLoadTemperature(name="Temperature", description="d",
                                  target=kelm.EntityCollection(), temperatureProperty=prop)
        assert [c.function for c in env.created] == [
            "createTemperaturePropertyStaticVariable", "createLoadTemperature"]
        assert env.created[0].kwargs["temperatureValues"][SHELL]["temperatures"] == [300.0, 310.0]

    def test_reset_clears_the_record(self, shell):
        temperature_property()
        kelm.reset()
        assert env.created == [] and kelm.call_log == []


class TestRefusals:
    def test_positional_arguments_are_refused(self, shell):
        with pytest.raises(TypeError, match="keyword arguments only"):
            env.createPressurePropertyStaticVariable(5, {})
        assert env.created == []

    def test_misspelt_keyword_is_named(self, shell):
        with pytest.raises(TypeError, match="'temperatureproperty'"):
            env.createLoadTemperature(name="T", description="d", target=kelm.EntityCollection(),
                                      temperatureproperty=temperature_property())

    def test_missing_keyword_is_named(self, shell):
        with pytest.raises(TypeError, match="loadPressureProperty"):
            env.createLoadPressure(name="P", description="d", target=kelm.EntityCollection())

    def test_property_of_the_wrong_kind(self, shell):
        with pytest.raises(TypeError, match="VariablePressure"):
            env.createLoadPressure(name="P", description="d", target=kelm.EntityCollection(),
                                   loadPressureProperty=temperature_property())

    def test_target_must_be_a_collection(self, shell):
        with pytest.raises(TypeError, match="EntityCollection"):
            env.createLoadTemperature(name="T", description="d", target=[shell],
                                      temperatureProperty=temperature_property())

    def test_values_of_an_unknown_body(self, shell):
        field = {"node_ids": [1], "identifier_type": "NODE_ID", "temperatures": [1.0]}
        with pytest.raises(KeyError, match="Sample/Nowhere"):
            env.createTemperaturePropertyStaticVariable(temperatureValues={"Sample/Nowhere": field})

    def test_ids_and_values_must_agree(self, shell):
        field = {"node_ids": [499, 502], "identifier_type": "NODE_ID", "temperatures": [1.0]}
        with pytest.raises(ValueError, match="2 IDs and 1 temperatures"):
            env.createTemperaturePropertyStaticVariable(temperatureValues={SHELL: field})

    def test_face_nodes_and_pressures_must_agree(self, shell):
        field = {"element_ids": [1279], "identifier_type": "ELEMENT_ID_FACE_NODE_ID",
                 "face_identifiers": [[505, 508, 520]], "pressures": [[1.0, 2.0]]}
        with pytest.raises(ValueError, match="face 0 has 3 nodes and 2 pressures"):
            env.createPressurePropertyStaticVariable(id=5, pressureValues={SHELL: field})
