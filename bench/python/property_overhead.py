#!/usr/bin/env python3
"""What the Python package adds to a call: a simulated property write
(``channel.voltage_level = v``) against a bare ctypes call of
TARVEK_SetAttributeViReal64 on the same session, in one run.

    PYTHONPATH=<build>/python python3 bench/python/property_overhead.py [--calls N] [--limit 1.5]

Both sides run interleaved, several rounds each; the best round of each is
compared, so that other load on the machine affects both alike. The bare
call has its prototype declared, as the package declares it: the fastest
form of a ctypes call, the strictest comparison. Exits 1 when the ratio is
above the limit.
"""
import argparse
import ctypes
import sys
import timeit

import tarvek

VOLTAGE_LEVEL = 1250001


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--calls", type=int, default=100000, help="calls per round")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--limit", type=float, default=1.5, help="largest acceptable ratio")
    args = parser.parse_args()

    # A library object of its own, so that nothing of the package is involved.
    library = ctypes.CDLL(tarvek.library_path())
    bare = library.TARVEK_SetAttributeViReal64
    bare.argtypes = [ctypes.c_uint32, ctypes.c_char_p, ctypes.c_uint32, ctypes.c_double]
    bare.restype = ctypes.c_int32

    with tarvek.Session("", options={"simulate": True}) as session:
        channel = session.channels["CH1"]
        vi = session.handle

        def package_write() -> None:
            channel.voltage_level = 5.0

        def bare_write() -> None:
            bare(vi, b"CH1", VOLTAGE_LEVEL, 5.0)

        assert bare(vi, b"CH1", VOLTAGE_LEVEL, 5.0) == 0
        package_best = bare_best = float("inf")
        for _ in range(args.rounds):
            package_best = min(package_best, timeit.timeit(package_write, number=args.calls))
            bare_best = min(bare_best, timeit.timeit(bare_write, number=args.calls))
    package_ns = package_best / args.calls * 1e9
    bare_ns = bare_best / args.calls * 1e9
    ratio = package_ns / bare_ns
    print(f"simulated property write, package:        {package_ns:8.0f} ns")
    print(f"TARVEK_SetAttributeViReal64, bare ctypes: {bare_ns:8.0f} ns")
    print(f"ratio: {ratio:.2f} (limit {args.limit:.2f}) "
          f"{'ok' if ratio <= args.limit else 'TOO SLOW'}")
    return 0 if ratio <= args.limit else 1


if __name__ == "__main__":
    sys.exit(main())
