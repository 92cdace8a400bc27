#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Every user-visible text of the window goes through the translation system
and has its Simplified Chinese translation.

1. lupdate over app/ finds the texts marked for translation; each must be in
   translations/nx260-config_zh_CN.ts with a finished, non-empty translation
   keeping the same %1.. place markers.
2. No caption, title, tooltip, menu or message in app/ is given as a plain
   literal, except the few texts that are the same in every language.
usage: check_translations.py SOURCE_DIR LUPDATE
"""
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from pathlib import Path

src, lupdate = Path(sys.argv[1]), sys.argv[2]
failures = []


def messages(ts):
    out = {}
    for ctx in ET.parse(ts).getroot().iter("context"):
        name = ctx.findtext("name")
        for m in ctx.iter("message"):
            t = m.find("translation")
            out[(name, m.findtext("source"))] = (t.text or "", t.get("type"))
    return out


with tempfile.TemporaryDirectory() as tmp:
    found = Path(tmp) / "found_zh_CN.ts"
    subprocess.run([lupdate, "-silent", "-locations", "none", str(src / "app"), "-ts", str(found)], check=True)
    marked = messages(found)
shipped = messages(src / "translations" / "nx260-config_zh_CN.ts")
if len(marked) < 50:
    failures.append(f"lupdate found only {len(marked)} texts in app/")
for key in marked:
    text, kind = shipped.get(key, ("", "missing"))
    if kind is not None or not text.strip():
        failures.append(f"{key[0]}: {key[1]!r} has no finished translation ({kind or 'empty'})")
    elif sorted(re.findall(r"%\d", key[1])) != sorted(re.findall(r"%\d", text)):
        failures.append(f"{key[0]}: {key[1]!r} -> {text!r}: place markers differ")

# Texts that read the same in every language: the product name, the form's
# date, the gateway-pinned message texts and the languages' own names.
same_everywhere = {"NX260-HGW", "2025-08-07", "NO SPACK", "Data eeore!", "English", "简体中文"}
visible = re.compile(
    r"\b(setText|setTitle|setWindowTitle|setToolTip|setPlaceholderText|setStatusTip|showMessage|addMenu|addAction"
    r"|setSuffix|setPrefix|setName|setTitleText|warning|information|critical|question"
    r"|new Q(?:Label|PushButton|CheckBox|RadioButton|GroupBox|Action|Menu))\(\s*(?:[\w:>.-]+,\s*)?"
    r"(?:QStringLiteral|QLatin1String|QString::fromLatin1|QString::fromUtf8)?\(?\s*\"((?:[^\"\\]|\\.)*)\"")
untranslated_arg = re.compile(r"\b(makeButton|makeGroup)\([^;]*?,\s*\"\w+\",\s*\"|\bcaption\(\s*\"|captions::set\([^,]+,\s*\"")
for f in sorted((src / "app").glob("*.cpp")):
    for n, line in enumerate(f.read_text(encoding="utf-8").splitlines(), 1):
        for m in visible.finditer(line):
            if m.group(2) and re.search(r"[A-Za-z\u4e00-\u9fff]", m.group(2)) and m.group(2) not in same_everywhere:
                failures.append(f"{f.name}:{n}: literal {m.group(2)!r} is not translated")
        if untranslated_arg.search(line):
            failures.append(f"{f.name}:{n}: caption given without QT_TRANSLATE_NOOP")

for f in failures:
    print(f)
print(f"{len(marked)} texts checked, {len(failures)} problems")
sys.exit(1 if failures else 0)
