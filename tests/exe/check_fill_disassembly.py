"""Checks the fill, trim::TouchBlock, as it is in the built Trimbolt64.exe.

The block it fills is uncached memory, where the kind of store sets the speed: the fill must
write with aligned 8-byte general-purpose stores, plain or non-temporal. This check fails when
the fill's main loop stores bytes or anything but 8 bytes from a general-purpose register, when
the fill has SIMD or string stores (rep stos) anywhere, or when it calls out (a memset call, or
a jump to one in tail position).

The release exe is stripped, so the fill is found by its code: its bytes are taken from the
object in the core archive that was linked into the exe (with the bytes that the linker patches
left open) and looked up in the exe's .text; what is checked is the exe's code at that place.

    check_fill_disassembly.py OBJDUMP AR CORE_ARCHIVE EXE
    check_fill_disassembly.py --self-test CXX OBJDUMP AR [COMPILE_FLAGS LINK_FLAGS]

The second form builds small fills, good and bad, into exes of their own with the compiler of
the build (COMPILE_FLAGS and LINK_FLAGS, each one shell-quoted string, are what that compiler
needs besides, such as clang's target and the mingw-w64 library folders) and checks that this
script passes exactly the good ones.
"""

import os
import re
import shlex
import subprocess
import sys
import tempfile

FILL_SYMBOL = "trim::TouchBlock(void*, unsigned long long)"

PREFIXES = {
    "rep", "repz", "repe", "repnz", "repne", "lock", "data16", "addr32", "notrack", "bnd",
    "cs", "ds", "es", "ss", "fs", "gs", "rex", "rex.W",
}
# Instructions whose first operand may be memory without writing it.
NOT_STORES = {
    "cmp", "test", "bt", "nop", "prefetch", "prefetchw", "prefetchnta", "prefetcht0",
    "prefetcht1", "prefetcht2", "clflush", "clflushopt", "clwb", "call", "jmp", "push",
}
STRING_STORES = {"stos", "stosb", "stosw", "stosd", "stosq", "movs", "movsb", "movsw", "movsq"}
GPR64 = re.compile(r"^(r[abcd]x|r[sd]i|r[sb]p|r(8|9|1[0-5]))$")
SIMD_REGISTER = re.compile(r"^([xyz]mm\d+|mm\d)$")
MEMORY_OPERAND = re.compile(r"^(?:(BYTE|WORD|DWORD|QWORD|TBYTE|XMMWORD|YMMWORD|ZMMWORD) PTR )?"
                            r"(?:[a-z]s:)?\[")
SIZE_BYTES = {"BYTE": 1, "WORD": 2, "DWORD": 4, "QWORD": 8, "TBYTE": 10, "XMMWORD": 16,
              "YMMWORD": 32, "ZMMWORD": 64}


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def sections(objdump, path):
    """Section name -> (size, vma, file offset), from objdump -h."""
    table = {}
    for line in run(objdump, "-h", path).splitlines():
        match = re.match(r"^\s*\d+\s+(\S+)\s+([0-9a-f]+)\s+([0-9a-f]+)\s+[0-9a-f]+\s+([0-9a-f]+)"
                         r"\s+2\*\*", line)
        if match:
            name, size, vma, offset = match.groups()
            table[name] = (int(size, 16), int(vma, 16), int(offset, 16))
    return table


def read_bytes(path, offset, size):
    with open(path, "rb") as f:
        f.seek(offset)
        return f.read(size)


