"""The refinement from Python: vabo.refine and its Result."""

import math
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import numpy
import pytest

import vabo
from conftest import (NAMES, START, model_angles, require, run_program,
                      weighted_copy)


@pytest.fixture(scope="module")
def weighted(example, tmp_path_factory):
    """The example with uneven weights (one point of weight 0 and a wrong
    angle), as a file for the program and as rows for the module."""
    path = str(tmp_path_factory.mktemp("weighted") / "weighted.dat")
    return path, weighted_copy(example, path)


def refine_rows(rows, start=START, **options):
    """vabo.refine on rows (TwoTheta, i1, i2, weight): the columns are
    strided views of the rows."""
    return vabo.refine(rows[:, 0], rows[:, 1], rows[:, 2], start,
                       weight=rows[:, 3], **options)


# label, program start values and options, module options, exit status
PROGRAM_CASES = [
    ("defaults", START, [], {}, 0),
    ("pix1 refined, rot2 kept", ["~75_um"] + START[1:6] + ["=0", "0"], [],
     {"refine": "pix1", "keep": ["rot2"]}, 0),
    ("two steps", START, ["maxiter=2", "mindev=1_urad"],
     {"maxiter": 2, "mindev": "1_urad"}, 0),
    ("fit too poor", START, ["maxdev=1_urad"], {"maxdev": "1_urad"}, 65),
    ("rot3 refined", START[:7] + ["~0"], [], {"refine": "rot3"}, 33),
]


@pytest.mark.parametrize("label, start, options, kwargs, status",
                         PROGRAM_CASES, ids=[c[0] for c in PROGRAM_CASES])
def test_refine_gives_the_programs_numbers_bit_for_bit(
        weighted, tmp_path, label, start, options, kwargs, status):
    path, rows = weighted
    code, document = run_program(str(tmp_path), path, start, options)
    result = refine_rows(rows, **kwargs)
    assert code == status and result.status == status
    mine = result.to_dict()
    for key in ("arguments", "input"):
        del mine[key], document[key]
    assert mine == document
    if status != 33:
        parameters = document["parameters"]
        assert result.values.tolist() == [
            parameters[n]["value"] for n in NAMES]
        assert result.deviations.tolist() == [
            parameters[n]["deviation"] for n in NAMES]
        assert result.covariance.tolist() == document["covariance"]["matrix"]


@pytest.fixture(scope="module")
def planted(example, tmp_path_factory):
    """The example with one point in twenty moved onto the angle of a
    neighbouring ring, as a file for the program and as rows."""
    rows = example.copy()
    rings = numpy.unique(rows[:, 0])
    for k in range(3, len(rows), 20):
        ring = numpy.searchsorted(rings, rows[k, 0])
        rows[k, 0] = rings[ring + 1 if ring + 1 < len(rings) else ring - 1]
    path = str(tmp_path_factory.mktemp("planted") / "planted.dat")
    with open(path, "w") as f:
        f.write("# planted outliers\n")
        for row in rows:
            f.write("%.17g %.17g %.17g %.17g\n" % tuple(row))
    return path, rows


FAR = ["75_um", "75_um", 1400, 700, "30_cm", "0.12", "-0.1", 0]
# label, program start values and options, module options
ROBUST_CASES = [
    ("reject", START, ["reject=4"], {"reject": 4}),
    ("reject expression", START, ["reject=3.5"], {"reject": "7/2"}),
    ("lm", START, ["method=lm"], {"method": "lm"}),
    ("lm far start", [str(v) for v in FAR], ["method=lm"], {"method": "lm"}),
    ("lm reject far start", [str(v) for v in FAR],
     ["method=lm", "reject=3"], {"method": "lm", "reject": 3}),
    ("gn reject two steps", START, ["reject=4", "maxiter=2"],
     {"reject": 4, "maxiter": 2}),
]


@pytest.mark.parametrize("label, start, options, kwargs", ROBUST_CASES,
                         ids=[c[0] for c in ROBUST_CASES])
def test_robust_options_give_the_programs_numbers_bit_for_bit(
        planted, tmp_path, label, start, options, kwargs):
    path, rows = planted
    code, document = run_program(str(tmp_path), path, start, options)
    result = vabo.refine(rows[:, 0], rows[:, 1], rows[:, 2], start,
                         weight=rows[:, 3], **kwargs)
    assert result.status == code
    mine = result.to_dict()
    for key in ("arguments", "input"):
        del mine[key], document[key]
    # The program names rejected points by their line (after one comment
    # line), the module by their index.
    if "rejection" in document:
        for point in document["rejection"]["points"]:
            point["index"] = point.pop("line") - 2
        assert document["rejection"]["points"], "nothing was rejected"
        assert result.rejection == mine["rejection"]
        for point in result.rejection["points"]:
            assert [point["angle"], point["i1"], point["i2"]] == \
                rows[point["index"], :3].tolist()
    assert mine == document


