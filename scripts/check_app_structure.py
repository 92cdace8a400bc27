#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Checks the window's house rules: no include cycle among app/'s headers, the
window's public header declares no control (tests and other code reach
controls by object name, never through the window's members), and no helper
names the window's class: a helper gets what it needs as callbacks, signals
or a small interface, and the window places its widgets.

    check_app_structure.py [APP_DIR]
"""
import pathlib
import re
import sys

# The window itself: its class, program start and the form's layout.
# ProfileActions.cpp still holds the window's own profile handlers.
WINDOW_FILES = {"NX260AB.h", "NX260AB.cpp", "main.cpp", "FormLayout.cpp", "ProfileActions.cpp"}

CONTROL_TYPES = ("QPushButton", "QLineEdit", "QComboBox", "QPlainTextEdit", "QGroupBox", "QLabel", "QCheckBox")


def local_includes(path, names):
    found = re.findall(r'^\s*#\s*include\s+"([^"]+)"', path.read_text(), re.M)
    return [pathlib.Path(f).name for f in found if pathlib.Path(f).name in names]


def find_cycle(graph):
    state = {}
    stack = []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in graph.get(node, []):
            if state.get(nxt) == 1:
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                cycle = visit(nxt)
                if cycle:
                    return cycle
        stack.pop()
        state[node] = 2
        return None

    for node in sorted(graph):
        if node not in state:
            cycle = visit(node)
            if cycle:
                return cycle
    return None


def main():
    app = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent / "app")
    headers = {p.name: p for p in app.glob("*.h")}
    graph = {name: local_includes(path, headers) for name, path in headers.items()}
    failures = []
    cycle = find_cycle(graph)
    if cycle:
        failures.append("include cycle: " + " -> ".join(cycle))
    window = headers.get("NX260AB.h")
    if window is None:
        failures.append("NX260AB.h not found in " + str(app))
    else:
        text = re.sub(r"//.*", "", window.read_text())
        for t in CONTROL_TYPES:
            if re.search(r"^\s*%s\s*\*[\w\s,*]*;" % t, text, re.M):
                failures.append("NX260AB.h declares a %s member: controls stay private" % t)
    for path in sorted(list(app.glob("*.h")) + list(app.glob("*.cpp"))):
        if path.name in WINDOW_FILES:
            continue
        code = re.sub(r"//.*", "", path.read_text())
        for n, line in enumerate(code.splitlines(), 1):
            if re.search(r"\bTForm1\b", line):
                failures.append("%s:%d: a helper names TForm1; pass it what it needs instead" % (path.name, n))
    for f in failures:
        print(f, file=sys.stderr)
    print("app structure: %d headers, %s" % (len(headers), "failed" if failures else "ok"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
