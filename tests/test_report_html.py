"""The HTML mapping report: one self-contained page whose pictures all decode, with every body in
its table, read back by an HTML parser and drawn by a headless browser."""
import base64
import io
import json
import os
import shutil
import subprocess
import sys
import warnings
from html.parser import HTMLParser
from pathlib import Path

import numpy as np
import pytest

import kelm
import loadscribe

ROOT = Path(__file__).resolve().parents[1]
sys.path[:0] = [str(ROOT / "examples"), str(ROOT / "tools")]
import main_road  # noqa: E402
import mainroad  # noqa: E402

image = pytest.importorskip("matplotlib.image")


class Page(HTMLParser):
    """The images, the first cell of every table row and the text of a report page."""

    def __init__(self, text):
        super().__init__()
        self.images, self.first_cells, self.text = [], [], []
        self._row, self._cell = None, None
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        if tag == "img":
            self.images.append(dict(attrs)["src"])
        elif tag == "tr":
            self._row = []
        elif tag in ("td", "th") and self._row is not None:
            self._cell = []

    def handle_endtag(self, tag):
        if tag in ("td", "th") and self._cell is not None:
            self._row.append("".join(self._cell))
            self._cell = None
        elif tag == "tr" and self._row:
            self.first_cells.append(self._row[0])
            self._row = None

    def handle_data(self, data):
        self.text.append(data)
        if self._cell is not None:
            self._cell.append(data)


def decoded(src):
    assert src.startswith("data:image/png;base64,"), src[:40]  # embedded, nothing to fetch
    return image.imread(io.BytesIO(base64.b64decode(src.split(",", 1)[1], validate=True)))


def run_road(out, field, pictures):
    """The main road for one field of the demo's model and sources (a smaller pressure cloud);
    (report dict, HTML text)."""
    kelm.reset()
    loadscribe.macro = ""
    out.mkdir()
    model = main_road.demo_model()
    if field == "Pressure":
        source, method = main_road.pressure_cloud(count=4000), "Point cloud or mesh"
    else:
        source, method = main_road.temperature_surface(model), "Mesh only"
    mainroad.map_field([model], source, field, method, tolerance=0.02, boundary_only=True,
                       out_dir=str(out), pictures=pictures, quiet=True)
    tag = field.lower()
    report = json.loads((out / f"report_{tag}.json").read_text())
    return report, (out / f"report_{tag}.html").read_text()


@pytest.fixture(scope="module")
def with_pictures(tmp_path_factory):
    # The temperature on the model's own surface reaches no bar: the beams' points get no value.
    return run_road(tmp_path_factory.mktemp("html") / "out", "Temperature", True)


class TestPage:
    def test_every_image_decodes_to_a_picture(self, with_pictures):
        report, text = with_pictures
        assert report["unmapped_points"]["Demo/Frame/Beams"] > 0
        page = Page(text)
        # source, mapped model, unmapped points, distance; two histograms
        assert len(page.images) == 6
        for src in page.images:
            pixels = decoded(src)
            assert pixels.shape[0] > 100 and pixels.shape[1] > 100
            assert len(np.unique(pixels.reshape(-1, pixels.shape[2]), axis=0)) > 20

    def test_every_body_is_in_the_table(self, with_pictures):
        report, text = with_pictures
        bodies = [b["body"] for b in report["bodies"]]
        assert len(bodies) > 3
        rows = Page(text).first_cells
        assert all(body in rows for body in bodies), (bodies, rows)

    def test_the_command_and_the_mapping_call_are_given(self, with_pictures):
        _, text = with_pictures
        words = " ".join(Page(text).text)
        assert ("map_scalar_field_to_mesh('Temperature', 'Mesh only', source, model, True, 0.02)"
                in words)
        assert sys.executable in words  # the command line of the process that wrote it
        assert "Force balance" not in words  # temperatures carry no force

    def test_without_pictures_a_pressure_page_has_histograms_tables_and_forces(self, tmp_path):
        report, text = run_road(tmp_path / "out", "Pressure", False)
        page = Page(text)
        assert len(page.images) == 2  # values and distances
        for src in page.images:
            decoded(src)
        assert report["bodies"][0]["body"] in page.first_cells
        words = " ".join(page.text)
        assert "loaded force (Fx, Fy, Fz) [N]" in words and "no surface to take a force" in words
        # Distances to the surface the cloud samples: finite lengths everywhere, none capped.
        assert all(b.get("beyond_reach", 0) == 0 for b in report["bodies"])
        assert all(np.isfinite(b["largest_distance"]) for b in report["bodies"])
        assert not list((tmp_path / "out").glob(".report_*"))  # no picture files left behind


def test_scalar_bar_labels_differ_and_capped_distances_are_no_lengths():
    from report_html import distances, label_format
    for lo, hi in ((100.0, 100.3), (101325.0, 101325.5), (0.0, 1.0), (-2e-7, 3e-7)):
        fmt = label_format(lo, hi, 5)
        assert len({fmt % v for v in np.linspace(lo, hi, 5)}) == 5, (lo, hi, fmt)
    assert label_format(0.0, 1.0, 5) == "%.3g"  # no more digits than it takes
    import vtk
    from vtk.util import numpy_support as ns
    leaf = vtk.vtkPolyData()
    array = ns.numpy_to_vtk(np.array([0.25, 1e38, 0.5], np.float32), deep=1)
    array.SetName("Distance")
    leaf.GetPointData().AddArray(array)
    root = vtk.vtkMultiBlockDataSet()
    root.SetBlock(0, leaf)
    measured, beyond = distances(root)
    assert measured.tolist() == [0.25, 0.5] and beyond == 1


def test_a_constant_field_draws_its_histograms_without_numpy_warnings():
    from report_html import histogram_png
    steady = np.array([101325.0, np.nextafter(101325.0, 2e5)])  # constant but for round-off
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        for weights in (np.ones(2), np.zeros(2)):  # faces of no area weigh nothing
            png = histogram_png([("source", steady, weights), ("mapped", steady)], "p", "t")
            assert image.imread(io.BytesIO(png), format="png").size


CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--hide-scrollbars"]


def without_sanitizers(environment):
    """The browser is not ours to check: the sanitizer run preloads its runtime into every child,
    which leaves the browser hanging."""
    return {k: v for k, v in environment.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS",
                                                               "UBSAN_OPTIONS")}


def test_a_browser_draws_the_page(with_pictures, tmp_path):
    chromium = shutil.which("chromium")
    if chromium is None:
        pytest.skip("chromium is not installed (scripts/install-deps installs it)")
    _, text = with_pictures
    page = tmp_path / "report.html"
    page.write_text(text)
    shot = tmp_path / "shot.png"
    profile = tmp_path / "profile"
    profile.mkdir()
    run = subprocess.run([chromium, *CHROMIUM_FLAGS, f"--user-data-dir={profile}",
                          f"--screenshot={shot}", "--window-size=1200,1600", page.as_uri()],
                         capture_output=True, text=True, timeout=120,
                         env=without_sanitizers(os.environ))
    assert shot.exists(), run.stderr
    pixels = image.imread(str(shot))[..., :3]
    colours = np.unique((pixels * 255).astype(np.uint8).reshape(-1, 3), axis=0)
    assert len(colours) > 200  # text, tables and the embedded pictures, not a blank page
    # The embedded model pictures have the dark background: a good share of dark pixels.
    assert (pixels.max(axis=2) < 0.2).mean() > 0.05
