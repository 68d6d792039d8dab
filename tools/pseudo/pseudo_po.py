#!/usr/bin/env python3
"""Writes a pseudo-translation of a gettext template: every text in brackets and 40 % longer
("Settings" -> "[Settings~~~~]"), with its printf conversions kept. Run with it, the program
shows at a glance a text that was never marked (no brackets) and one that is cut (no closing
bracket), and its layout meets texts as long as other languages' are.

    tools/pseudo/pseudo_po.py TEMPLATE.pot > qps.po
"""
import re
import sys


def unquote(lines):
    return "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', " ".join(lines)))


def entries(text):
    """(context, id, plural) of each message, the header left out."""
    for block in text.split("\n\n"):
        fields, key = {}, None
        for line in block.splitlines():
            if line.startswith("#"):
                continue
            match = re.match(r"(msgctxt|msgid_plural|msgid|msgstr(?:\[\d+\])?) (.*)", line)
            if match:
                key = match.group(1)
                fields[key] = [match.group(2)]
            elif key and line.startswith('"'):
                fields[key].append(line)
        if "msgid" in fields and unquote(fields["msgid"]):
            yield (unquote(fields["msgctxt"]) if "msgctxt" in fields else None,
                   unquote(fields["msgid"]),
                   unquote(fields["msgid_plural"]) if "msgid_plural" in fields else None)


def pseudo(text):
    # Length counted in characters, escapes (\n, \") as one.
    length = len(re.sub(r"\\.", "x", text))
    return "[" + text + "~" * ((length * 2 + 4) // 5) + "]"


def main():
    out = ['msgid ""', 'msgstr ""', '"Content-Type: text/plain; charset=UTF-8\\n"',
           '"Plural-Forms: nplurals=2; plural=(n != 1);\\n"', ""]
    for context, msgid, plural in entries(open(sys.argv[1], encoding="utf-8").read()):
        if context is not None:
            out.append(f'msgctxt "{context}"')
        out.append(f'msgid "{msgid}"')
        if plural is None:
            out.append(f'msgstr "{pseudo(msgid)}"')
        else:
            out.append(f'msgid_plural "{plural}"')
            out.append(f'msgstr[0] "{pseudo(msgid)}"')
            out.append(f'msgstr[1] "{pseudo(plural)}"')
        out.append("")
    sys.stdout.write("\n".join(out))


if __name__ == "__main__":
    main()
