"""Merges the script subsets of one Golos Text weight into one TrueType font with Windows-style names.

Usage: merge-face.py KIND OUTPUT.ttf SUBSET.ttf...   (KIND: regular, semibold or bold)

GDI+ groups faces by the legacy family name (name id 1) and knows only regular and bold within a family,
so Regular and Bold share "Golos Text" and SemiBold gets a family of its own, with the typographic names
(ids 16 and 17) tying it back to "Golos Text".
"""
import sys

from fontTools.merge import Merger
from fontTools.ttLib import TTFont

# Name records per face (1 family, 2 subfamily, 4 full name, 6 PostScript name, 16/17 typographic family and
# subfamily), weight class and whether the face is the family's bold one. The regular face's full name is the
# bare family name, as in Windows' own fonts: Wine's GDI+ files a memory font of a private collection under its
# full name and would otherwise not find "Golos Text" in it.
FACES = {
    "regular": ({1: "Golos Text", 2: "Regular", 4: "Golos Text", 6: "GolosText-Regular"}, 400, False),
    "semibold": ({1: "Golos Text SemiBold", 2: "Regular", 4: "Golos Text SemiBold", 6: "GolosText-SemiBold",
                  16: "Golos Text", 17: "SemiBold"}, 600, False),
    "bold": ({1: "Golos Text", 2: "Bold", 4: "Golos Text Bold", 6: "GolosText-Bold"}, 700, True),
}
FS_SELECTION_BOLD = 1 << 5
FS_SELECTION_REGULAR = 1 << 6
MAC_STYLE_BOLD = 1 << 0
WINDOWS_NAME = (3, 1, 0x409)  # platform, encoding, language of the records Windows reads
# The merge drops the STAT table, so the name records only it referred to (ids 256 and up) go too.
FIRST_STAT_NAME_ID = 256


def set_names(font, kind):
    wanted, weight, bold = FACES[kind]
    names = font["name"]
    names.names = [n for n in names.names if n.nameID < FIRST_STAT_NAME_ID and n.nameID not in (16, 17)]
    for name_id, text in wanted.items():
        names.setName(text, name_id, *WINDOWS_NAME)

    os2 = font["OS/2"]
    os2.usWeightClass = weight
    os2.fsSelection &= ~(FS_SELECTION_BOLD | FS_SELECTION_REGULAR)
    os2.fsSelection |= FS_SELECTION_BOLD if bold else FS_SELECTION_REGULAR
    font["head"].macStyle = MAC_STYLE_BOLD if bold else 0


def main():
    if len(sys.argv) < 4 or sys.argv[1] not in FACES:
        sys.exit(__doc__)
    kind, output, subsets = sys.argv[1], sys.argv[2], sys.argv[3:]
    merged = Merger().merge(subsets)
    # Keep the published dates so that re-making the fonts gives the same bytes.
    source_head = TTFont(subsets[0])["head"]
    merged["head"].created = source_head.created
    merged["head"].modified = source_head.modified
    set_names(merged, kind)
    merged.recalcTimestamp = False
    merged.save(output)


if __name__ == "__main__":
    main()
