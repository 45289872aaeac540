#!/usr/bin/env python3
"""Reads a Windows program's PE header (objdump -p and the file itself) and its embedded manifest,
and reports which hardening properties it lacks."""
import hardening_report
import re
import struct
import subprocess
import xml.etree.ElementTree as ElementTree

CHECKS = ("dynamic-base", "high-entropy-va", "nx-compat", "no-wx-section", "manifest-as-invoker")

IMAGE_FILE_RELOCS_STRIPPED = 0x0001
DLL_FLAGS = {"HIGH_ENTROPY_VA": 0x0020, "DYNAMIC_BASE": 0x0040, "NX_COMPAT": 0x0100}
SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_WRITE = 0x80000000
RT_MANIFEST = 24
RESOURCE_DIRECTORY_INDEX = 2


class Image:
    """The parts of a PE file that the checks read."""

    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        coff = pe + 4
        sections, optional_size, self.file_flags = struct.unpack_from("<2xH12xHH", data, coff)
        optional = coff + 20
        magic = struct.unpack_from("<H", data, optional)[0]
        self.dll_flags = struct.unpack_from("<H", data, optional + 70)[0]
        directories = optional + (112 if magic == 0x20B else 96)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.resources = (struct.unpack_from("<II", data, directories + 8 * RESOURCE_DIRECTORY_INDEX)
                          if count > RESOURCE_DIRECTORY_INDEX else (0, 0))
        self.sections = []
        for i in range(sections):
            at = optional + optional_size + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
            size, rva, raw_size, raw_at = struct.unpack_from("<IIII", data, at + 8)
            flags = struct.unpack_from("<I", data, at + 36)[0]
            self.sections.append((name, rva, max(size, raw_size), raw_at, flags))

    def offset_of(self, rva):
        for _, start, size, raw_at, _ in self.sections:
            if start <= rva < start + size:
                return raw_at + rva - start
        raise ValueError(f"RVA {rva:#x} is in no section")

    def manifest(self):
        """The first RT_MANIFEST resource's bytes, or None."""
        rva, size = self.resources
        if rva == 0 or size == 0:
            return None
        base = self.offset_of(rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + numbered):
                key, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                yield key, target

        def first_leaf(target):
            while target & 0x80000000:
                target = next(entries(target & 0x7FFFFFFF), (None, None))[1]
                if target is None:
                    return None
            return target

        for key, target in entries(0):
            if key == RT_MANIFEST and target & 0x80000000:
                leaf = first_leaf(target)
                if leaf is None:
                    return None
                data_rva, data_size = struct.unpack_from("<II", self.data, base + leaf)
                at = self.offset_of(data_rva)
                return self.data[at:at + data_size]
        return None


def objdump_dll_flags(objdump, program):
    """DllCharacteristics as objdump -p reads it: the value and the flag names listed under it."""
    listing = subprocess.run([objdump, "-p", program], check=True, capture_output=True,
                             text=True).stdout
    match = re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)\n((?:\t\t+\S+\n)*)", listing,
                      re.MULTILINE)
    if not match:
        raise ValueError("objdump -p shows no DllCharacteristics")
    return int(match.group(1), 16), set(match.group(2).split())


def as_invoker(manifest):
    """True when the manifest asks for no elevation: asInvoker, without UI access."""
    if manifest is None:
        return False
    try:
        root = ElementTree.fromstring(manifest)
    except ElementTree.ParseError:
        return False
    levels = [e for e in root.iter() if e.tag.endswith("}requestedExecutionLevel")]
    return len(levels) == 1 and levels[0].get("level") == "asInvoker" and \
        levels[0].get("uiAccess", "false").lower() == "false"


def properties(objdump, program):
    with open(program, "rb") as f:
        image = Image(f.read())
    value, names = objdump_dll_flags(objdump, program)
    if value != image.dll_flags:
        raise ValueError(f"objdump reads DllCharacteristics {value:#x}, the file holds "
                         f"{image.dll_flags:#x}")

    def flag(name):
        return name in names and image.dll_flags & DLL_FLAGS[name] != 0

    wx = [s[0] for s in image.sections if s[4] & SCN_MEM_EXECUTE and s[4] & SCN_MEM_WRITE]
    return {
        # ASLR needs the relocations too: without them the loader cannot move the image.
        "dynamic-base": flag("DYNAMIC_BASE") and not image.file_flags & IMAGE_FILE_RELOCS_STRIPPED,
        "high-entropy-va": flag("HIGH_ENTROPY_VA"),
        "nx-compat": flag("NX_COMPAT"),
        "no-wx-section": not wx,
        "manifest-as-invoker": as_invoker(image.manifest()),
    }


if __name__ == "__main__":
    hardening_report.run(__doc__, CHECKS, "--objdump", "x86_64-w64-mingw32-objdump", properties)
