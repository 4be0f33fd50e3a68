#!/usr/bin/env python3
"""Generates src/text/case_tables.cpp: the case-mapping and case-class tables.

    python3 tools/gen_case_tables.py           # write the file, print the report
    python3 tools/gen_case_tables.py --check   # exit 1 if the committed file is stale
                                               # or any figure is off

Inputs, all in tools/data/ (see tools/README.md for where they come from):
  case-mappings-3.0.0.tsv  simple mappings of the 3.0.0 database with ages: the
                           lower/upper tables (the mappings of an earlier edition,
                           reconstructed from 3.0.0 by the adjustments below)
  case-mappings-9.0.0.tsv  simple mappings of the 9.0.0 database: the case classes

Every figure the tables must meet is checked here, and a run that misses one
exits 1 with the report saying which.
"""

import argparse
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
DATA = ROOT / "tools" / "data"
OUTPUT = ROOT / "src" / "text" / "case_tables.cpp"
EARLY_DATA = DATA / "case-mappings-3.0.0.tsv"
RECENT_DATA = DATA / "case-mappings-9.0.0.tsv"

BMP = 0x10000
BLOCK = 128
BLOCKS = BMP // BLOCK  # 512
PAIR = -128  # shift value that sends the lookup to the pair list

# ---------------------------------------------------------------------------
# Figures the tables must meet.

EXPECTED_BLOCKS = [0x0000, 0x0080, 0x0100, 0x0180, 0x0200, 0x0280, 0x0380, 0x0400,
                   0x0480, 0x0500, 0x0580, 0x1080, 0x1E00, 0x1E80, 0x1F00, 0x1F80,
                   0x2100, 0x2480, 0xFF00]

EXPECTED_DOWNAUX = [
    (0x0181, 0x0253), (0x0186, 0x0254), (0x018A, 0x0257), (0x018E, 0x0258),
    (0x018F, 0x0259), (0x0190, 0x025B), (0x0193, 0x0260), (0x0194, 0x0263),
    (0x0196, 0x0269), (0x0197, 0x0268), (0x019C, 0x026F), (0x019D, 0x0272),
    (0x01A9, 0x0283), (0x01AE, 0x0288), (0x01B1, 0x028A), (0x01B2, 0x028B),
    (0x01B7, 0x0292), (0x1FF8, 0x1F78), (0x1FF9, 0x1F79)]

EXPECTED_UPAUX = [
    (0x017F, 0x0053), (0x0253, 0x0181), (0x0254, 0x0186), (0x0257, 0x018A),
    (0x0258, 0x018E), (0x0259, 0x018F), (0x025B, 0x0190), (0x0260, 0x0193),
    (0x0263, 0x0194), (0x0268, 0x0197), (0x0269, 0x0196), (0x026F, 0x019C),
    (0x0272, 0x019D), (0x0283, 0x01A9), (0x0288, 0x01AE), (0x028A, 0x01B1),
    (0x028B, 0x01B2), (0x0292, 0x01B7), (0x1F78, 0x1FF8), (0x1F79, 0x1FF9)]

# Characters that change under the lower and the upper table.
TARGET_COUNTS = {"lower": 706, "upper": 671}
# What these data and adjustments give. The upper table keeps two mappings
# more than the target; report() names the characters among which they lie.
# Change these only together with tools/README.md and the tests.
PRODUCED_COUNTS = {"lower": 706, "upper": 673}

EXPECTED_CLASS_BLOCKS = {"min": 31, "max": 29}


def span(first, last):
    return range(first, last + 1)


