"""Depictions and the HTML report: the SVG parses as XML, the atoms marked
with a piece are exactly those --align lists, bonds are drawn with as many
lines as their order, and a real browser shows the highlights."""

import math
import os
import re
import shutil
import subprocess
import xml.etree.ElementTree as ET

import pytest

import taviron
from conftest import COMPOUNDS, NCI, run

SVG = "{http://www.w3.org/2000/svg}"
PIECE_COLOURS = ["#7fd17f", "#8cb4f0", "#f5ad66"]  # pieces 1 to 3

# (file, first entry, second entry, options): one piece, several pieces,
# element docking, the extension, R atoms, no alignment, a salt without bonds.
PAIRS = [
    (COMPOUNDS, "C00009", "C00010", []),
    (COMPOUNDS, "C00012", "C00015", []),
    (COMPOUNDS, "C00013", "C00016", ["-a"]),
    (COMPOUNDS, "C00001", "C00018", []),
    (NCI, "C00020", "C00021", []),
    (NCI, "C00003", "C00004", ["--trick", "1"]),
    (NCI, "C00108", "C01003", []),
    (NCI, "C00001", "C00002", []),
]


def align_pieces(path, a, b, options):
    """{(compound, atom): piece} as taviron --align prints the alignment."""
    text = run("TAVIRON_BIN", path, "-e", a, "-f", b, "--align", *options)
    out = {}
    for m in re.finditer(r"^(\d+):\[[^\]]*\]\t(\d+):\[[^\]]*\]\t#[#!] SCCS (\d+)", text, re.M):
        out[(1, int(m[1]))] = int(m[3])
        out[(2, int(m[2]))] = int(m[3])
    return out


def svg_pieces(root):
    """{(compound, atom): piece} of the data-piece marks, and the atoms drawn."""
    pieces, atoms = {}, {1: [], 2: []}
    for mol in root.iter(SVG + "g"):
        if mol.get("class") != "mol":
            continue
        compound = int(mol.get("data-compound"))
        for el in mol.iter():
            if el.get("data-atom") is not None:
                atoms[compound].append(int(el.get("data-atom")))
                if el.get("data-piece") is not None:
                    pieces[(compound, int(el.get("data-atom")))] = int(el.get("data-piece"))
    return pieces, atoms


@pytest.mark.parametrize("path,a,b,options", PAIRS)
def test_pieces_are_the_alignment(path, a, b, options):
    root = ET.fromstring(run("TAVIRON_DEPICT_BIN", path, "-e", a, "-f", b, *options))
    pieces, atoms = svg_pieces(root)
    assert pieces == align_pieces(path, a, b, options)
    records = {c.id: c for c in taviron.read_qtr(path)}
    for compound, entry in ((1, a), (2, b)):
        assert sorted(atoms[compound]) == list(range(1, len(records[entry].atoms) + 1))


@pytest.mark.parametrize("entry", ["C00006", "C00010", "C00017", "C00018", "C00019"])
def test_bonds_drawn_as_the_record_says(compounds, entry):
    c = compounds[entry]
    root = ET.fromstring(c._repr_svg_())
    drawn = {}
    for g in root.iter(SVG + "g"):
        if g.get("data-bond") is not None:
            drawn[g.get("data-bond")] = len(g.findall(SVG + "line"))
    assert drawn == {f"{b.a}-{b.b}": b.order for b in c.bonds}
    # Carbons with bonds go unlabelled, every other atom shows its element.
    labels = {int(g.get("data-atom")): (g.findtext(SVG + "text") or "")
              for g in root.iter(SVG + "g") if g.get("data-atom") is not None}
    bonded = {x for b in c.bonds for x in (b.a, b.b)}
    assert labels == {at.number: "" if at.element == "C" and at.number in bonded else at.element
                      for at in c.atoms}


def test_result_svg_matches_alignment(nci):
    by_id = {c.id: c for c in nci}
    r = taviron.compare(by_id["C00020"], by_id["C00021"])
    pieces, _ = svg_pieces(ET.fromstring(r._repr_svg_()))
    expected = {}
    for p in r.alignment:
        expected[(1, p.a)] = expected[(2, p.b)] = p.piece
    assert len({p.piece for p in r.alignment}) > 1 and pieces == expected


def labels(svg):
    """{atom: label as drawn} of a drawing, its text elements joined ("NH2");
    hydrogens shown in a neighbour's label are marked "folded"."""
    out = {}
    for g in ET.fromstring(svg).iter(SVG + "g"):
        if g.get("data-atom") is not None:
            text = "".join("".join(t.itertext()) for t in g.iter(SVG + "text"))
            out[int(g.get("data-atom"))] = "folded" if g.get("data-folded") else text
    return out


