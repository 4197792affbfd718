"""The faces scripts/derive-fonts makes: Word's line height, and nothing else of the free face
changed (a changed width would move every line break of the documents set in it)."""
import importlib.machinery
import importlib.util
import os
import subprocess
import tempfile
import unittest

from fontTools.ttLib import TTFont

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, "scripts", "derive-fonts")
FONTS = os.environ.get("VELLUMOR_ENGINE_FONTS") or os.path.join(
    os.environ.get("XDG_CACHE_HOME") or os.path.join(os.environ.get("HOME", "/"), ".cache"),
    "vellumor", "engine-fonts")


def load_script():
    loader = importlib.machinery.SourceFileLoader("derive_fonts", SCRIPT)
    spec = importlib.util.spec_from_loader("derive_fonts", loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


@unittest.skipUnless(os.path.isdir(os.path.join(FONTS, "fonts-farsiweb")) and
                     os.path.isdir(os.path.join(FONTS, "fonts-nanum")),
                     "the engine's fonts are not unpacked (scripts/setup)")
class DerivedFaces(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.out = tempfile.TemporaryDirectory()
        subprocess.run([SCRIPT, FONTS, cls.out.name], check=True)
        cls.derive = load_script()

    @classmethod
    def tearDownClass(cls):
        cls.out.cleanup()

    def pair(self, source, derived):
        return (TTFont(self.derive.find(FONTS, source)),
                TTFont(os.path.join(self.out.name, derived)))

    def test_only_the_line_and_the_names_change(self):
        for source, derived, family, style in [
                ("nazli.ttf", "NazliLines-Regular.ttf", "Nazli Lines", "Regular"),
                ("nazlib.ttf", "NazliLines-Bold.ttf", "Nazli Lines", "Bold"),
                ("NanumGothic.ttf", "KRGothicLines-Regular.ttf", "KR Gothic Lines", "Regular"),
                ("NanumGothicBold.ttf", "KRGothicLines-Bold.ttf", "KR Gothic Lines", "Bold")]:
            free, ours = self.pair(source, derived)
            self.assertEqual(free["hmtx"].metrics, ours["hmtx"].metrics, derived)
            self.assertEqual(free.getGlyphOrder(), ours.getGlyphOrder())
            self.assertEqual(free["head"].unitsPerEm, ours["head"].unitsPerEm)
            for name in ("glyf", "loca", "GSUB", "GPOS", "GDEF", "kern"):
                if name in free:  # the tables as stored, byte for byte
                    self.assertEqual(free.reader[name], ours.reader[name], name)
            # The character map is rewritten on saving; what it maps stays.
            self.assertEqual([(t.platformID, t.platEncID, t.cmap) for t in free["cmap"].tables],
                             [(t.platformID, t.platEncID, t.cmap) for t in ours["cmap"].tables])
            names = ours["name"]
            self.assertEqual(names.getDebugName(1), family)
            self.assertEqual(names.getDebugName(2), style)
            # Nothing of the new face answers to the free face's names (Nanum's licence reserves
            # them, and a copy must never stand in for the face it comes from).
            own = [r.toUnicode() for r in free["name"].names if r.nameID in (1, 4, 6)]
            for record in names.names:
                if record.nameID in (1, 4, 6, 16):
                    self.assertNotIn(record.toUnicode(), own)
                    self.assertNotIn("Nanum", record.toUnicode())

    def test_the_regular_face_has_word_s_line_and_the_bold_the_same_ratio(self):
        free, ours = self.pair("nazli.ttf", "NazliLines-Regular.ttf")
        units = ours["head"].unitsPerEm
        line = self.derive.line_units(ours)
        self.assertEqual(line, round(1.4827 * units))
        # The office on Linux and layouts that read the win metrics see the same line.
        self.assertEqual(ours["OS/2"].usWinAscent + ours["OS/2"].usWinDescent, line)
        ratio = line / self.derive.line_units(free)
        free_bold, bold = self.pair("nazlib.ttf", "NazliLines-Bold.ttf")
        self.assertAlmostEqual(self.derive.line_units(bold),
                               self.derive.line_units(free_bold) * ratio, delta=1)
        # The Persian face keeps its ascent: its text stays where it was on its line.
        self.assertEqual(free["hhea"].ascent, ours["hhea"].ascent)

    def test_the_korean_face_has_word_s_east_asian_line_around_its_letters(self):
        free, ours = self.pair("NanumGothic.ttf", "KRGothicLines-Regular.ttf")
        units = ours["head"].unitsPerEm
        self.assertEqual(self.derive.line_units(ours), round(1.729 * units))
        grown = self.derive.line_units(ours) - self.derive.line_units(free)
        self.assertGreater(grown, 0)
        self.assertAlmostEqual(ours["hhea"].ascent - free["hhea"].ascent, grown / 2, delta=1)

    def test_fontconfig_sees_each_family_with_both_styles(self):
        listed = subprocess.run(["fc-scan", "--format", "%{family}|%{style}\n", self.out.name],
                                capture_output=True, text=True, check=True).stdout.splitlines()
        self.assertEqual(sorted(listed), ["KR Gothic Lines|Bold", "KR Gothic Lines|Regular",
                                          "Nazli Lines|Bold", "Nazli Lines|Regular"])


if __name__ == "__main__":
    unittest.main()
