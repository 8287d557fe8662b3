"""Writes the task definition the way Task Scheduler exports its own, which is the form schtasks
is sure to read: UTF-16 little-endian with a byte-order mark, declared as UTF-16, with CRLF line
ends. The source is kept in UTF-8 so that it reads and diffs as text.

    encode_task.py SOURCE.xml OUTPUT.xml
"""

import re
import sys
import xml.etree.ElementTree as ET


def encode(text):
    declaration = re.match(r'<\?xml version="1\.0" encoding="UTF-8"\?>\n', text)
    if not declaration:
        raise ValueError("the source must start with an XML declaration of UTF-8")
    ET.fromstring(text.encode("utf-8"))  # well-formed, or fail here rather than in schtasks
    text = '<?xml version="1.0" encoding="UTF-16"?>\n' + text[declaration.end():]
    return b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le")


def main(source, output):
    with open(source, encoding="utf-8", newline="\n") as f:
        encoded = encode(f.read())
    with open(output, "wb") as f:
        f.write(encoded)
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