def test_hydrogen_labels_from_explicit_hydrogens(compounds):
    # Ethanol writes every hydrogen: its hydroxyl's goes into the label, the
    # carbons keep theirs; water's both. Alanine writes none: no counts.
    assert labels(compounds["C00013"]._repr_svg_()) == {
        1: "", 2: "", 3: "OH", 4: "H", 5: "H", 6: "H", 7: "H", 8: "H", 9: "folded"}
    assert labels(compounds["C00014"]._repr_svg_()) == {1: "OH2", 2: "folded", 3: "folded"}
    assert labels(compounds["C00001"]._repr_svg_()) == {
        1: "", 2: "", 3: "N", 4: "", 5: "O", 6: "O"}


@pytest.mark.skipif(not taviron.HAVE_RDKIT, reason="built without RDKit")
def test_hydrogen_labels_from_smiles():
    c = taviron.from_smiles("OCC(N)c1cc[nH]c1C(=O)[O-]")
    heteroatoms = {a.number: labels(c._repr_svg_())[a.number] for a in c.atoms if a.element != "C"}
    assert heteroatoms == {1: "OH", 4: "NH2", 8: "NH", 11: "O", 12: "O"}
    r = taviron.compare(c, taviron.from_smiles("OCCN"))
    assert "NH2" in labels(r._repr_svg_()).values()


def test_records_without_coordinates_and_hostile_names():
    text = ("ENTRY       C00001                      Compound\n"
            "NAME        A <b>&\"bad\x01 \xff name;\n"
            "ATOM        3\n"
            "            1   C.sp3.1    C      0.0000     0.0000\n"
            "            2   O.sp3.1    O      0.0000     0.0000\n"
            "            3   C.sp3.1    C      nan        1e308\n"
            "BOND        2\n"
            "            1     1   2 1\n"
            "            2     1   9 1\n"
            "///\n").encode("latin-1")
    c = taviron.parse_qtr(text)[0]
    svg = c._repr_svg_()
    root = ET.fromstring(svg)  # well-formed despite the name
    assert "schematic layout" in svg
    coordinates = [float(v) for el in root.iter() for k, v in el.attrib.items()
                   if k in ("x", "y", "x1", "y1", "x2", "y2", "cx", "cy", "r") and "%" not in v]
    assert coordinates and all(math.isfinite(v) and abs(v) < 2000 for v in coordinates)
    assert [g.get("data-bond") for g in root.iter(SVG + "g") if g.get("data-bond")] == ["1-2"]


def test_depict_errors(tmp_path):
    program = os.environ.get("TAVIRON_DEPICT_BIN") or pytest.skip("TAVIRON_DEPICT_BIN not set")
    for args, message in [(["-e", "9"], "specify both entries"),
                          (["-e", "9", "-f", "99"], "99: no such entry"),
                          (["-e", "9", "-f", "10", "-o", str(tmp_path / "no/x.svg")],
                           "cannot write")]:
        done = subprocess.run([program, COMPOUNDS, *args], capture_output=True)
        assert done.returncode == 9 and message in done.stderr.decode()


def search(*args):
    return run("TAVIRON_SEARCH_BIN", "-q", *args)


def report(tmp_path, *args):
    html = tmp_path / "report.html"
    tsv = search(*args, "--html", str(html))
    assert tsv == search(*args)  # the rows themselves do not change
    return html.read_text(), tsv


@pytest.mark.parametrize("args,drawn", [
    (["-e", "9", "-e", "10", "--min", "0.4", COMPOUNDS, COMPOUNDS], 9),
    (["-e", "20", "-e", "108", "--min", "0.3", "--html-max", "5", NCI, NCI], 5),
    (["--pairs", COMPOUNDS, "--min", "0.99", "--html-max", "0"], 0),
    (["-e", "10", "-e", "20", "--top", "5", "--no-self", "--html-max", "8", NCI, NCI], 8),
])
def test_report_page(tmp_path, args, drawn):
    page, tsv = report(tmp_path, *args)
    rows = tsv.count("\n") - 1
    assert page.count("<tr><td class=\"n\">") == rows
    templates = re.findall(r"<template>(.*?)</template>", page, re.S)
    assert len(templates) == min(rows, drawn)
    for k, svg in enumerate(templates):
        root = ET.fromstring(svg)
        query, target = tsv.splitlines()[k + 1].split("\t")[:2]
        names = [t.text for t in root.iter(SVG + "text")]
        assert query in names and target in names
    # Self-contained: nothing is loaded from elsewhere.
    assert not re.search(r"""(src|href)\s*=\s*["']?(https?:|//)""", page)
    assert "<link" not in page and "@import" not in page


