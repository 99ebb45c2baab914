#!/usr/bin/python3
"""Builds the report font: WenQuanYi Micro Hei cut down to the characters the
program itself can put on a page, without hinting programs, under its own name.

Qt's PDF writer embeds a font subset into every file, and for each one it looks
up every character the font maps and runs the glyph programs of every glyph
used; with the full font (34,600 characters, hinted) that is most of the time
an archive of reports takes. Characters that are not in this font (names of
people, mostly) are drawn by the full font that follows it in the family list.

    make_report_font.py SOURCE.ttc OUTPUT.ttf FILE_OR_DIR...

The characters are ASCII, the Latin-1 signs, GB 2312 (so that a report with a
name in it still needs one font) and every other non-ASCII character in the
given source files (captions, labels, units, grades, seed rows).
"""
import os
import sys

from fontTools import subset
from fontTools.ttLib import TTFont

FAMILY = "WenQuanYi Micro Hei Report"
POSTSCRIPT = "WenQuanYiMicroHei-Report"
SOURCE_SUFFIXES = (".cpp", ".h", ".sql", ".txt", ".json")


def source_files(paths):
    for path in paths:
        if os.path.isdir(path):
            for root, _, names in os.walk(path):
                for name in sorted(names):
                    if name.endswith(SOURCE_SUFFIXES):
                        yield os.path.join(root, name)
        else:
            yield path


def gb2312():
    """The 7,445 characters of GB 2312: the hanzi of nearly every name."""
    chars = set()
    for first in range(0xA1, 0xF8):
        for second in range(0xA1, 0xFF):
            try:
                chars.add(bytes((first, second)).decode("gb2312"))
            except UnicodeDecodeError:
                pass
    return chars


def characters(paths):
    chars = {chr(c) for c in range(0x20, 0x7F)} | {chr(c) for c in range(0xA0, 0x100)} | gb2312()
    for path in source_files(paths):
        with open(path, encoding="utf-8", errors="ignore") as f:
            chars.update(c for c in f.read() if ord(c) > 0x7F and c.isprintable())
    return chars


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    source, output, inputs = sys.argv[1], sys.argv[2], sys.argv[3:]
    font = TTFont(source, fontNumber=0)
    mapped = font.getBestCmap()
    chars = sorted(c for c in characters(inputs) if ord(c) in mapped)

    options = subset.Options()
    options.hinting = False
    options.drop_tables += ["FFTM"]
    options.name_IDs = [0, 1, 2, 3, 4, 5, 6, 13, 14]
    options.name_languages = [0x409]
    options.notdef_outline = True
    subsetter = subset.Subsetter(options)
    subsetter.populate(unicodes=[ord(c) for c in chars])
    subsetter.subset(font)

    # A name of its own, so that the system's full font keeps its name.
    for record in font["name"].names:
        if record.nameID in (1, 4, 16, 18):
            record.string = FAMILY
        elif record.nameID == 3:
            record.string = FAMILY + " Regular"
        elif record.nameID == 6:
            record.string = POSTSCRIPT
    font.save(output)
    print(f"{output}: {len(chars)} characters, {len(font.getGlyphOrder())} glyphs")


if __name__ == "__main__":
    main()
