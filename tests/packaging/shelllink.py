"""Reads what a Windows shortcut (.lnk, the Shell Link format) points at: the target's local
path, the working folder and the arguments. Only what the installer tests need."""

import struct

HAS_TARGET_ID_LIST = 0x01
HAS_LINK_INFO = 0x02
HAS_NAME = 0x04
HAS_RELATIVE_PATH = 0x08
HAS_WORKING_DIR = 0x10
HAS_ARGUMENTS = 0x20
HAS_ICON_LOCATION = 0x40
IS_UNICODE = 0x80
HEADER_SIZE = 0x4C
LINK_CLSID = bytes.fromhex("0114020000000000c000000000000046")


def read(path):
    """{"target": local path, "working_dir": ..., "arguments": ... or None, "description": ...}"""
    with open(path, "rb") as f:
        data = f.read()
    if struct.unpack_from("<I", data, 0)[0] != HEADER_SIZE or data[4:20] != LINK_CLSID:
        raise ValueError(f"not a shell link: {path}")
    flags = struct.unpack_from("<I", data, 0x14)[0]
    at = HEADER_SIZE
    if flags & HAS_TARGET_ID_LIST:
        at += 2 + struct.unpack_from("<H", data, at)[0]
    link = {"target": None}
    if flags & HAS_LINK_INFO:
        size, _, _, _, base_path_offset = struct.unpack_from("<IIIII", data, at)
        if base_path_offset:
            # In the system's code page; the paths checked here are ASCII.
            end = data.index(b"\0", at + base_path_offset)
            link["target"] = data[at + base_path_offset:end].decode("latin-1")
        at += size
    wide = bool(flags & IS_UNICODE)
    for flag, key in ((HAS_NAME, "description"), (HAS_RELATIVE_PATH, "relative_path"),
                      (HAS_WORKING_DIR, "working_dir"), (HAS_ARGUMENTS, "arguments"),
                      (HAS_ICON_LOCATION, "icon")):
        if not flags & flag:
            link[key] = None
            continue
        count = struct.unpack_from("<H", data, at)[0]
        at += 2
        width = 2 if wide else 1
        text = data[at:at + count * width]
        # Wine counts a terminating NUL into some of these strings; it is no part of them.
        link[key] = text.decode("utf-16-le" if wide else "latin-1").rstrip("\0")
        at += count * width
    return link
