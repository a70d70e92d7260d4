#!/usr/bin/env python3
"""Fills the Chinese texts of the demo's own context in translate/zh.ts (run under the translate lock)."""
import re
import sys

TEXTS = {
    "Demo build: the system will not be shut down": "演示版本：系统不会被关机",
}


def main(path):
    with open(path, encoding="utf-8") as f:
        ts = f.read()
    m = re.search(r"(<context>\s*<name>Demo</name>.*?</context>)", ts, re.S)
    if not m:
        print("fill_zh: no Demo context in %s; run lupdate first" % path, file=sys.stderr)
        return 1
    block = m.group(1)
    for source, text in TEXTS.items():
        block = re.sub(r"(<source>%s</source>\s*)<translation[^>]*>.*?</translation>" % re.escape(source),
                       lambda mm: mm.group(1) + "<translation>%s</translation>" % text, block, flags=re.S)
    ts = ts[:m.start(1)] + block + ts[m.end(1):]
    with open(path, "w", encoding="utf-8") as f:
        f.write(ts)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "translate/zh.ts"))