def test_robust_arguments_are_checked():
    tth, i1, i2 = numpy.zeros(3), numpy.zeros(3), numpy.zeros(3)
    for reject, message in ((0, "reject is 0"), (-1, "reject is -1"),
                            (math.inf, "reject is inf")):
        with pytest.raises(ValueError, match=message):
            vabo.refine(tth, i1, i2, START, reject=reject)
    with pytest.raises(vabo.ExpressionError):
        vabo.refine(tth, i1, i2, START, reject="4 sigma")
    with pytest.raises(ValueError, match="'gn'.*'lm'.*not 'LM'"):
        vabo.refine(tth, i1, i2, START, method="LM")
    assert vabo.refine(tth + 0.1, i1, i2, START).rejection is None


def test_failed_refinement_is_a_result_not_an_exception(example, tmp_path):
    result = refine_rows(example, refine="rot3")
    assert (result.status, result.message) == (
        33, "The optimization loop did not terminate successfully.")
    assert result.start.tolist() == [vabo.value(s) for s in START]
    for attribute in ("values", "deviations", "errors", "covariance",
                      "correlation", "statistics", "beam"):
        assert getattr(result, attribute) is None
    assert str(result) == result.message
    with pytest.raises(ValueError, match="no refined geometry"):
        result.to_poni(tmp_path / "failed.poni")


def test_refine_recovers_a_known_geometry():
    truth = numpy.array([1.72e-4, 1.72e-4, 811.37, 1204.52, 0.31415,
                         math.radians(2.385), math.radians(-1.75), 0.0])
    rng = numpy.random.default_rng(20131209)
    n, sigma = 20000, 2.5e-5
    i1 = rng.uniform(0, 2048, n)
    i2 = rng.uniform(0, 2048, n)
    tth = model_angles(truth, i1, i2) + rng.normal(0.0, sigma, n)
    start = ["172_um", "172_um", 790, 1230, "30_cm", "0", "0", "0"]
    result = vabo.refine(tth, i1, i2, start)
    assert result.status == 0
    refined = [NAMES.index(name) for name in result.refined]
    assert result.refined == ("cen1", "cen2", "dis", "rot1", "rot2")
    miss = numpy.abs(result.values - truth)[refined]
    assert numpy.all(miss < 5 * result.errors[refined])
    assert result.statistics["stdev"] == pytest.approx(sigma, rel=0.03)
    assert numpy.allclose(numpy.diag(result.correlation), 1.0)


def columns(rows):
    """The four columns as separate contiguous float64 arrays."""
    return {name: numpy.ascontiguousarray(rows[:, k])
            for k, name in enumerate(("tth", "i1", "i2", "weight"))}


# label, what to change in the arguments, exception, message
BAD_ARGUMENTS = [
    ("lengths differ", lambda a: a.update(i1=a["i1"][:-1]), ValueError,
     "i1 has 105 values, tth has 106"),
    ("NaN", lambda a: a["i2"].__setitem__(3, math.nan), ValueError,
     r"i2\[3\] is nan"),
    ("infinite weight", lambda a: a["weight"].__setitem__(0, math.inf),
     ValueError, r"weight\[0\] is inf"),
    ("negative weight", lambda a: a["weight"].__setitem__(5, -0.5),
     ValueError, r"weight\[5\] is -0.5"),
    ("empty", lambda a: a.update({k: a[k][:0] for k in
                                  ("tth", "i1", "i2", "weight")}),
     ValueError, "no calibration points"),
    ("two dimensions", lambda a: a.update(tth=a["tth"].reshape(2, 53)),
     ValueError, "one-dimensional"),
    ("texts", lambda a: a.update(tth=a["tth"].astype(str)), TypeError,
     "tth must hold real numbers"),
    ("complex", lambda a: a.update(i1=a["i1"].astype(complex)), TypeError,
     "i1 must hold real numbers"),
    ("seven start values", lambda a: a.update(start=START[:7]), ValueError,
     "8 values"),
    ("start as one text", lambda a: a.update(start=" ".join(START)),
     TypeError, "not one text"),
    ("start value None", lambda a: a["start"].__setitem__(4, None),
     TypeError, "start value of dis"),
    ("infinite start value", lambda a: a["start"].__setitem__(2, math.inf),
     ValueError, "start value of cen1 is inf"),
    ("bad start expression", lambda a: a["start"].__setitem__(4, "20_xm"),
     vabo.ExpressionError,
     "start value of dis: expression is not a float number"),
    ("unknown name", lambda a: a.update(refine="tilt"), ValueError,
     "unknown parameter 'tilt'"),
    ("refined and kept", lambda a: a.update(refine="dis", keep=("dis",)),
     ValueError, "dis is both in refine and in keep"),
    ("NaN maxdev", lambda a: a.update(maxdev=math.nan), ValueError,
     "maxdev is not a number"),
]


