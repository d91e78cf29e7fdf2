"""Checks the made fonts: the names, weight and style bits Windows uses to find each face, and that every
face has glyphs for the texts of the window. Usage: check-fonts.py RESOURCES_FOLDER"""
import os
import sys

from fontTools.ttLib import TTFont

# file: (family, subfamily, full name, typographic family, typographic subfamily, weight class, bold)
EXPECTED = {
    "GolosText-Regular.ttf": ("Golos Text", "Regular", "Golos Text", None, None, 400, False),
    "GolosText-SemiBold.ttf": ("Golos Text SemiBold", "Regular", "Golos Text SemiBold", "Golos Text", "SemiBold",
                               600, False),
    "GolosText-Bold.ttf": ("Golos Text", "Bold", "Golos Text Bold", None, None, 700, True),
}
NEEDED_CHARACTERS = (
    "".join(chr(c) for c in range(0x20, 0x7F))
    + "".join(chr(c) for c in range(0x410, 0x450)) + "Ёё"
    + "—–«»…№×°\u00a0"
)


def problems_of(path, expected):
    family, subfamily, full_name, typographic_family, typographic_subfamily, weight, bold = expected
    font = TTFont(path)
    names = font["name"]

    def name(name_id):
        record = names.getName(name_id, 3, 1, 0x409)
        return record.toUnicode() if record else None

    found = (name(1), name(2), name(4), name(16), name(17), font["OS/2"].usWeightClass,
             bool(font["OS/2"].fsSelection & 0x20), bool(font["head"].macStyle & 1))
    wanted = (family, subfamily, full_name, typographic_family, typographic_subfamily, weight, bold, bold)
    problems = [] if found == wanted else ["names/weight/style %r, expected %r" % (found, wanted)]
    cmap = font.getBestCmap()
    missing = [c for c in NEEDED_CHARACTERS if ord(c) not in cmap]
    if missing:
        problems.append("no glyph for %r" % "".join(missing))
    if "glyf" not in font:
        problems.append("not a TrueType-outline font")
    return problems


def main():
    folder = sys.argv[1]
    failed = False
    for file_name, expected in EXPECTED.items():
        problems = problems_of(os.path.join(folder, file_name), expected)
        print("%s: %s" % (file_name, "; ".join(problems) or "ok"))
        failed |= bool(problems)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
