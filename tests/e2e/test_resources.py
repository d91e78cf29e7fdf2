"""The executable's embedded resources as Windows sees them: every entry with its id and language, the bytes of
the fonts and the logo, the icon group and its PNG images, and the faces GDI+ finds in the embedded fonts.
resource_probe.exe reads maketor-setup.exe under Wine with the real resource, icon and GDI+ functions."""
import os
import struct
import subprocess
import tempfile
import unittest

RESOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources")
ENGLISH_US = 0x0409
RT_ICON, RT_RCDATA, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 10, 14, 16, 24
ICON_SIZES = [16, 20, 24, 32, 40, 48, 64, 96, 128, 256]
EMBEDDED_FILES = {
    (RT_RCDATA, 101): "GolosText-Regular.ttf",
    (RT_RCDATA, 102): "GolosText-SemiBold.ttf",
    (RT_RCDATA, 103): "GolosText-Bold.ttf",
    (RT_RCDATA, 110): "logo.png",
    (RT_MANIFEST, 1): "maketor-setup.manifest",
}
EXPECTED_ENTRIES = set(EMBEDDED_FILES) | {(RT_GROUP_ICON, 1), (RT_VERSION, 1)} | {
    (RT_ICON, i + 1) for i in range(len(ICON_SIZES))}
# (requested family, GDI+ style) -> the face that serves it; style 1 is bold.
EXPECTED_FACES = {
    ("Golos Text", 0): "Golos Text",
    ("Golos Text", 1): "Golos Text Bold",
    ("Golos Text SemiBold", 0): "Golos Text SemiBold",
}
PIXEL_FORMAT_32BPP_ARGB = 0x26200A
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
PNG_COLOUR_TYPE_RGBA = 6


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def png_header(data):
    """(width, height, bit depth, colour type, interlace) of a PNG, or None when the bytes are no PNG."""
    if data[:8] != PNG_SIGNATURE or data[12:16] != b"IHDR":
        return None
    width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", data[16:29])
    return width, height, depth, colour, interlace


class EmbeddedResources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        build = os.environ["MAKETOR_CROSS_BUILD"]
        cls.scratch = tempfile.TemporaryDirectory(prefix="maketor-resources-")
        result = subprocess.run(
            ["wine", os.path.join(build, "resource_probe.exe"), windows_path(os.path.join(build, "maketor-setup.exe")),
             windows_path(cls.scratch.name)],
            capture_output=True, text=True, timeout=300)
        if result.returncode != 0:
            raise RuntimeError("resource_probe failed: " + result.stderr)
        cls.entries, cls.icons, cls.faces, cls.families, cls.logo = {}, {}, {}, None, None
        for line in result.stdout.splitlines():
            kind, _, rest = line.partition(" ")
            if kind == "resource":
                kind_id, name, language, size = rest.split()
                cls.entries.setdefault((int(kind_id), int(name)), []).append((int(language), int(size)))
            elif kind == "icon":
                size, image_id, width = map(int, rest.split())
                cls.icons[size] = (image_id, width)
            elif kind == "face":
                family, style, face = rest.split("|")
                cls.faces[(family, int(style))] = face
            elif kind == "families":
                cls.families = int(rest)
            elif kind == "logo":
                width, height, pixel_format = rest.split()
                cls.logo = (int(width), int(height), int(pixel_format, 16))

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def embedded(self, kind, name):
        with open(os.path.join(self.scratch.name, "%d-%d-%d.bin" % (kind, name, ENGLISH_US)), "rb") as f:
            return f.read()

    def test_every_entry_is_there_once_in_english_us(self):
        self.assertEqual(set(self.entries), EXPECTED_ENTRIES)
        for key, versions in self.entries.items():
            self.assertEqual([language for language, _ in versions], [ENGLISH_US], key)

    def test_fonts_logo_and_manifest_are_the_committed_files(self):
        for key, file_name in EMBEDDED_FILES.items():
            with self.subTest(file_name), open(os.path.join(RESOURCES, file_name), "rb") as f:
                self.assertEqual(self.embedded(*key), f.read())

    def test_icon_group_lists_ten_32_bit_png_images_in_order(self):
        group = self.embedded(RT_GROUP_ICON, 1)
        reserved, kind, count = struct.unpack("<HHH", group[:6])
        self.assertEqual((reserved, kind, count), (0, 1, len(ICON_SIZES)))
        for index, size in enumerate(ICON_SIZES):
            with self.subTest(size=size):
                width, height, _, _, _, bit_count, byte_count, image_id = struct.unpack(
                    "<BBBBHHIH", group[6 + 14 * index:20 + 14 * index])
                self.assertEqual((width or 256, height or 256, bit_count, image_id), (size, size, 32, index + 1))
                image = self.embedded(RT_ICON, image_id)
                self.assertEqual(len(image), byte_count)
                self.assertEqual(png_header(image), (size, size, 8, PNG_COLOUR_TYPE_RGBA, 0))

    def test_windows_picks_and_decodes_the_image_of_each_size(self):
        self.assertEqual(self.icons, {size: (index + 1, size) for index, size in enumerate(ICON_SIZES)})

    def test_logo_is_an_rgba_png_of_373_by_128_that_gdiplus_decodes(self):
        self.assertEqual(png_header(self.embedded(RT_RCDATA, 110)), (373, 128, 8, PNG_COLOUR_TYPE_RGBA, 0))
        self.assertEqual(self.logo, (373, 128, PIXEL_FORMAT_32BPP_ARGB))

    def test_gdiplus_finds_regular_and_bold_of_golos_text_and_semibold_apart(self):
        self.assertEqual(self.families, 2)
        self.assertEqual(self.faces, EXPECTED_FACES)


if __name__ == "__main__":
    unittest.main()
