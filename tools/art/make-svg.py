"""Writes logo.svg and icon.svg beside this script: the hexagonal emblem (a yellow hexagon around an isometric
cube) and, for the logo, the two-line wordmark set in Golos Text and turned into outlines, so that rendering
needs no installed font. Usage: make-svg.py RESOURCES_FOLDER (where the Golos Text fonts are)."""
import json
import math
import os
import subprocess
import sys

from fontTools.pens.svgPathPen import SVGPathPen
from fontTools.pens.transformPen import TransformPen
from fontTools.ttLib import TTFont

YELLOW = "#FFB400"
DARK_GREY = "#555558"
LIGHT_GREY = "#8D8D8D"
WHITE = "#FFFFFF"

LOGO_WIDTH, LOGO_HEIGHT = 373, 128
ICON_SIZE = 256


def hexagon_points(cx, cy, radius):
    """Corners of a hexagon standing on a point, clockwise from the top."""
    return [(cx + radius * math.sin(math.radians(a)), cy - radius * math.cos(math.radians(a)))
            for a in range(0, 360, 60)]


def points_text(points):
    return " ".join("%.2f,%.2f" % p for p in points)


def emblem(cx, cy, radius):
    """The emblem fitting a hexagon of the given outer radius: the hexagon with rounded corners, and inside it a
    cube seen from above whose three faces are parted by yellow seams."""
    corner = radius * 0.16  # rounding of the outer corners, drawn as a round-joined stroke
    outer = hexagon_points(cx, cy, radius - corner)
    cube_radius = radius * 0.62
    top, upper_right, lower_right, bottom, lower_left, upper_left = hexagon_points(cx, cy, cube_radius)
    centre = (cx, cy)
    seam = radius * 0.075
    faces = [
        (WHITE, [top, upper_right, centre, upper_left]),
        (DARK_GREY, [upper_left, centre, bottom, lower_left]),
        (LIGHT_GREY, [centre, upper_right, lower_right, bottom]),
    ]
    parts = ['<polygon points="%s" fill="%s" stroke="%s" stroke-width="%.2f" stroke-linejoin="round"/>'
             % (points_text(outer), YELLOW, YELLOW, 2 * corner)]
    parts += ['<polygon points="%s" fill="%s"/>' % (points_text(p), colour) for colour, p in faces]
    parts.append('<path d="M%.2f,%.2f L%.2f,%.2f M%.2f,%.2f L%.2f,%.2f M%.2f,%.2f L%.2f,%.2f" stroke="%s" '
                 'stroke-width="%.2f" stroke-linecap="butt" fill="none"/>'
                 % (*centre, *upper_left, *centre, *upper_right, *centre, *bottom, YELLOW, seam))
    return "\n  ".join(parts)


def shaped_glyphs(font_path, text):
    """Glyph names and advances (font units) of the text as HarfBuzz sets it, kerning included."""
    result = subprocess.run(["hb-shape", "--output-format=json", font_path, text],
                            check=True, capture_output=True, text=True)
    return [(g["g"], g["ax"], g["dx"], g["dy"]) for g in json.loads(result.stdout)]


def text_outline(font_path, text, size, x, baseline, tracking=0.0):
    """SVG path data of the text with its left edge at x and its baseline at the given y; tracking in em."""
    font = TTFont(font_path)
    glyph_set = font.getGlyphSet()
    scale = size / font["head"].unitsPerEm
    pen = SVGPathPen(glyph_set)
    pen_x = 0.0
    for name, advance, dx, dy in shaped_glyphs(font_path, text):
        # Font units grow upwards; SVG grows downwards.
        transform = (scale, 0, 0, -scale, x + (pen_x + dx) * scale, baseline - dy * scale)
        glyph_set[name].draw(TransformPen(pen, transform))
        pen_x += advance + tracking * font["head"].unitsPerEm
    return pen.getCommands()


def text_width(font_path, text, size, tracking=0.0):
    glyphs = shaped_glyphs(font_path, text)
    units = TTFont(font_path)["head"].unitsPerEm
    return (sum(g[1] for g in glyphs) + tracking * units * (len(glyphs) - 1)) * size / units


def svg_document(width, height, body):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">\n  %s\n</svg>\n'
            % (width, height, width, height, body))


def logo(fonts):
    bold = os.path.join(fonts, "GolosText-Bold.ttf")
    semibold = os.path.join(fonts, "GolosText-SemiBold.ttf")
    emblem_radius = 61
    emblem_cx = 3 + emblem_radius * math.sqrt(3) / 2
    text_left = 124
    text_right = LOGO_WIDTH - 3
    # The first line fills the width; the second is set smaller, lighter and slightly spaced.
    first_size = 58
    first_size *= (text_right - text_left) / text_width(bold, "Макетор", first_size)
    second_size = first_size * 0.74
    tracking = 0.08
    cap = 0.7  # cap height in em
    gap = first_size * 0.30
    block = first_size * cap + gap + second_size * cap
    top = (LOGO_HEIGHT - block) / 2
    first_baseline = top + first_size * cap
    second_baseline = first_baseline + gap + second_size * cap
    body = [emblem(emblem_cx, LOGO_HEIGHT / 2, emblem_radius),
            '<path fill="%s" d="%s"/>' % (DARK_GREY, text_outline(bold, "Макетор", first_size, text_left,
                                                                   first_baseline)),
            '<path fill="%s" d="%s"/>' % (LIGHT_GREY, text_outline(semibold, "Торвел", second_size, text_left,
                                                                    second_baseline, tracking))]
    return svg_document(LOGO_WIDTH, LOGO_HEIGHT, "\n  ".join(body))


def icon():
    radius = ICON_SIZE / 2 - 1
    return svg_document(ICON_SIZE, ICON_SIZE, emblem(ICON_SIZE / 2, ICON_SIZE / 2, radius))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "logo.svg"), "w", encoding="utf-8") as out:
        out.write(logo(sys.argv[1]))
    with open(os.path.join(here, "icon.svg"), "w", encoding="utf-8") as out:
        out.write(icon())


if __name__ == "__main__":
    main()
