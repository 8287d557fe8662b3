"""Reads the resource directory of a PE file (an .exe) without any outside library."""

import struct


class PeFile:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        if self.data[:2] != b"MZ":
            raise ValueError("not an MZ executable")
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, _, _, _, optional_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", self.data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", self.data, optional)[0]
        if self.magic != 0x20B:
            raise ValueError("not a PE32+ (64-bit) image")
        self.dll_characteristics = struct.unpack_from("<H", self.data, optional + 70)[0]
        directories = optional + 112
        self.directory_count = struct.unpack_from("<I", self.data, optional + 108)[0]
        self.directories = [struct.unpack_from("<II", self.data, directories + 8 * i)
                            for i in range(self.directory_count)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, rva, raw_size, raw_offset = struct.unpack_from(
                "<8sIIII", self.data, table + 40 * i)
            flags = struct.unpack_from("<I", self.data, table + 40 * i + 36)[0]
            self.sections.append({"name": name.rstrip(b"\0").decode("ascii", "replace"),
                                  "rva": rva, "vsize": vsize, "raw_size": raw_size,
                                  "raw_offset": raw_offset, "flags": flags})

    def offset_of(self, rva):
        for s in self.sections:
            if s["rva"] <= rva < s["rva"] + max(s["vsize"], s["raw_size"]):
                return s["raw_offset"] + rva - s["rva"]
        raise ValueError(f"RVA {rva:#x} is in no section")

    def resources(self):
        """{(type, name, language): bytes}; numeric ids as ints, names as strings."""
        rva, size = self.directories[2]
        if size == 0:
            return {}
        base = self.offset_of(rva)
        found = {}

        def entries(offset):
            named, numbered = struct.unpack_from("<HH", self.data, base + offset + 12)
            for i in range(named + numbered):
                key, target = struct.unpack_from("<II", self.data, base + offset + 16 + 8 * i)
                if key & 0x80000000:
                    at = base + (key & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, at)[0]
                    key = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                yield key, target

        for kind, level1 in entries(0):
            for name, level2 in entries(level1 & 0x7FFFFFFF):
                for language, leaf in entries(level2 & 0x7FFFFFFF):
                    data_rva, data_size = struct.unpack_from("<II", self.data, base + leaf)
                    start = self.offset_of(data_rva)
                    found[(kind, name, language)] = self.data[start:start + data_size]
        return found