SAME = "same"  # the character maps to itself
# (characters, lower, upper): an int is a delta added to each character, a
# list gives the targets one by one, SAME leaves them.
CASE_ROWS = [
    (span(0x41, 0x5A), +0x20, SAME),
    (span(0x61, 0x7A), SAME, -0x20),
    ([c for c in span(0xC0, 0xDE) if c != 0xD7], +0x20, SAME),
    ([0xDF, 0xD7, 0xF7, 0xB5], SAME, SAME),
    ([0xFF], SAME, [0x178]),
    ([0x178], [0xFF], SAME),
    ([0x130, 0x131], SAME, SAME),
    ([0x17F], SAME, [0x53]),
    ([0x1C4, 0x1C5, 0x1C6], [0x1C6] * 3, [0x1C4] * 3),
    ([0x18E], [0x258], SAME),
    ([0x3C2], SAME, SAME),
    (span(0x10A0, 0x10C5), +0x30, SAME),
    (span(0x10D0, 0x10F5), None, SAME),
    (span(0x1F80, 0x1F87), SAME, +8),
    ([0x1E9E, 0x2126, 0x212A], SAME, SAME),
    (span(0x2160, 0x216F), +0x10, SAME),
    (span(0x24B6, 0x24CF), +0x1A, SAME),
    (span(0xFF21, 0xFF3A), +0x20, SAME),
    # Mappings whose delta does not fit a byte and that are not in the lists.
    ([0x189, 0x19F, 0x1A6], SAME, None),
    # Through the pair lists.
    ([0x181], [0x253], None),
]

# (characters, min, max): the case-class rows.
CLASS_ROWS = [
    ([0x41, 0x61], 0x41, 0x61),
    ([0x49, 0x69, 0x130, 0x131], 0x49, 0x131),
    ([0x4B, 0x6B, 0x212A], 0x4B, 0x212A),
    ([0x53, 0x73, 0x17F], 0x53, 0x17F),
    ([0x3A3, 0x3C2, 0x3C3], 0x3A3, 0x3C3),
    ([0x398, 0x3B8, 0x3D1, 0x3F4], 0x398, 0x3F4),
    ([0xFF, 0x178], 0xFF, 0x178),
    ([0x1E9E], 0xDF, 0x1E9E),
    ([0xDF], 0xDF, 0xDF),
]
# Digits, space and signs stay: every ASCII character that is not a letter.
CLASS_FIXED = [c for c in range(0x80) if not chr(c).isalpha()]

# ---------------------------------------------------------------------------
# From the 3.0.0 mappings to the earlier edition's: each entry names the
# mapping, what becomes of it, and what justifies it.

EDITION_NEW = "3.0"  # characters first assigned in 3.0 were not in the edition

# Mappings of characters first assigned in 3.0 are dropped by rule
# (drop_new_characters below); these are mappings of older characters.
ADJUSTMENTS = [
    # The pair lists give 018E <-> 0258 where 3.0.0 has 018E <-> 01DD: the
    # lower-case of 018E is 0258, 0258 upper-cases to 018E, and 01DD, no
    # longer 018E's partner, does not upper-case.
    ("lower", 0x018E, 0x0258, "pair list 018E -> 0258 (3.0.0: 01DD)"),
    ("upper", 0x0258, 0x018E, "pair list 0258 -> 018E (3.0.0: none)"),
    ("upper", 0x01DD, None, "partner of 018E in 3.0.0 only; the pair list has 0258"),
    # Final sigma does not upper-case.
    ("upper", 0x03C2, None, "row U+03C2: unchanged"),
    # The Georgian capitals lower-case to the Mkhedruli letters (dropped in 3.0.0).
    *[("lower", c, c + 0x30, "row U+10A0 .. U+10C5: U+10D0 .. U+10F5") for c in span(0x10A0, 0x10C5)],
    # The upper-cases of 0195 and 01BF are the capitals HWAIR and WYNN, first
    # assigned in 3.0: the small letters had no capital before.
    ("upper", 0x0195, None, "target U+01F6 first assigned in 3.0"),
    ("upper", 0x01BF, None, "target U+01F7 first assigned in 3.0"),
    # The block U+0300 .. U+037F is not mapped: combining ypogegrammeni keeps
    # its 3.0.0 upper-case U+0399 out.
    ("upper", 0x0345, None, "block U+0300 is not among the 19 mapped blocks"),
    # Deltas that do not fit a signed byte and are not in the pair lists.
    ("lower", 0x0130, None, "row U+0130: unchanged"),
    ("lower", 0x0189, None, "not in the pair list (named: U+0189)"),
    ("lower", 0x019F, None, "not in the pair list (named: U+019F)"),
    ("lower", 0x01A6, None, "not in the pair list (named: U+01A6)"),
    ("lower", 0x2126, None, "row U+2126: unchanged"),
    ("lower", 0x212A, None, "row U+212A: unchanged"),
    ("lower", 0x212B, None, "not in the pair list"),
    ("upper", 0x00B5, None, "row U+00B5: unchanged"),
    ("upper", 0x0131, None, "row U+0131: unchanged"),
    ("upper", 0x0256, None, "not in the pair list (inverse of U+0189)"),
    ("upper", 0x0275, None, "not in the pair list (inverse of U+019F)"),
    ("upper", 0x0280, None, "not in the pair list (inverse of U+01A6)"),
    ("upper", 0x1FBE, None, "not in the pair list"),
]

