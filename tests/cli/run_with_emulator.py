#!/usr/bin/env python3
"""Runs a program against freshly started emulators and checks its output.

  run_with_emulator.py --emulator BIN --model 6313 [--model 6512 ...]
                       [--vxi11 127.0.0.X] [--store TEMPLATE.xml] [--expect REGEX ...]
                       -- PROGRAM ARGS...

Each --model starts one `tarvek-emulator --model M --port 0`, which prints its
resource string on its first line. In PROGRAM's arguments "{0}", "{1}", ...
stand for those resources. With --vxi11 ADDRESS the (single) emulator listens
on that address and also serves VXI-11 with its portmapper on port 111, and
"{0}" is its TCPIP::ADDRESS::INSTR resource; where port 111 cannot be bound
(not root, or taken) the run is skipped with exit status 77. With --store, the template's resourceDescriptor
attributes are pointed at the first emulator and IVI_CONFIG_STORE names the
copy. The program must exit 0 within the timeout and its output must match
every --expect expression. The emulators are stopped with SIGTERM.
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import time


SKIPPED = 77


def start_emulator(binary, model, vxi11_host=None, hislip=False):
    extra = ["--vxi11", "--host", vxi11_host] if vxi11_host else []
    if hislip:
        extra += ["--hislip", "--hislip-port", "0"]
    process = subprocess.Popen([binary, "--model", model, "--port", "0"] + extra,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    line = process.stdout.readline().strip()
    if (vxi11_host or hislip) and line.startswith("TCPIP::"):
        # The socket's resource comes first, the INSTR one next.
        line = process.stdout.readline().strip()
    if not line.startswith("TCPIP::"):
        process.kill()
        error = process.stderr.read()
        if vxi11_host and (os.geteuid() != 0 or "in use" in error):
            print(f"SKIPPED: the VXI-11 portmapper needs port 111 on {vxi11_host}: {error}")
            sys.exit(SKIPPED)
        sys.exit(f"emulator {model} did not start: {line!r} {error}")
    return process, line


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--emulator", required=True)
    parser.add_argument("--model", action="append", default=[])
    parser.add_argument("--vxi11", metavar="ADDRESS")
    parser.add_argument("--store")
    parser.add_argument("--hislip", action="store_true",
                        help="hand the programs the emulators' HiSLIP resources")
    parser.add_argument("--expect", action="append", default=[])
    parser.add_argument("--timeout", type=float, default=60.0)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    emulators = []
    try:
        for model in args.model:
            emulators.append(start_emulator(args.emulator, model, args.vxi11, args.hislip))
        resources = [resource for _, resource in emulators]
        command = [part.format(*resources) for part in command]
        env = dict(os.environ)
        with tempfile.TemporaryDirectory() as workdir:
            if args.store:
                with open(args.store, encoding="utf-8") as template:
                    store = re.sub(r'resourceDescriptor="[^"]*"',
                                   f'resourceDescriptor="{resources[0]}"', template.read())
                path = os.path.join(workdir, "store.xml")
                with open(path, "w", encoding="utf-8") as copy:
                    copy.write(store)
                env["IVI_CONFIG_STORE"] = path
            started = time.monotonic()
            result = subprocess.run(command, capture_output=True, text=True, env=env,
                                    timeout=args.timeout)
        sys.stdout.write(result.stdout)
        sys.stderr.write(result.stderr)
        print(f"-- exit {result.returncode} after {time.monotonic() - started:.2f} s")
        if result.returncode != 0:
            return 1
        for expression in args.expect:
            if not re.search(expression, result.stdout, re.MULTILINE):
                print(f"-- output does not match {expression!r}")
                return 1
        return 0
    finally:
        for process, _ in emulators:
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()


if __name__ == "__main__":
    sys.exit(main())
