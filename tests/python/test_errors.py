"""Bad input raises ValueError or OSError naming the argument and the value,
and never brings the interpreter down."""

import numpy as np
import pytest

import velmar
from conftest import one_layer_profile, pulse_record

NAN = float("nan")
GOOD = dict(thickness=[10.0, 0.0], density=[1.8, 2.2], vs=[200.0, 1000.0], damping=[0.05, 0.0])


def profile_with(**changes):
    kw = dict(GOOD)
    kw.update(changes)
    return lambda: velmar.Profile(**kw)


P = one_layer_profile()
REC = pulse_record(n=256)
F = [1.0, 2.0]

CASES = [
    # Profiles
    ("vs negative", profile_with(vs=[200.0, -120.0]), "vs[1]", "-120"),
    ("vs NaN", profile_with(vs=[NAN, 1000.0]), "vs[0]", "nan"),
    ("vs zero", profile_with(vs=[0.0, 1000.0]), "vs[0]", "got 0"),
    ("thickness zero", profile_with(thickness=[0.0, 0.0]), "thickness[0]", "got 0"),
    ("density negative", profile_with(density=[1.8, -2.2]), "density[1]", "-2.2"),
    ("density infinite", profile_with(density=[np.inf, 2.2]), "density[0]", "inf"),
    ("lengths differ", profile_with(density=[1.8, 2.0, 2.2]), "density", "3"),
    ("vs empty", profile_with(vs=[], thickness=[], density=[], damping=[]), "vs", "0"),
    ("damping 1", profile_with(damping=[1.0, 0.0]), "damping[0]", "got 1"),
    ("damping negative", profile_with(damping=[-0.01, 0.0]), "damping[0]", "-0.01"),
    ("both damping and qs", profile_with(qs=[10.0, 0.0]), "qs", "damping"),
    ("qs negative", lambda: velmar.Profile(thickness=[10.0], density=[1.8, 2.2], vs=[200.0, 1000.0],
                                           qs=[-5.0, 0.0]), "qs[0]", "got -5"),
    ("qs too small", lambda: velmar.Profile(thickness=[10.0], density=[1.8, 2.2], vs=[200.0, 1000.0],
                                            qs=[0.4, 0.0]), "qs[0]", "0.4"),
    ("vp not above vs", profile_with(vp=[150.0, 2000.0]), "vp[0]", "got 150"),
    ("qp without vp", profile_with(qp=[10.0, 0.0]), "qp", "vp"),
    ("2-D vs", profile_with(vs=[[200.0, 1000.0]]), "vs", "shape"),
    ("text vs", profile_with(vs=["fast", "slow"]), "vs", "fast"),
    ("unknown profile modulus", profile_with(modulus="stiff"), "modulus", "stiff"),
    # transfer
    ("freq NaN", lambda: velmar.transfer(P, [1.0, NAN]), "freqs[1]", "nan"),
    ("freq infinite", lambda: velmar.transfer(P, [np.inf]), "freqs[0]", "inf"),
    ("angle 90", lambda: velmar.transfer(P, F, angle=90.0), "angle", "got 90"),
    ("angle -95", lambda: velmar.transfer(P, F, angle=-95.0), "angle", "got -95"),
    ("angle NaN", lambda: velmar.transfer(P, F, angle=NAN), "angle", "nan"),
    ("depth negative", lambda: velmar.transfer(P, F, depth=-1.0), "depth", "got -1"),
    ("unknown wave", lambda: velmar.transfer(P, F, wave="Love"), "wave", "Love"),
    ("unknown modulus", lambda: velmar.transfer(P, F, modulus="hardin"), "modulus", "hardin"),
    ("unknown component", lambda: velmar.transfer(P, F, component="radial"), "component", "radial"),
    ("SH vertical", lambda: velmar.transfer(P, F, component="vertical"), "component", "vertical"),
    ("unknown quantity", lambda: velmar.transfer(P, F, quantity="energy"), "quantity", "energy"),
    ("P without vp", lambda: velmar.transfer(P, F, wave="P"), "vp", "P"),
    ("dormieux above 0.5", lambda: velmar.transfer(one_layer_profile(xi=0.6), F, modulus="dormieux"),
     "damping[0]", "0.6"),
    # records and propagation
    ("record dt zero", lambda: velmar.Record([0.0, 1.0], 0.0), "dt", "got 0"),
    ("record dt NaN", lambda: velmar.Record([0.0, 1.0], NAN), "dt", "nan"),
    ("record NaN sample", lambda: velmar.Record([0.0, NAN, 1.0], 0.01), "accel[1]", "nan"),
    ("record empty", lambda: velmar.Record([], 0.01), "accel", "0"),
    ("record units", lambda: velmar.Record([0.0, 1.0], 0.01, units="ft/s2"), "units", "ft/s2"),
    ("read_record dt negative", lambda: velmar.read_record("x.AT2", dt=-0.01), "dt", "-0.01"),
    ("unknown input", lambda: velmar.propagate(REC, P, input="borehole"), "input", "borehole"),
    ("unknown output quantity", lambda: velmar.propagate(REC, P, quantity="jerk"), "quantity", "jerk"),
    ("input depth negative", lambda: velmar.propagate(REC, P, input="within", input_depth=-2.0),
     "input_depth", "got -2"),
    ("scale NaN", lambda: velmar.propagate(REC, P, scale=NAN), "scale", "nan"),
    ("propagate angle", lambda: velmar.propagate(REC, P, angle=90.0), "angle", "got 90"),
    # entries that are no numbers, and numbers too large for a float
    ("vs huge integer", profile_with(vs=[200.0, 10**400]), "vs[1]", "401 digits"),
    ("angle huge integer", lambda: velmar.transfer(P, F, angle=10**400), "angle", "401 digits"),
    ("dt huge integer", lambda: velmar.Record([0.0, 1.0], 10**400), "dt", "401 digits"),
    ("vs boolean", profile_with(vs=[True, 1000.0]), "vs[0]", "True"),
    ("vs boolean array", profile_with(vs=np.array([True, True])), "vs", "boolean"),
    ("accel boolean", lambda: velmar.Record([0.0, False], 0.01), "accel[1]", "False"),
    ("vs text", profile_with(vs=[200.0, "300"]), "vs[1]", "300"),
    ("masked entry in a list", lambda: velmar.Record([1.0, np.ma.masked], 0.01), "accel[1]", "masked"),
    ("vs masked", profile_with(vs=np.ma.masked_array([200.0, 1000.0], mask=[False, True])), "vs[1]", "mask"),
    ("entry 3 named 3", lambda: velmar.Profile(thickness=[5.0, 5.0, 5.0, 5.0, 0.0], density=[1.8] * 5,
                                               vs=[200.0, 300.0, 400.0, None, 1000.0]), "vs[3]", "None"),
    ("freqs None", lambda: velmar.transfer(P, None), "freqs", "required"),
    ("freqs 2-D", lambda: velmar.transfer(P, [[1.0, 2.0], [3.0, NAN]]), "freqs[1, 1]", "nan"),
]