# Mappings of older characters to characters first assigned in 3.0 that are
# kept: the capitals STIGMA, DIGAMMA, KOPPA and SAMPI are taken to have
# carried the lower-case of the small letter left free at the next code
# point before that letter was assigned. An inference, borne out by the
# count: with them the lower table comes to its 706, without them to 702
# (tools/README.md).
KEPT_WITH_NEW_TARGET = {
    ("lower", 0x03DA), ("lower", 0x03DC), ("lower", 0x03DE), ("lower", 0x03E0),
}

# ---------------------------------------------------------------------------


def hexcode(code):
    return f"U+{code:04X}"


def read_rows(path, with_age):
    rows = {}
    for number, line in enumerate(path.read_text().splitlines(), 1):
        if not line or line.startswith("#"):
            continue
        fields = line.split("\t")
        if len(fields) != (5 if with_age else 4):
            raise SystemExit(f"{path.name}:{number}: expected {5 if with_age else 4} fields")
        code = int(fields[0], 16)
        maps = [code if f == "-" else int(f, 16) for f in fields[1:4]]
        rows[code] = (maps, fields[4] if with_age else None)
    return rows


class Failures:
    def __init__(self):
        self.items = []

    def check(self, ok, message):
        if not ok:
            self.items.append(message)
        return ok


def early_mappings(report):
    rows = read_rows(EARLY_DATA, with_age=True)
    age = {code: a for code, (_, a) in rows.items()}
    maps = {"lower": {}, "upper": {}}
    for code, ((lower, upper, _title), _) in rows.items():
        if lower != code:
            maps["lower"][code] = lower
        if upper != code:
            maps["upper"][code] = upper

    # Characters first assigned in 3.0 do not change.
    dropped = {d: sorted(c for c in maps[d] if age[c] == EDITION_NEW) for d in maps}
    for direction, codes in dropped.items():
        for code in codes:
            del maps[direction][code]
        report.append(f"  first assigned in {EDITION_NEW}, {direction}-case dropped: "
                      f"{len(codes)} ({' '.join(f'{c:04X}' for c in codes)})")

    for direction, code, target, _ground in ADJUSTMENTS:
        if target is None:
            if code not in maps[direction]:
                raise SystemExit(f"adjustment: {direction} {hexcode(code)} has no mapping to drop")
            del maps[direction][code]
        else:
            maps[direction][code] = target
    report.append(f"  listed adjustments: {len(ADJUSTMENTS)}")

    # Every remaining mapping to a 3.0 character must be one kept on purpose.
    for direction in maps:
        for code, target in sorted(maps[direction].items()):
            if age.get(target) == EDITION_NEW and (direction, code) not in KEPT_WITH_NEW_TARGET:
                raise SystemExit(f"{direction} {hexcode(code)} -> {hexcode(target)}: target first "
                                 f"assigned in {EDITION_NEW}; drop it or keep it on purpose")
    kept = sorted(KEPT_WITH_NEW_TARGET)
    report.append("  kept with a target first assigned in 3.0: " +
                  " ".join(f"{d} {c:04X}->{maps[d][c]:04X}" for d, c in kept))
    return maps


def fits(delta):
    return -128 < delta < 128