@pytest.mark.parametrize("label, change, exception, message", BAD_ARGUMENTS,
                         ids=[case[0] for case in BAD_ARGUMENTS])
def test_bad_arguments_raise_naming_the_argument(
        example, label, change, exception, message):
    arguments = dict(columns(example), start=list(START))
    change(arguments)
    with pytest.raises(exception, match=message):
        vabo.refine(**arguments)


# label, columns changed, column as given, column the numbers must equal
SAME_NUMBERS = [
    ("float32", ("tth", "i1", "i2", "weight"),
     lambda c: c.astype(numpy.float32),
     lambda c: c.astype(numpy.float32).astype(numpy.float64)),
    ("integer pixels", ("i1", "i2"),
     lambda c: numpy.rint(c).astype(numpy.int32), numpy.rint),
    ("strided views", ("tth", "i1", "i2", "weight"), lambda c: c[::2],
     lambda c: c[::2].copy()),
    ("lists", ("tth", "i1", "i2", "weight"), lambda c: c.tolist(),
     lambda c: c),
]


@pytest.mark.parametrize("label, changed, given, reference", SAME_NUMBERS,
                         ids=[case[0] for case in SAME_NUMBERS])
def test_array_likes_give_the_numbers_of_their_float64_values(
        example, label, changed, given, reference):
    data = columns(example)
    result = vabo.refine(start=START, **{
        k: given(c) if k in changed else c for k, c in data.items()})
    expected = vabo.refine(start=START, **{
        k: reference(c) if k in changed else c for k, c in data.items()})
    assert result.status == expected.status == 0
    assert result.values.tolist() == expected.values.tolist()
    assert result.deviations.tolist() == expected.deviations.tolist()
    assert result.statistics == expected.statistics


def test_poni_file_loads_in_pyfai(example, tmp_path):
    pyFAI = require("pyFAI")
    result = refine_rows(example)
    path = tmp_path / "example.poni"
    result.to_poni(path, wavelength="0.72932_Ao")
    ai = pyFAI.load(str(path))
    poni = result.to_dict()["poni"]
    assert (ai.dist, ai.poni1, ai.poni2, ai.rot1, ai.rot2, ai.rot3) == (
        poni["dist"], poni["poni1"], poni["poni2"], poni["rot1"],
        poni["rot2"], poni["rot3"])
    assert (ai.pixel1, ai.pixel2) == tuple(result.values[:2])
    assert ai.wavelength == 0.72932e-10
    ours = model_angles(result.values, example[:, 1], example[:, 2])
    theirs = ai.tth(example[:, 1], example[:, 2])
    assert numpy.max(numpy.abs(ours - theirs)) <= 1e-12


@pytest.mark.parametrize("path, wavelength, exception", [
    ("missing/dir.poni", None, FileNotFoundError),
    ("bad.poni", -1.0, ValueError),
    ("bad.poni", "0.7_xx", vabo.ExpressionError),
])
def test_to_poni_raises_for_what_it_cannot_write(
        example, tmp_path, path, wavelength, exception):
    result = refine_rows(example)
    with pytest.raises(exception):
        result.to_poni(tmp_path / path, wavelength=wavelength)
    assert not (tmp_path / path).exists()


def test_threads_use_the_library_one_at_a_time(example):
    expected = refine_rows(example).values.tolist()
    with ThreadPoolExecutor(4) as pool:
        fits = [pool.submit(refine_rows, example) for _ in range(6)]
        values = [pool.submit(vabo.value, "-22_deg") for _ in range(200)]
        assert all(f.result().values.tolist() == expected for f in fits)
        assert all(v.result() == -0.3839724354387525 for v in values)


def test_refine_lets_other_threads_run_meanwhile(example):
    rows = numpy.tile(example, (5000, 1))
    span = {}

    def work():
        span["start"] = time.perf_counter()
        refine_rows(rows)
        span["end"] = time.perf_counter()

    worker = threading.Thread(target=work)
    stamps = []
    worker.start()
    while worker.is_alive():
        stamps.append(time.perf_counter())
    worker.join()
    duration = span["end"] - span["start"]
    if duration < 0.05:
        pytest.skip("the refinement is too quick to tell")
    # Holding the GIL would stop this thread for the whole refinement; one
    # time stamp well inside it is enough to show that it ran meanwhile.
    inner = (span["start"] + 0.1 * duration, span["end"] - 0.1 * duration)
    assert any(inner[0] < t < inner[1] for t in stamps)