@pytest.mark.parametrize("call, arg, value", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_bad_input_names_argument_and_value(call, arg, value):
    with pytest.raises(ValueError) as info:
        call()
    message = str(info.value)
    assert arg in message and value in message, message


@pytest.mark.parametrize("call", [
    lambda: velmar.transfer("not a profile", [1.0]),
    lambda: velmar.propagate(np.zeros(10), P),
], ids=["transfer", "propagate"])
def test_wrong_kind_of_object_is_a_type_error(call):
    with pytest.raises(TypeError):
        call()


@pytest.mark.parametrize("call", [
    lambda: velmar.read_record("/no/such/folder/record.AT2"),
    lambda: velmar.read_record("/"),
    lambda: velmar.read_deck("/no/such/deck"),
    lambda: velmar.run_deck("/no/such/deck"),
], ids=["record missing", "record is a folder", "deck missing", "run deck missing"])
def test_missing_files_are_os_errors(call):
    with pytest.raises(OSError):
        call()


def test_library_check_reaches_python_as_value_error():
    """A check made only in the library (a Q of 0.5 or less through the C++
    door) still arrives as ValueError with the argument named."""
    core = velmar._velmar.Profile
    with pytest.raises(ValueError, match=r"vs\[1\]"):
        core(np.array([10.0, 0.0]), np.array([1.8, 2.2]), np.array([200.0, -1.0]), damping_s=np.array([0.0, 0.0]))
