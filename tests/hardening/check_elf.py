#!/usr/bin/env python3
"""Reads a Linux program's ELF headers with readelf and reports which hardening properties it lacks."""
import hardening_report
import re
import subprocess

CHECKS = ("pie", "bind-now", "relro", "stack-protector", "fortify", "no-exec-stack",
          "no-wx-segment")


def readelf(readelf_path, options, program):
    return subprocess.run([readelf_path, "-W", *options, program], check=True,
                          capture_output=True, text=True).stdout


def missing_properties(readelf_path, program):
    header = readelf(readelf_path, ["-h"], program)
    dynamic = readelf(readelf_path, ["-d"], program)
    segments = readelf(readelf_path, ["-l"], program)
    symbols = readelf(readelf_path, ["--dyn-syms"], program)

    flags = re.search(r"\(FLAGS\)\s+(.*)", dynamic)
    flags_1 = re.search(r"\(FLAGS_1\)\s+Flags:\s*(.*)", dynamic)
    flags = flags.group(1).split() if flags else []
    flags_1 = flags_1.group(1).split() if flags_1 else []
    # Program headers: type, offset, virtual and physical address, sizes, then the flags.
    segment_flags = {}
    for line in segments.splitlines():
        fields = line.split()
        if len(fields) >= 8 and fields[1].startswith("0x"):
            flag_text = "".join(f for f in fields[6:-1] if re.fullmatch(r"[RWE]+", f))
            segment_flags.setdefault(fields[0], []).append(flag_text)
    names = {fields[7].split("@")[0] for fields in (l.split() for l in symbols.splitlines())
             if len(fields) >= 8}

    have = {
        "pie": re.search(r"Type:\s+DYN\b", header) is not None and "PIE" in flags_1,
        "bind-now": "BIND_NOW" in flags or "NOW" in flags_1,
        "relro": "GNU_RELRO" in segment_flags,
        "stack-protector": "__stack_chk_fail" in names,
        # glibc's checked variants: __memcpy_chk, __snprintf_chk and the like.
        "fortify": any(re.fullmatch(r"__\w+_chk", n) and n != "__stack_chk_fail" for n in names),
        "no-exec-stack": all("E" not in f for f in segment_flags.get("GNU_STACK", ["RWE"])),
        "no-wx-segment": not any("W" in f and "E" in f for f in segment_flags.get("LOAD", [])),
    }
    return have


if __name__ == "__main__":
    hardening_report.run(__doc__, CHECKS, "--readelf", "readelf", missing_properties)
