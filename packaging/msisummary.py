"""Reads and rewrites, in place, the times and the package code in an MSI's summary information.

wixl stamps every package with the time of the build and a random package code, and offers no
way to give either. This module sets them afterwards, so that the same sources give the same
package. An MSI is a compound file (a small FAT file system in one file); the summary
information is the stream "\\x05SummaryInformation" in it, a property set. The values changed
here keep their size (an 8-byte FILETIME, a 38-character GUID), so the bytes are overwritten
where they lie and nothing else in the file moves.

    msisummary.py MSI                      prints the three values
"""

import struct
import sys

SUMMARY_STREAM = "\x05SummaryInformation"
PID_REVISION_NUMBER = 9  # the package code
PID_CREATE_TIME = 12
PID_LAST_SAVE_TIME = 13
VT_LPSTR = 0x1E
VT_FILETIME = 0x40

SIGNATURE = bytes.fromhex("d0cf11e0a1b11ae1")
END_OF_CHAIN = 0xFFFFFFFE
FILETIME_EPOCH_OFFSET = 11644473600  # seconds from 1601-01-01 to 1970-01-01


class CompoundFile:
    """Where a stream's bytes lie in a compound file (MS-CFB): a list of file offsets, one per
    byte, so that the stream can be read and overwritten in place."""

    def __init__(self, data):
        if data[:8] != SIGNATURE:
            raise ValueError("not a compound file")
        self.data = data
        self.sector_size = 1 << struct.unpack_from("<H", data, 0x1E)[0]
        self.mini_sector_size = 1 << struct.unpack_from("<H", data, 0x20)[0]
        (fat_sectors, first_directory, _, self.mini_cutoff, first_mini_fat, mini_fat_sectors,
         first_difat, difat_sectors) = struct.unpack_from("<IIIIIIII", data, 0x2C)
        difat = list(struct.unpack_from("<109I", data, 0x4C))
        sector = first_difat
        for _ in range(difat_sectors):
            entries = struct.unpack_from(f"<{self.sector_size // 4}I", data, self._offset(sector))
            difat.extend(entries[:-1])
            sector = entries[-1]
        self.fat = []
        for sector in difat[:fat_sectors]:
            self.fat.extend(struct.unpack_from(f"<{self.sector_size // 4}I", data,
                                               self._offset(sector)))
        self.mini_fat = []
        for sector in self._chain(first_mini_fat)[:mini_fat_sectors]:
            self.mini_fat.extend(struct.unpack_from(f"<{self.sector_size // 4}I", data,
                                                    self._offset(sector)))
        directory = b"".join(self._sector_bytes(s) for s in self._chain(first_directory))
        self.entries = {}
        for at in range(0, len(directory), 128):
            entry = directory[at:at + 128]
            name_length = struct.unpack_from("<H", entry, 0x40)[0]
            name = entry[:max(name_length - 2, 0)].decode("utf-16-le")
            kind = entry[0x42]
            start, size = struct.unpack_from("<IQ", entry, 0x74)
            if kind == 5:  # the root: its stream holds the mini sectors
                self.mini_stream = self._stream_offsets(start, size, mini=False)
            elif kind == 2:
                self.entries[name] = (start, size)

    def _offset(self, sector):
        return (sector + 1) * self.sector_size

    def _sector_bytes(self, sector):
        at = self._offset(sector)
        return self.data[at:at + self.sector_size]

    def _chain(self, start, table=None):
        table = self.fat if table is None else table
        chain = []
        sector = start
        while sector != END_OF_CHAIN and sector < len(table):
            chain.append(sector)
            sector = table[sector]
            if len(chain) > len(table):
                raise ValueError("a sector chain loops")
        return chain

    def _stream_offsets(self, start, size, mini):
        offsets = []
        if mini:
            for sector in self._chain(start, self.mini_fat):
                first = sector * self.mini_sector_size
                offsets.extend(self.mini_stream[first:first + self.mini_sector_size])
        else:
            for sector in self._chain(start):
                first = self._offset(sector)
                offsets.extend(range(first, first + self.sector_size))
        if len(offsets) < size:
            raise ValueError("a stream is shorter than its directory entry says")
        return offsets[:size]

    def stream(self, name):
        """The file offsets of every byte of the named stream, in order."""
        start, size = self.entries[name]
        return self._stream_offsets(start, size, mini=size < self.mini_cutoff)


class SummaryInformation:
    """The summary information of an MSI file, read from the file, with setters that write
    straight back into it."""

    def __init__(self, path):
        self.path = path
        with open(path, "rb") as f:
            self.data = bytearray(f.read())
        self.offsets = CompoundFile(bytes(self.data)).stream(SUMMARY_STREAM)
        stream = bytes(self.data[o] for o in self.offsets)
        if struct.unpack_from("<H", stream, 0)[0] != 0xFFFE:
            raise ValueError("the summary information is not a property set")
        section = struct.unpack_from("<I", stream, 44)[0]  # the first property set's offset
        count = struct.unpack_from("<I", stream, section + 4)[0]
        self.properties = {}  # id -> (type, offset of the value in the stream)
        for index in range(count):
            pid, at = struct.unpack_from("<II", stream, section + 8 + 8 * index)
            kind = struct.unpack_from("<H", stream, section + at)[0]
            self.properties[pid] = (kind, section + at + 4)
        self.stream = stream

    def _value_offset(self, pid, kind):
        found = self.properties.get(pid)
        if found is None or found[0] != kind:
            raise ValueError(f"property {pid} is missing or of another type")
        return found[1]

    def _write(self, at, value):
        for index, byte in enumerate(value):
            self.data[self.offsets[at + index]] = byte
        self.stream = self.stream[:at] + bytes(value) + self.stream[at + len(value):]

    def package_code(self):
        at = self._value_offset(PID_REVISION_NUMBER, VT_LPSTR)
        size = struct.unpack_from("<I", self.stream, at)[0]
        return self.stream[at + 4:at + 4 + size].rstrip(b"\0").decode("ascii")

    def set_package_code(self, code):
        at = self._value_offset(PID_REVISION_NUMBER, VT_LPSTR)
        size = struct.unpack_from("<I", self.stream, at)[0]
        text = code.encode("ascii") + b"\0"
        if len(text) != size:
            raise ValueError(f"a package code of {size - 1} characters is expected: {code}")
        self._write(at + 4, text)

    def times(self):
        """(created, last saved) in seconds since 1970."""
        return tuple(struct.unpack_from("<Q", self.stream, self._value_offset(pid, VT_FILETIME))[0]
                     / 10**7 - FILETIME_EPOCH_OFFSET
                     for pid in (PID_CREATE_TIME, PID_LAST_SAVE_TIME))

    def set_times(self, seconds):
        filetime = struct.pack("<Q", (int(seconds) + FILETIME_EPOCH_OFFSET) * 10**7)
        for pid in (PID_CREATE_TIME, PID_LAST_SAVE_TIME):
            self._write(self._value_offset(pid, VT_FILETIME), filetime)

    def save(self):
        with open(self.path, "r+b") as f:
            f.write(self.data)


def main(path):
    info = SummaryInformation(path)
    created, saved = info.times()
    print("package code:", info.package_code())
    print("created:", int(created))
    print("last saved:", int(saved))
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