def build_case_tables(maps):
    blocks = sorted({code // BLOCK * BLOCK for d in maps for code in maps[d] if code < BMP})
    meta = [-1] * BLOCKS
    for index, start in enumerate(blocks):
        meta[start // BLOCK] = index * BLOCK
    shifts, aux = {}, {}
    for direction in ("lower", "upper"):
        shift = [0] * (len(blocks) * BLOCK)
        pairs = []
        for code, target in sorted(maps[direction].items()):
            delta = target - code
            slot = meta[code // BLOCK] + code % BLOCK
            if fits(delta):
                shift[slot] = delta
            else:
                shift[slot] = PAIR
                pairs.append((code, target))
        shifts[direction], aux[direction] = shift, pairs
    return blocks, meta, shifts, aux


def case_lookup(meta, shift, pairs, code):
    if code >= BMP or meta[code // BLOCK] < 0:
        return code
    delta = shift[meta[code // BLOCK] + code % BLOCK]
    if delta == PAIR:
        for source, target in pairs:
            if source == code:
                return target
        return code
    return code + delta


def check_case_tables(blocks, meta, shifts, aux, failures, report):
    failures.check(blocks == EXPECTED_BLOCKS,
                   "mapped blocks differ: " + " ".join(f"{b:04X}" for b in blocks))
    report.append(f"  mapped blocks: {len(blocks)} "
                  f"({'as expected' if blocks == EXPECTED_BLOCKS else 'DIFFERENT'})")
    for direction, expected in (("lower", EXPECTED_DOWNAUX), ("upper", EXPECTED_UPAUX)):
        ok = failures.check(aux[direction] == expected, f"{direction} pair list differs: "
                            + " ".join(f"{a:04X}->{b:04X}" for a, b in aux[direction]))
        report.append(f"  {direction} pair list: {len(aux[direction])} pairs "
                      f"({'as expected' if ok else 'DIFFERENT'})")

    lookups = {d: (lambda c, d=d: case_lookup(meta, shifts[d], aux[d], c)) for d in shifts}
    bad_rows = 0
    for codes, *wanted in CASE_ROWS:
        codes = list(codes)
        for (direction, want) in zip(("lower", "upper"), wanted):
            if want is None:
                continue
            for i, code in enumerate(codes):
                expect = (code if want == SAME else
                          code + want if isinstance(want, int) else want[i])
                got = lookups[direction](code)
                if not failures.check(got == expect, f"row {hexcode(code)} {direction}: "
                                      f"{hexcode(got)}, expected {hexcode(expect)}"):
                    bad_rows += 1
    report.append(f"  telling rows: {'all met' if bad_rows == 0 else f'{bad_rows} MISSED'}")

    counts = {d: sum(1 for c in range(BMP) if lookups[d](c) != c) for d in lookups}
    for direction in ("lower", "upper"):
        got, target, pinned = counts[direction], TARGET_COUNTS[direction], PRODUCED_COUNTS[direction]
        note = "as the target" if got == target else f"target {target}, residue {got - target:+d}"
        report.append(f"  {direction}-case changes: {got} ({note})")
        failures.check(got == pinned, f"{direction}-case changes: {got}, "
                       f"the documented figure is {pinned}")
        if got != target:
            report.extend(residue_candidates(direction, lookups))
    return counts


def residue_candidates(direction, lookups):
    """The mappings that are not one half of a case pair and that no row of
    the tables fixes: the characters among which a residue lies."""
    other = lookups["upper" if direction == "lower" else "lower"]
    fixed = {c for codes, *_ in CASE_ROWS for c in codes}
    plain, both_ways = [], []
    for code in range(BMP):
        target = lookups[direction](code)
        if target != code and other(target) != code and code not in fixed:
            (both_ways if other(code) != code else plain).append(f"{code:04X}->{target:04X}")
    lines = [f"    residue among these {direction}-case mappings that are not half of a pair:",
             "      " + " ".join(plain)]
    if both_ways:
        lines.append("      (not counted there: title-case letters that change both ways, as the "
                     "row U+01C5 does: " + " ".join(both_ways) + ")")
    return lines


def class_tables(failures, report):
    rows = read_rows(RECENT_DATA, with_age=False)
    parent = {}

    def find(x):
        parent.setdefault(x, x)
        while parent[x] != x:
            parent[x] = parent[parent[x]]
            x = parent[x]
        return x

    for code, (maps, _) in rows.items():
        for target in maps:
            if target < BMP:
                a, b = find(code), find(target)
                if a != b:
                    parent[max(a, b)] = min(a, b)
    members = {}
    for code in parent:
        members.setdefault(find(code), []).append(code)

    low, high = list(range(BMP)), list(range(BMP))
    itself = []
    for group in members.values():
        for code in group:
            if code in rows:
                low[code], high[code] = min(group), max(group)
            elif len(group) > 1:
                itself.append(code)
    report.append("  in a class but with no mapping of their own, kept as themselves: "
                  + " ".join(f"{c:04X}" for c in sorted(itself)))
    failures.check(itself == [0xDF], "characters kept as themselves: expected only U+00DF")

    tables = {}
    for name, target in (("min", low), ("max", high)):
        meta = [-1] * BLOCKS
        shift = []
        for block in range(BLOCKS):
            deltas = [target[c] - c for c in range(block * BLOCK, (block + 1) * BLOCK)]
            if any(deltas):
                meta[block] = len(shift)
                shift.extend(deltas)
        tables[name] = (meta, shift)
        count = len(shift) // BLOCK
        ok = failures.check(count == EXPECTED_CLASS_BLOCKS[name],
                            f"{name} class blocks: {count}, expected {EXPECTED_CLASS_BLOCKS[name]}")
        report.append(f"  {name} class blocks: {count} ({'as expected' if ok else 'DIFFERENT'})")

    def lookup(name, code):
        meta, shift = tables[name]
        if code >= BMP or meta[code // BLOCK] < 0:
            return code
        return code + shift[meta[code // BLOCK] + code % BLOCK]

    bad = 0
    for codes, want_min, want_max in CLASS_ROWS + [([c], c, c) for c in CLASS_FIXED]:
        for code in codes:
            got = (lookup("min", code), lookup("max", code))
            if not failures.check(got == (want_min, want_max),
                                  f"class row {hexcode(code)}: {hexcode(got[0])} / {hexcode(got[1])}, "
                                  f"expected {hexcode(want_min)} / {hexcode(want_max)}"):
                bad += 1
    report.append(f"  class telling rows: {'all met' if bad == 0 else f'{bad} MISSED'}")
    return tables


def ansi_lowcase():
    return [i + 0x20 if 0x41 <= i <= 0x5A else i for i in range(256)]


# ---------------------------------------------------------------------------
# Output


def numbers(values, width, per_line, indent="    "):
    lines = []
    for i in range(0, len(values), per_line):
        lines.append(indent + " ".join(f"{v:{width}d}," for v in values[i:i + per_line]))
    return lines


def shift_body(shift, starts, width, per_line):
    lines = []
    for index, start in enumerate(starts):
        lines.append(f"    // U+{start:04X} .. U+{start + BLOCK - 1:04X}")
        lines.extend(numbers(shift[index * BLOCK:(index + 1) * BLOCK], width, per_line))
    return lines


def declarations(meta, shifts, aux, classes):
    case_blocks = sum(1 for entry in meta if entry >= 0)
    return [
        "const int16_t ybz_metatable[512]",
        f"const int8_t ybz_downshift[{case_blocks} * 128]",
        f"const int8_t ybz_upshift[{case_blocks} * 128]",
        f"const uint32_t ybz_downaux[{len(aux['lower'])} + 1][2]",
        f"const uint32_t ybz_upaux[{len(aux['upper'])} + 1][2]",
        "const int32_t ybz_min_meta[512]",
        f"const int32_t ybz_minshift[{len(classes['min'][1]) // BLOCK} * 128]",
        "const int32_t ybz_max_meta[512]",
        f"const int32_t ybz_maxshift[{len(classes['max'][1]) // BLOCK} * 128]",
        "const uint8_t ansi_lowcasetable[256]",
    ]


def render(meta, shifts, aux, classes):
    blocks = [b * BLOCK for b in range(BLOCKS) if meta[b] >= 0]
    out = [
        "// Case-mapping and case-class tables over the Basic Multilingual Plane.",
        "// Generated by tools/gen_case_tables.py; do not edit.",
        "// Regenerate: python3 tools/gen_case_tables.py (inputs in tools/data/).",
        "#include <stdint.h>",
        "",
        "#include \"core/export.h\"",
        "#include \"ombrix/case.h\"",
        "",
        "extern \"C\" {",
        "",
        "// The tables leave the library with default visibility. The attribute sits",
        "// on these declarations: on a definition of a const object with an",
        "// initializer the compiler would ignore it.",
        *[f"OMBRIX_API extern {decl};" for decl in declarations(meta, shifts, aux, classes)],
        "",
        f"// Block k (U+k*128 .. U+k*128+127): where its deltas begin in ybz_downshift",
        f"// and ybz_upshift, or -1. The table keeps {len(blocks)} blocks of 128 entries.",
        "const int16_t ybz_metatable[512] = {",
        *numbers(meta, 5, 16),
        "};",
        "",
    ]
    for name, direction, pairs_name in (("ybz_downshift", "lower", "ybz_downaux"),
                                        ("ybz_upshift", "upper", "ybz_upaux")):
        out += [
            f"// {direction.capitalize()}-case deltas; -128: look the character up in {pairs_name}.",
            f"const int8_t {name}[{len(blocks)} * 128] = {{",
            *shift_body(shifts[direction], blocks, 4, 16),
            "};",
            "",
        ]
    for name, direction in (("ybz_downaux", "lower"), ("ybz_upaux", "upper")):
        pairs = aux[direction]
        out.append(f"// {direction.capitalize()}-case mappings whose delta does not fit a signed byte.")
        out.append(f"const uint32_t {name}[{len(pairs)} + 1][2] = {{")
        for source, target in pairs:
            out.append(f"    {{0x{source:04X}, 0x{target:04X}}},")
        out += ["    {0, 0},", "};", ""]
    for kind, word in (("min", "lowest"), ("max", "highest")):
        meta_c, shift_c = classes[kind]
        starts = [b * BLOCK for b in range(BLOCKS) if meta_c[b] >= 0]
        out += [
            f"// Case classes, to the {word} member: index of block k in ybz_{kind}shift, or -1.",
            f"const int32_t ybz_{kind}_meta[512] = {{",
            *numbers(meta_c, 5, 16),
            "};",
            "",
            f"const int32_t ybz_{kind}shift[{len(starts)} * 128] = {{",
            *shift_body(shift_c, starts, 6, 12),
            "};",
            "",
        ]
    out += [
        "// ASCII lower-casing of single bytes.",
        "const uint8_t ansi_lowcasetable[256] = {",
        *numbers(ansi_lowcase(), 3, 16),
        "};",
        "",
        "}  // extern \"C\"",
        "",
    ]
    return "\n".join(out)


def generate():
    failures = Failures()
    report = ["case tables (3.0.0 mappings, adjusted to the earlier edition):"]
    maps = early_mappings(report)
    blocks, meta, shifts, aux = build_case_tables(maps)
    check_case_tables(blocks, meta, shifts, aux, failures, report)
    report.append("case classes (9.0.0 mappings):")
    classes = class_tables(failures, report)
    return render(meta, shifts, aux, classes), report, failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true",
                        help="compare with the committed file instead of writing it")
    args = parser.parse_args()
    text, report, failures = generate()
    print("\n".join(report))
    status = 0
    for item in failures.items:
        print(f"FAILED: {item}")
        status = 1
    where = OUTPUT.relative_to(ROOT)
    if args.check:
        if not OUTPUT.exists() or OUTPUT.read_text() != text:
            print(f"{where} is not what the generator makes; run python3 tools/gen_case_tables.py")
            status = 1
        else:
            print(f"{where} is up to date")
    elif status == 0:
        OUTPUT.write_text(text)
        print(f"wrote {where}")
    else:
        print(f"{where} not written")
    return status


if __name__ == "__main__":
    sys.exit(main())