def test_html_max_refused(tmp_path):
    program = os.environ.get("TAVIRON_SEARCH_BIN") or pytest.skip("TAVIRON_SEARCH_BIN not set")
    done = subprocess.run([program, "--pairs", COMPOUNDS, "--html", str(tmp_path / "r.html"),
                           "--html-max", "-1"], capture_output=True)
    assert done.returncode == 9 and b"bad value for --html-max: '-1'" in done.stderr


# ---------------------------------------------------------------------------
# In a real browser


def browser():
    for name in ("chromium-headless-shell", "chromium"):
        if shutil.which(name):
            return shutil.which(name)
    pytest.skip("no headless Chromium (apt-get install chromium-headless-shell)")


def screenshot(tmp_path, url, size):
    """The page as Chromium draws it, as a list of (r, g, b) pixels."""
    image = pytest.importorskip("PIL.Image", reason="needs Pillow (apt-get install python3-pil)")
    png = tmp_path / "shot.png"
    # The browser is not instrumented: keep the sanitizer runtime out of it.
    env = {k: v for k, v in os.environ.items()
           if k not in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")}
    subprocess.run([browser(), "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                    "--no-first-run", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync",
                    f"--user-data-dir={tmp_path / 'profile'}", "--hide-scrollbars",
                    "--virtual-time-budget=5000", f"--window-size={size}",
                    f"--screenshot={png}", url],
                   env=env, capture_output=True, timeout=120, check=True)
    with image.open(png) as im:
        return list(im.convert("RGB").getdata())


def share(pixels, colour, tolerance=6):
    """Fraction of the pixels within `tolerance` of colour (#rrggbb)."""
    want = tuple(int(colour[i:i + 2], 16) for i in (1, 3, 5))
    close = sum(1 for p in pixels if all(abs(a - b) <= tolerance for a, b in zip(p, want)))
    return close / len(pixels)


# ---------------------------------------------------------------------------
# PNG


def png_pixels(data):
    image = pytest.importorskip("PIL.Image", reason="needs Pillow (apt-get install python3-pil)")
    import io
    with image.open(io.BytesIO(data)) as im:
        return im.size, im.convert("RGB")


def aligned_discs(svg):
    """(piece, x, y, r) of each aligned atom's highlight, in page pixels."""
    out = []
    for mol in ET.fromstring(svg).iter(SVG + "g"):
        if mol.get("class") != "mol":
            continue
        dx, dy = map(float, re.match(r"translate\(([-\d.]+),([-\d.]+)\)",
                                     mol.get("transform")).groups())
        for g in mol.iter(SVG + "g"):
            circle = g.find(SVG + "circle")
            if g.get("data-piece") and circle is not None:
                out.append((int(g.get("data-piece")), dx + float(circle.get("cx")),
                            dy + float(circle.get("cy")), float(circle.get("r"))))
    return out


@pytest.mark.skipif(not taviron.HAVE_PNG, reason="built without librsvg (librsvg2-dev)")
@pytest.mark.parametrize("scale", [1.0, 2.0])
def test_png_shows_the_pieces(nci, scale):
    by_id = {c.id: c for c in nci}
    r = taviron.compare(by_id["C00020"], by_id["C00021"])
    svg = r._repr_svg_()
    root = ET.fromstring(svg)
    (w, h), im = png_pixels(r.to_png(scale=scale))
    assert (w, h) == (round(float(root.get("width")) * scale),
                      round(float(root.get("height")) * scale))
    discs = aligned_discs(svg)
    assert len(discs) == 2 * r.score
    for piece, x, y, radius in discs:
        # Most of the disc shows its piece's colour; a label or bond may cover some.
        reach = 0.8 * radius * scale
        spots = [im.getpixel((round(x * scale + reach * math.cos(t / 8 * math.pi)),
                              round(y * scale + reach * math.sin(t / 8 * math.pi))))
                 for t in range(16)]
        colour = PIECE_COLOURS[piece - 1] if piece <= 3 else "#d99be8"
        want = tuple(int(colour[i:i + 2], 16) for i in (1, 3, 5))
        near = sum(all(abs(a - b) <= 12 for a, b in zip(p, want)) for p in spots)
        assert near >= 8, (piece, x, y, spots)


@pytest.mark.skipif(not taviron.HAVE_PNG, reason="built without librsvg (librsvg2-dev)")
def test_depict_png_is_the_pictures(tmp_path, nci):
    png = tmp_path / "pair.png"
    run("TAVIRON_DEPICT_BIN", NCI, "-e", "20", "-f", "21", "--png", "--scale", "1.5",
        "-o", str(png))
    by_id = {c.id: c for c in nci}
    expected = taviron.compare(by_id["C00020"], by_id["C00021"]).to_png(scale=1.5)
    (size, got), (size_expected, want) = png_pixels(png.read_bytes()), png_pixels(expected)
    assert size == size_expected and got.tobytes() == want.tobytes()
    with pytest.raises(ValueError, match="scale"):
        by_id["C00020"].to_png(scale=0)
    program = os.environ["TAVIRON_DEPICT_BIN"]
    done = subprocess.run([program, NCI, "-e", "20", "-f", "21", "--png", "--scale", "20"],
                          capture_output=True)
    assert done.returncode == 9 and b"bad value for --scale: '20'" in done.stderr


def test_browser_draws_depiction(tmp_path):
    svg = tmp_path / "pair.svg"
    run("TAVIRON_DEPICT_BIN", NCI, "-e", "20", "-f", "21", "-o", str(svg))
    pixels = screenshot(tmp_path, svg.as_uri(), "700,300")
    assert share(pixels, "#ffffff", 0) < 0.97  # not blank
    assert share(pixels, "#222222", 40) > 0.001  # bonds and labels
    for colour in PIECE_COLOURS:
        assert share(pixels, colour) > 0.0005, colour


def test_browser_draws_report(tmp_path):
    html = tmp_path / "report.html"
    search("--pairs", COMPOUNDS, "--min", "0.5", "--html-max", "3", "--html", str(html))
    pixels = screenshot(tmp_path, html.as_uri(), "1000,3000")
    assert share(pixels, "#ffffff", 0) < 0.97
    # Highlights appear only once the page's script has drawn the depictions.
    assert share(pixels, PIECE_COLOURS[0]) > 0.001


def test_browser_report_cards_in_a_grid(tmp_path):
    """The cards line up: equal widths, rows with one top and one height,
    columns with one left edge, and each drawing inside its card."""
    html = tmp_path / "report.html"
    search("--pairs", COMPOUNDS, "--min", "0.3", "--names", "--html-max", "7", "--html", str(html))
    page = html.read_text()
    assert re.search(r"<th>options</th><td>--pairs, [^<]*--names", page)
    probe = ("<script>window.addEventListener('load',function(){var out=[];"
             "document.querySelectorAll('figure.pair').forEach(function(f){"
             "var b=f.getBoundingClientRect(),s=f.querySelector('svg'),"
             "d=s?s.getBoundingClientRect():null;"
             "out.push([b.left,b.top,b.width,b.height,d?d.left:0,d?d.right:0]);});"
             "var p=document.createElement('pre');p.id='boxes';"
             "p.textContent=JSON.stringify(out);document.body.appendChild(p);});</script>")
    probed = tmp_path / "probed.html"
    probed.write_text(page.replace("</body>", probe + "</body>"))
    env = {k: v for k, v in os.environ.items()
           if k not in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")}
    done = subprocess.run([browser(), "--headless", "--no-sandbox", "--disable-gpu",
                           "--no-first-run", "--disable-background-networking",
                           "--disable-component-update", "--disable-sync",
                           f"--user-data-dir={tmp_path / 'profile'}", "--window-size=1400,900",
                           "--virtual-time-budget=5000", "--dump-dom", probed.as_uri()],
                          env=env, capture_output=True, timeout=120, check=True)
    import json
    boxes = json.loads(re.search(r'<pre id="boxes">(.*?)</pre>', done.stdout.decode(), re.S)[1])
    assert len(boxes) == 7
    rows = {}
    for left, top, width, height, art_left, art_right in boxes:
        rows.setdefault(round(top), []).append((left, width, height))
        if art_right:  # drawn: inside its card
            assert left <= art_left and art_right <= left + width + 0.5
    assert len(rows) >= 2 and max(len(r) for r in rows.values()) >= 2
    assert len({round(w) for _, w, _ in sum(rows.values(), [])}) == 1
    columns = [left for left, _, _ in next(iter(rows.values()))]
    for cards in rows.values():
        assert len({round(h) for _, _, h in cards}) == 1
        assert [round(x) for x, _, _ in cards] == [round(x) for x in columns[:len(cards)]]