class FillCode:
    """The fill's bytes in an object file, and which of them the linker fills in."""

    def __init__(self, objdump, obj):
        symbols = []  # (section number, value, name)
        for line in run(objdump, "-t", "-C", obj).splitlines():
            match = re.match(r"^\[\s*\d+\]\(sec\s+(-?\d+)\).*\(nx \d+\) 0x([0-9a-f]+) (.*)$", line)
            if match:
                symbols.append((int(match.group(1)), int(match.group(2), 16), match.group(3)))
        found = [(sec, value) for sec, value, name in symbols if name == FILL_SYMBOL and sec > 0]
        if not found:
            raise LookupError(f"{FILL_SYMBOL} is not defined in {obj}")
        section_number, self.start = found[0]
        index_to_name = {}
        for line in run(objdump, "-h", obj).splitlines():
            match = re.match(r"^\s*(\d+)\s+(\S+)\s", line)
            if match:
                index_to_name[int(match.group(1))] = match.group(2)
        self.section = index_to_name[section_number - 1]
        size, _, offset = sections(objdump, obj)[self.section]
        later = [value for sec, value, _ in symbols if sec == section_number and value > self.start]
        self.end = min(later, default=size)
        self.code = read_bytes(obj, offset + self.start, self.end - self.start)

        # Bytes the linker patches: the targets of calls and of address loads.
        self.open_bytes = set()
        self.references = []
        for line in run(objdump, "-r", "-j", self.section, obj).splitlines():
            match = re.match(r"^([0-9a-f]{8,})\s+(\S+)\s+(\S+)", line)
            if not match:
                continue
            at = int(match.group(1), 16)
            if not self.start <= at < self.end:
                continue
            width = 8 if match.group(2) in ("R_X86_64_64", "IMAGE_REL_AMD64_ADDR64") else 4
            self.open_bytes.update(range(at - self.start, at - self.start + width))
            self.references.append(match.group(3))

    def pattern(self):
        parts = [b"." if i in self.open_bytes else re.escape(bytes([b]))
                 for i, b in enumerate(self.code)]
        return re.compile(b"".join(parts), re.DOTALL)


def fill_object(ar, archive, directory):
    """Extracts the archive's members into `directory` and returns their paths."""
    members = run(ar, "t", archive).split()
    paths = []
    for member in members:
        path = os.path.join(directory, member)
        with open(path, "wb") as out:
            out.write(subprocess.run([ar, "p", archive, member], check=True,
                                     capture_output=True).stdout)
        paths.append(path)
    return paths


def locate(objdump, exe, fill):
    """The addresses in the exe's .text where the fill's code is."""
    size, vma, offset = sections(objdump, exe)[".text"]
    text = read_bytes(exe, offset, size)
    return [vma + m.start() for m in fill.pattern().finditer(text)]


class Instruction:
    def __init__(self, address, text):
        self.address = address
        self.text = text
        words = text.split(None, 1)
        while words and words[0] in PREFIXES:
            words = words[1].split(None, 1) if len(words) > 1 else []
        self.mnemonic = words[0] if words else ""
        rest = words[1] if len(words) > 1 else ""
        rest = re.sub(r"\s*#.*$", "", rest).strip()
        self.operands = [o.strip() for o in rest.split(",")] if rest else []

    def branch_target(self):
        if not (self.mnemonic.startswith("j") or self.mnemonic.startswith("loop")):
            return None
        match = re.match(r"^(?:0x)?([0-9a-f]+)\b", self.operands[0]) if self.operands else None
        return int(match.group(1), 16) if match else None

    def stored_bytes(self):
        """The width of the memory this instruction writes, or None if it writes none."""
        if self.mnemonic in NOT_STORES or not self.operands:
            return None
        match = MEMORY_OPERAND.match(self.operands[0])
        if not match:
            return None
        return SIZE_BYTES.get(match.group(1), 0)

    def is_simd(self):
        return (any(SIMD_REGISTER.match(o) for o in self.operands)
                or self.mnemonic.startswith("v")
                or self.mnemonic in ("movntdq", "movntps", "movntpd", "maskmovdqu", "maskmovq"))

    def is_string_store(self):
        return self.mnemonic in STRING_STORES or any("es:[rdi]" in o for o in self.operands)

    def is_plain_word_store(self):
        """An 8-byte store from a general-purpose register or of an immediate."""
        if self.mnemonic not in ("mov", "movnti") or self.stored_bytes() != 8:
            return False
        source = self.operands[1] if len(self.operands) > 1 else ""
        return bool(GPR64.match(source)) or (self.mnemonic == "mov"
                                             and re.match(r"^-?0x[0-9a-f]+$", source) is not None)

    def __str__(self):
        return f"{self.address:x}: {self.text}"


