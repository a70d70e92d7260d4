#!/usr/bin/env python3
"""Fills the Chinese texts of the event log dialog into translate/zh.ts. Touches only the contexts listed here,
and in "MainWidget" only the three column titles; run it under the translation lock."""
import html
import re
import sys

TEXTS = {
    "LogWidget": {
        "Event log": "事件日志",
        "Start date:": "开始日期：",
        "End date:": "结束日期：",
        "Read": "读取",
        "Save as...": "另存为...",
        "Clear": "清除",
        "OK": "确定",
    },
    "MainWidget": {
        "Date": "日期",
        "Host address": "主机地址",
        "Event": "事件",
    },
    "LogDialog": {
        "Information": "提示",
        "Are you sure to remove all logs?": "确定要删除所有日志吗？",
        "Sure": "确定",
        "Cancel": "取消",
        "Save event log": "保存事件日志",
        "CSV file (*.csv)": "CSV 文件 (*.csv)",
        "XLSX file(*.xlsx)": "XLSX 文件(*.xlsx)",
        "Export log": "导出日志",
        "Waiting for operation completed...": "正在等待操作完成...",
        "Export log %1 !": "导出日志%1！",
        "success": "成功",
        "failed": "失败",
    },
}

MESSAGE = re.compile(r"(<message>\s*<source>)(.*?)(</source>.*?)(<translation[^>]*?(?:/>|>.*?</translation>))",
                     re.S)


# The column titles are shared with the main window: keep a translation that is already there.
SHARED = {"MainWidget"}


def fill_context(block, texts, missing, keep_existing):
    def replace(match):
        source = html.unescape(match.group(2))
        if source not in texts:
            return match.group(0)
        missing.discard(source)
        existing = match.group(4)
        if keep_existing and "unfinished" not in existing and not existing.endswith("/>") and \
                existing != "<translation></translation>":
            return match.group(0)
        return (match.group(1) + match.group(2) + match.group(3) + "<translation>" +
                html.escape(texts[source], quote=False) + "</translation>")
    return MESSAGE.sub(replace, block)


def main(path):
    with open(path, encoding="utf-8") as f:
        content = f.read()
    unfilled = []
    for context, texts in TEXTS.items():
        pattern = re.compile(r"(<context>\s*<name>" + re.escape(context) + r"</name>)(.*?)(</context>)", re.S)
        match = pattern.search(content)
        if not match:
            unfilled.append(context + ": context missing")
            continue
        missing = set(texts)
        body = fill_context(match.group(2), texts, missing, context in SHARED)
        content = content[:match.start(2)] + body + content[match.end(2):]
        unfilled += [context + ": " + s for s in sorted(missing)]
    with open(path, "w", encoding="utf-8") as f:
        f.write(content)
    for line in unfilled:
        print("not in the file:", line)
    return 1 if unfilled else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "translate/zh.ts"))
