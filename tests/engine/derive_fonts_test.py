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


@unittest.skipUnless(os.path.isdir(os.path.join(FONTS, "fonts-farsiweb")),
                     "the engine's fonts are not unpacked (scripts/setup)")
class DerivedFaces(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.out = tempfile.TemporaryDirectory()
        subprocess.run([SCRIPT, os.path.join(FONTS, "fonts-farsiweb"), cls.out.name], check=True)
        cls.derive = load_script()

    @classmethod
    def tearDownClass(cls):
        cls.out.cleanup()

    def pair(self, source, derived):
        return (TTFont(os.path.join(FONTS, "fonts-farsiweb", source)),
                TTFont(os.path.join(self.out.name, derived)))

    def test_only_the_line_and_the_names_change(self):
        for source, derived, style in [("nazli.ttf", "NazliLines-Regular.ttf", "Regular"),
                                       ("nazlib.ttf", "NazliLines-Bold.ttf", "Bold")]:
            free, ours = self.pair(source, derived)
            self.assertEqual(free["hmtx"].metrics, ours["hmtx"].metrics, derived)
            self.assertEqual(free.getGlyphOrder(), ours.getGlyphOrder())
            for name in ("glyf", "cmap", "GSUB", "GDEF", "head"):
                if name == "head":  # the save stamps a new modification time
                    self.assertEqual(free["head"].unitsPerEm, ours["head"].unitsPerEm)
                    continue
                self.assertEqual(free[name].compile(free), ours[name].compile(ours), name)
            self.assertEqual(free["hhea"].ascent, ours["hhea"].ascent)
            names = ours["name"]
            self.assertEqual(names.getDebugName(1), "Nazli Lines")
            self.assertEqual(names.getDebugName(2), style)
            # Nothing of the new face still answers to the free face's own family name.
            self.assertNotIn("Nazli", [r.toUnicode() for r in names.names if r.nameID in (1, 4, 6)])

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

    def test_fontconfig_sees_one_family_with_both_styles(self):
        listed = subprocess.run(["fc-scan", "--format", "%{family}|%{style}\n", self.out.name],
                                capture_output=True, text=True, check=True).stdout.splitlines()
        self.assertEqual(sorted(listed), ["Nazli Lines|Bold", "Nazli Lines|Regular"])


if __name__ == "__main__":
    unittest.main()