def disassemble(objdump, exe, start, stop):
    out = run(objdump, "-d", "-M", "intel", "--no-show-raw-insn",
              f"--start-address={start:#x}", f"--stop-address={stop:#x}", exe)
    instructions = []
    for line in out.splitlines():
        match = re.match(r"^\s*([0-9a-f]+):\t(.*)$", line)
        if match and match.group(2).strip() and not match.group(2).startswith("..."):
            instructions.append(Instruction(int(match.group(1), 16), match.group(2).strip()))
    return instructions


def main_loop(instructions):
    """The loop (a backward branch and what it jumps over) that stores the most bytes per turn:
    the one that writes the bulk of the block, rather than the head or the tail."""
    best = None
    for branch in instructions:
        target = branch.branch_target()
        if target is None or target > branch.address:
            continue
        body = [i for i in instructions if target <= i.address <= branch.address]
        widths = [i.stored_bytes() for i in body if i.stored_bytes() is not None]
        rank = (sum(widths), len(widths), len(body))
        if widths and (best is None or rank > best[0]):
            best = (rank, body)
    return best[1] if best else None


def faults(instructions, start, stop):
    found = []
    for i in instructions:
        if i.mnemonic == "call":
            found.append(f"calls out: {i}")
        elif i.mnemonic == "jmp":
            target = i.branch_target()
            if target is None or not start <= target < stop:
                found.append(f"jumps out (a tail call): {i}")
        if i.is_string_store():
            found.append(f"string store: {i}")
        elif i.stored_bytes() is not None and i.is_simd():
            found.append(f"SIMD store: {i}")
    loop = main_loop(instructions)
    if loop is None:
        found.append("no loop of stores")
        return found
    print(f"main loop: {loop[0].address:x} to {loop[-1].address:x}, "
          f"{sum(1 for i in loop if i.stored_bytes() is not None)} stores")
    for i in loop:
        width = i.stored_bytes()
        if width is None or i.is_simd() or i.is_string_store():
            continue
        if width == 1:
            found.append(f"byte store in the main loop: {i}")
        elif not i.is_plain_word_store():
            found.append(f"not an 8-byte general-purpose store in the main loop: {i}")
    return found


def check(objdump, ar, archive, exe):
    with tempfile.TemporaryDirectory(prefix="trimbolt-fill-") as directory:
        fills = []
        for obj in fill_object(ar, archive, directory):
            try:
                fills.append(FillCode(objdump, obj))
            except LookupError:
                pass
    if len(fills) != 1:
        print(f"{FILL_SYMBOL} is defined {len(fills)} times in {archive}")
        return 1
    fill = fills[0]
    if fill.references:
        print("the fill refers to:", ", ".join(fill.references))
    addresses = locate(objdump, exe, fill)
    if len(addresses) != 1:
        print(f"the fill's {len(fill.code)} bytes occur {len(addresses)} times in {exe}'s .text")
        return 1
    start, stop = addresses[0], addresses[0] + len(fill.code)
    print(f"the fill is at {start:x} to {stop:x} in {exe}")
    instructions = disassemble(objdump, exe, start, stop)
    for i in instructions:
        print("  ", i)
    problems = faults(instructions, start, stop)
    for problem in problems:
        print("FAULT:", problem)
    return 1 if problems else 0


