"""Checks that libtkvisa.so defines every VISA function PyVISA binds with
ctypes: the names PyVISA's ctwrapper passes to its signature table, compared
with the library's dynamic symbols (nm -D). Exits non-zero and names what is
missing."""
import re
import subprocess
import sys

import pyvisa.ctwrapper.functions as functions


def pyvisa_names() -> set:
    with open(functions.__file__, encoding="utf-8") as source:
        names = set(re.findall(r'apply\(\s*"(vi\w+)"', source.read()))
    if len(names) < 50:
        raise SystemExit(f"found only {len(names)} names in {functions.__file__}")
    return names


def exported_names(library: str) -> set:
    output = subprocess.run(["nm", "-D", "--defined-only", library], check=True,
                            capture_output=True, text=True).stdout
    return {fields[2] for fields in (line.split() for line in output.splitlines())
            if len(fields) == 3 and fields[1] == "T"}


def main() -> int:
    library = sys.argv[1]
    wanted = pyvisa_names()
    exported = exported_names(library)
    missing = sorted(wanted - exported)
    foreign = sorted(name for name in exported if not name.startswith("vi"))
    if missing:
        print("missing from", library + ":", " ".join(missing))
    if foreign:
        print("exported without the vi prefix:", " ".join(foreign))
    print(f"{len(wanted)} functions PyVISA binds, {len(exported)} exported")
    return 1 if missing or foreign else 0


if __name__ == "__main__":
    sys.exit(main())
