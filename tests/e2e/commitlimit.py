"""Runs a command with the kernel refusing it every writable memory mapping of a given size or
more: mmap and mprotect fail with ENOMEM (a seccomp filter, inherited by every process the
command starts). Under Wine that is a failed commit, as on Windows when no commit charge is
left, for that command alone and without touching the machine's settings.

Usage: python3 commitlimit.py <bytes> <command> [arguments...]
"""

import ctypes
import os
import struct
import sys

PR_SET_NO_NEW_PRIVS = 38
PR_SET_SECCOMP = 22
SECCOMP_MODE_FILTER = 2
AUDIT_ARCH_X86_64 = 0xC000003E
NR_MMAP, NR_MPROTECT = 9, 10
PROT_WRITE = 2
ENOMEM = 12

# Classic BPF over struct seccomp_data: nr at 0, arch at 4, args[i] at 16 + 8 * i (x86-64 is
# little-endian: the low word first).
LD_ABS, JEQ, JGT, JGE, JSET, RET = 0x20, 0x15, 0x25, 0x35, 0x45, 0x06
RET_ALLOW, RET_ERRNO = 0x7FFF0000, 0x00050000


def _insn(code, jt, jf, k):
    return struct.pack("<HBBI", code, jt, jf, k)


def filter_program(threshold):
    """The filter: refuse mmap and mprotect of `threshold` bytes or more with PROT_WRITE."""
    if not 0 < threshold < 1 << 32:
        raise ValueError("the threshold must fit in 32 bits")
    return [
        _insn(LD_ABS, 0, 0, 4), _insn(JEQ, 0, 10, AUDIT_ARCH_X86_64),  # other ABIs: allow
        _insn(LD_ABS, 0, 0, 0), _insn(JEQ, 1, 0, NR_MMAP), _insn(JEQ, 0, 7, NR_MPROTECT),
        _insn(LD_ABS, 0, 0, 16 + 8 + 4), _insn(JGT, 2, 0, 0),  # length of 4 GiB or more
        _insn(LD_ABS, 0, 0, 16 + 8), _insn(JGE, 0, 3, threshold),
        _insn(LD_ABS, 0, 0, 16 + 16), _insn(JSET, 0, 1, PROT_WRITE),
        _insn(RET, 0, 0, RET_ERRNO | ENOMEM),
        _insn(RET, 0, 0, RET_ALLOW),
    ]


def install(threshold):
    program = filter_program(threshold)
    code = ctypes.create_string_buffer(b"".join(program))

    class SockFprog(ctypes.Structure):
        _fields_ = [("len", ctypes.c_ushort), ("filter", ctypes.c_void_p)]

    fprog = SockFprog(len(program), ctypes.addressof(code))
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0:
        raise OSError(ctypes.get_errno(), "prctl(PR_SET_NO_NEW_PRIVS)")
    if libc.prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, ctypes.byref(fprog), 0, 0) != 0:
        raise OSError(ctypes.get_errno(), "prctl(PR_SET_SECCOMP)")


def command(threshold, argv):
    """`argv` run with writable mappings of `threshold` bytes or more refused."""
    return [sys.executable, os.path.abspath(__file__), str(threshold), *argv]


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    install(int(sys.argv[1]))
    os.execvp(sys.argv[2], sys.argv[2:])


if __name__ == "__main__":
    sys.exit(main())