# Fills built by --self-test: (name, whether the check must pass it, source). Each defines the
# fill with the program's signature; the volatile ones keep their stores as written.
SELF_TEST_FILLS = [
    ("plain 8-byte stores", True, r"""
        #include <cstdint>
        namespace trim { void TouchBlock(void* block, std::uint64_t size) {
          auto* w = static_cast<volatile std::uint64_t*>(block);
          for (std::uint64_t i = 0; i < size / 8; ++i) w[i] = 0;
          auto* b = static_cast<volatile std::uint8_t*>(block);
          for (std::uint64_t i = size / 8 * 8; i < size; ++i) b[i] = 0; } }"""),
    ("non-temporal 8-byte stores", True, r"""
        #include <cstdint>
        #include <emmintrin.h>
        namespace trim { void TouchBlock(void* block, std::uint64_t size) {
          auto* w = static_cast<long long*>(block);
          for (std::uint64_t i = 0; i < size / 8; ++i) _mm_stream_si64(w + i, 0);
          _mm_sfence(); } }"""),
    ("a memset call", False, r"""
        #include <cstdint>
        #include <cstring>
        namespace trim { void TouchBlock(void* block, std::uint64_t size) {
          std::memset(block, 0, size); } }"""),
    ("a loop the compiler turns into memset", False, r"""
        #include <cstdint>
        namespace trim { void TouchBlock(void* block, std::uint64_t size) {
          auto* w = static_cast<std::uint64_t*>(block);
          for (std::uint64_t i = 0; i < size / 8; ++i) w[i] = 0; } }"""),
    ("byte stores", False, r"""
        #include <cstdint>
        namespace trim { void TouchBlock(void* block, std::uint64_t size) {
          auto* b = static_cast<volatile std::uint8_t*>(block);
          for (std::uint64_t i = 0; i < size; ++i) b[i] = 0; } }"""),
    ("4-byte stores", False, r"""
        #include <cstdint>
        namespace trim { void TouchBlock(void* block, std::uint64_t size) {
          auto* w = static_cast<volatile std::uint32_t*>(block);
          for (std::uint64_t i = 0; i < size / 4; ++i) w[i] = 0; } }"""),
    ("16-byte SIMD stores", False, r"""
        #include <cstdint>
        #include <emmintrin.h>
        namespace trim { void TouchBlock(void* block, std::uint64_t size) {
          auto* v = static_cast<__m128i*>(block);
          for (std::uint64_t i = 0; i < size / 16; ++i) _mm_stream_si128(v + i, _mm_setzero_si128());
          _mm_sfence(); } }"""),
    ("rep stosq", False, r"""
        #include <cstdint>
        #include <intrin.h>
        namespace trim { void TouchBlock(void* block, std::uint64_t size) {
          __stosq(static_cast<unsigned long long*>(block), 0, size / 8); } }"""),
]

SELF_TEST_MAIN = r"""
    #include <cstdint>
    #include <cstdlib>
    namespace trim { void TouchBlock(void* block, std::uint64_t size); }
    // Through a volatile pointer, so that the fill is not inlined into main.
    void (*volatile fill)(void*, std::uint64_t) = trim::TouchBlock;
    int main() { void* b = std::malloc(4096); fill(b, 4096); std::free(b); return 0; }
"""


def self_test(cxx, objdump, ar, compile_flags="", link_flags=""):
    compile_command = [cxx, *shlex.split(compile_flags)]
    link_command = [cxx, *shlex.split(compile_flags), *shlex.split(link_flags)]
    wrong = []
    with tempfile.TemporaryDirectory(prefix="trimbolt-fill-selftest-") as directory:
        main_obj = os.path.join(directory, "main.o")
        with open(os.path.join(directory, "main.cpp"), "w") as f:
            f.write(SELF_TEST_MAIN)
        subprocess.run([*compile_command, "-std=c++20", "-O2", "-c", "-o", main_obj,
                        os.path.join(directory, "main.cpp")], check=True)
        for number, (name, good, source) in enumerate(SELF_TEST_FILLS):
            stem = os.path.join(directory, f"fill{number}")
            with open(stem + ".cpp", "w") as f:
                f.write(source)
            # The release build's optimisation, and a stripped, static exe like the program's.
            subprocess.run([*compile_command, "-std=c++20", "-O3", "-c", "-o", stem + ".o",
                            stem + ".cpp"], check=True)
            subprocess.run([ar, "rcs", stem + ".a", stem + ".o"], check=True)
            subprocess.run([*link_command, "-static", "-s", "-o", stem + ".exe", main_obj,
                            stem + ".a"], check=True)
            print(f"--- {name}: must {'pass' if good else 'fail'}")
            passed = check(objdump, ar, stem + ".a", stem + ".exe") == 0
            if passed != good:
                wrong.append(name)
    for name in wrong:
        print("WRONG VERDICT:", name)
    return 1 if wrong else 0


if __name__ == "__main__":
    if len(sys.argv) in (5, 7) and sys.argv[1] == "--self-test":
        sys.exit(self_test(*sys.argv[2:]))
    if len(sys.argv) == 5:
        sys.exit(check(*sys.argv[1:]))
    print(__doc__)
    sys.exit(2)
