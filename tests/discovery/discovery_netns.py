"""LAN discovery on a test network of its own (network namespaces, see
testnet.py): emulators run as separate hosts, some offering only VXI-11,
only HiSLIP or only a socket, one everything, one that answers the broadcast
but not *IDN?; hostile hosts answer with garbage. From a client namespace,
`tarvek discover`, viFindRsrc through PyVISA on libtkvisa, and a search that
cannot match TCPIP names are checked. Exits 77 (skipped) when the machine
cannot build the network.

usage: discovery_netns.py --emulator PATH --cli PATH --tkvisa PATH [--python PATH]
                          [--pythonpath BUILD/python]
"""
from __future__ import annotations

import argparse
import json
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path
from typing import Callable, Dict, List, Optional

sys.path.insert(0, str(Path(__file__).resolve().parent))
from testnet import TestNet, skip_reason  # noqa: E402

# What the command may take beyond its --timeout: process start, library
# loading, joining threads.
MARGIN_S = 0.5

# octet, emulator options, resources (with {a} for the address), protocols,
# where the identity comes from ("idn", "lxi", None).
HOSTS = [
    (11, ["--vxi11", "--no-tcp", "--model", "6313", "--serial", "SN-VXI"],
     ["TCPIP::{a}::INSTR"], ["vxi11"], "idn"),
    (12, ["--hislip", "--no-tcp", "--model", "6512", "--serial", "SN-HISLIP"],
     ["TCPIP::{a}::hislip0::INSTR"], ["hislip"], "idn"),
    (13, ["--port", "5025", "--model", "6313", "--serial", "SN-SOCKET"],
     ["TCPIP::{a}::5025::SOCKET"], ["socket"], "idn"),
    (14, ["--vxi11", "--hislip", "--port", "5025", "--lxi-http", "--model", "6512",
          "--serial", "SN-ALL"],
     ["TCPIP::{a}::INSTR", "TCPIP::{a}::hislip0::INSTR", "TCPIP::{a}::5025::SOCKET"],
     ["vxi11", "hislip", "socket", "lxi"], "idn"),
    (15, ["--vxi11", "--no-tcp", "--no-idn-reply", "--lxi-http", "--model", "6313",
          "--serial", "SN-SILENT"],
     ["TCPIP::{a}::INSTR"], ["vxi11", "lxi"], "lxi"),
    # Hostile: its web server hangs and it will not answer *IDN?: listed,
    # without an identity, and the command still keeps its deadline.
    (16, ["--vxi11", "--no-tcp", "--no-idn-reply", "--lxi-http", "--lxi-http-hangs",
          "--serial", "SN-HANG"],
     ["TCPIP::{a}::INSTR"], ["vxi11", "lxi"], None),
]

HOSTILE_OCTET = 20


class Checks:
    def __init__(self) -> None:
        self.passed = 0
        self.failed = 0

    def check(self, name: str, condition: bool, detail: str = "") -> None:
        if condition:
            self.passed += 1
            print(f"ok   {name}")
        else:
            self.failed += 1
            print(f"FAIL {name}: {detail}")


def root_links() -> List[str]:
    """The interfaces of the namespace this script runs in."""
    out = subprocess.run(["ip", "-o", "link", "show"], capture_output=True, text=True).stdout
    return sorted(line.split(":")[1].strip().split("@")[0] for line in out.splitlines()
                  if ":" in line)


def start_emulator(net: TestNet, emulator: str, namespace: str, options: List[str]):
    args = [emulator, "--host", net.address(namespace), "--announce", *options]
    process = subprocess.Popen(net.command(namespace, args), stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
    return process


def wait_announced(process, timeout_s: float = 15.0) -> bool:
    deadline = time.monotonic() + timeout_s
    assert process.stdout is not None
    while time.monotonic() < deadline:
        line = process.stdout.readline()
        if not line:
            return False
        if line.strip() == "announced":
            return True
    return False


# The hostile host: answers every broadcast GETPORT with a table of bad
# replies (garbage, truncated, oversized, another call's id, refusals, port
# 0 and 70000, a flood), and multicasts DNS messages whose lengths lie.
HOSTILE = r'''
import socket, struct, sys, time, select
stop_at = time.monotonic() + float(sys.argv[1])

def reply(xid, port, stat=0, extra=b""):
    # xid, REPLY, MSG_ACCEPTED, null verifier, accept status, port
    return struct.pack(">IIIIII", xid, 1, 0, 0, 0, stat) + struct.pack(">I", port) + extra

def bad_replies(call):
    xid = struct.unpack(">I", call[:4])[0] if len(call) >= 4 else 0
    good = reply(xid, 1234)
    yield b"\xff" * 40                      # garbage
    yield good[:10]                          # truncated
    yield good[:-2]                          # cut inside the port
    yield good + b"\0" * 4                   # trailing bytes
    yield good + b"\0" * 60000               # oversized
    yield reply(xid ^ 1, 1234)               # another call's id
    yield reply(xid, 0)                      # port 0
    yield reply(xid, 70000)                  # port out of range
    yield reply(xid, 1234, stat=1)           # PROG_UNAVAIL
    yield struct.pack(">III", xid, 1, 1) + b"\0" * 8   # MSG_DENIED
    yield struct.pack(">II", xid, 0) + b"\0" * 30      # a call, not a reply
    for _ in range(3000):                    # a flood, none of it valid
        yield reply(xid ^ 2, 1234)

def lying_dns(qid):
    def header(an, ns=0, ar=0):
        return qid + struct.pack(">HHHHH", 0x8400, 0, an, ns, ar)
    name = b"\x07_hislip\x04_tcp\x05local\x00"
    yield header(50) + name + struct.pack(">HHIH", 12, 1, 120, 65535)   # lying rdlength
    yield header(1) + b"\xc0\x0c" + struct.pack(">HHIH", 12, 1, 120, 2) + b"\xc0\x0c"  # pointer loop
    yield header(1) + b"\x3f" + b"a" * 10                                 # label past the end
    yield (header(2) + name + struct.pack(">HHIH", 12, 1, 120, 7) + b"\x04evil\xc0\x0c"
           + b"\x04evil\xc0\x0c" + struct.pack(">HHIH", 33, 1, 120, 200) + struct.pack(">HHH", 0, 0, 4880))
    yield (header(2) + name + struct.pack(">HHIH", 12, 1, 120, 7) + b"\x04evil\xc0\x0c"
           + b"\x04evil\xc0\x0c" + struct.pack(">HHIH", 33, 1, 120, 3) + b"\0\0\0")  # SRV too short
    yield header(0, ar=65535)                                             # counts with nothing
    yield b"\x00" * 5
    yield qid + b"\xff" * 1400
    yield qid + b"\x84\x00" + b"\x00" * 9000                              # oversized
    for _ in range(300):                                                  # a flood
        yield header(1) + b"\xc0\x0c"

rpc = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
rpc.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
rpc.bind(("0.0.0.0", 111))
mdns = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
mdns.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
mdns.bind(("", 5353))
mdns.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                socket.inet_aton("224.0.0.251") + socket.inet_aton(sys.argv[2]))
print("ready", flush=True)
while time.monotonic() < stop_at:
    ready, _, _ = select.select([rpc, mdns], [], [], 0.2)
    if rpc in ready:
        call, peer = rpc.recvfrom(2048)
        for packet in bad_replies(call):
            try:
                rpc.sendto(packet, peer)
            except OSError:
                pass
    if mdns in ready:
        query, peer = mdns.recvfrom(9000)
        if len(query) >= 12 and peer[1] != 5353:
            for packet in lying_dns(query[:2]):
                try:
                    mdns.sendto(packet, peer)
                except OSError:
                    pass
'''


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--emulator", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--tkvisa", required=True)
    parser.add_argument("--python", default="/usr/bin/python3")
    parser.add_argument("--pythonpath", help="the build's python folder (tarvek.discover)")
    args = parser.parse_args()

    reason = skip_reason()
    if reason is not None:
        print(f"SKIP: LAN discovery tests {reason}")
        return 77

    checks = Checks()
    own_links = root_links()
    net = TestNet("d")
    processes = []
    try:
        client = net.add_host(2)
        hosts = {}
        for octet, options, _, _, _ in HOSTS:
            namespace = net.add_host(octet)
            hosts[octet] = namespace
            processes.append(start_emulator(net, args.emulator, namespace, options))
        hostile = net.add_host(HOSTILE_OCTET)
        # Nothing of the test network is in the machine's own namespace: no
        # interface, so no route by which its traffic could leave.
        # (Others may add interfaces meanwhile: only names of ours count.)
        ours = {"br0", "eth0"} | {f"v{octet}" for octet in [2, HOSTILE_OCTET] + list(hosts)}
        added = set(root_links()) - set(own_links)
        checks.check("the machine's own namespace got no interface of the test network",
                     not added & ours, f"{sorted(added & ours)}")
        # An independent client (lxi-tools) finds the emulators by the same
        # broadcast: those answering *IDN? show up with their identity. It runs
        # while the emulators probe their mDNS names (their VXI-11 is up as
        # soon as they print their first line), and before the hostile host
        # starts: how lxi-tools copes with that one is not ours to test.
        lxi = None
        if shutil.which("lxi"):
            for process in processes:
                assert process.stdout is not None
                process.stdout.readline()
            lxi = subprocess.Popen(net.command(client, ["lxi", "discover", "-t", "1"]),
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        for process, (octet, *_rest) in zip(processes, HOSTS):
            if not wait_announced(process):
                checks.check(f"emulator on .{octet} announced itself", False,
                             process.stderr.read() if process.poll() is not None else "timed out")
                return 1
        if lxi is not None:
            lxi_out, _ = lxi.communicate(timeout=30)
            for octet, options, _, protocols, source in HOSTS:
                if "vxi11" in protocols and source == "idn":
                    serial = options[options.index("--serial") + 1]
                    checks.check(f"lxi discover finds host .{octet}",
                                 serial in lxi_out and f"{net.subnet}.{octet}" in lxi_out, lxi_out)
        hostile_process = subprocess.Popen(
            net.command(hostile, [args.python, "-c", HOSTILE, "60", net.address(hostile)]), stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, text=True)
        processes.append(hostile_process)
        assert hostile_process.stdout is not None
        checks.check("hostile host started", hostile_process.stdout.readline().strip() == "ready")

        env = dict(os.environ)
        env["IVI_CONFIG_STORE"] = "/nonexistent/store.xml"  # no hardware assets of this machine
        expected = {net.subnet + "." + str(octet): (octet, [r.format(a=f"{net.subnet}.{octet}")
                                                            for r in resources], protocols, source)
                    for octet, _, resources, protocols, source in HOSTS}

        # tarvek discover: every instrument once, with its identity, in time.
        start = time.monotonic()
        result = subprocess.run(net.command(client, [args.cli, "discover", "--json",
                                                     "--timeout", "1"]),
                                capture_output=True, text=True, env=env, timeout=30)
        elapsed = time.monotonic() - start
        checks.check("discover exits 0", result.returncode == 0, result.stderr)
        checks.check("discover returns within its timeout", elapsed < 1.0 + MARGIN_S,
                     f"{elapsed:.2f} s")
        try:
            found = json.loads(result.stdout)["instruments"]
        except (ValueError, KeyError) as error:
            checks.check("discover prints JSON", False, f"{error}: {result.stdout!r}")
            return 1
        addresses = [item["address"] for item in found]
        checks.check("discover lists each instrument once, and only those",
                     sorted(addresses) == sorted(expected), f"{addresses}")
        for item in found:
            if item["address"] not in expected:
                continue
            octet, resources, protocols, source = expected[item["address"]]
            name = f"discover: host .{octet}"
            checks.check(f"{name} resources", item["resources"] == resources,
                         f"{item['resources']} != {resources}")
            checks.check(f"{name} protocols", item["protocols"] == protocols,
                         f"{item['protocols']} != {protocols}")
            checks.check(f"{name} identity from {source}", item["identity"] == source,
                         f"{item}")
            if source is not None:
                options = HOSTS[[h[0] for h in HOSTS].index(octet)][1]
                serial = options[options.index("--serial") + 1]
                checks.check(f"{name} serial", item["serial"] == serial, f"{item}")
                checks.check(f"{name} manufacturer", item["manufacturer"] == "Norvale", f"{item}")

        # The table form: one row per instrument, the header first.
        table = subprocess.run(net.command(client, [args.cli, "discover", "--timeout", "1"]),
                               capture_output=True, text=True, env=env, timeout=30)
        rows = [line for line in table.stdout.splitlines()[1:] if line.strip()]
        checks.check("discover table has one row per instrument", len(rows) == len(expected),
                     table.stdout)

        # tarvek.discover() in Python: the same instruments, as objects.
        if args.pythonpath:
            code = ("import dataclasses, json, tarvek\n"
                    "print(json.dumps([dataclasses.asdict(i) for i in tarvek.discover(1.0)]))")
            result = subprocess.run(net.command(client, [args.python, "-c", code]),
                                    capture_output=True, text=True, timeout=30,
                                    env=dict(env, PYTHONPATH=args.pythonpath))
            checks.check("tarvek.discover() ran", result.returncode == 0, result.stderr)
            if result.returncode == 0:
                objects = json.loads(result.stdout)
                checks.check("tarvek.discover() finds what the CLI finds",
                             [(o["address"], o["resources"], o["identity"], o["serial"])
                              for o in objects] ==
                             [(i["address"], i["resources"], i["identity"], i["serial"])
                              for i in found], f"{objects}")

        # viFindRsrc through PyVISA on libtkvisa: exactly the INSTR names, each opens.
        code = r'''
import json, sys, time, pyvisa
rm = pyvisa.ResourceManager(sys.argv[1])
start = time.monotonic()
names = [n for n in rm.list_resources("?*INSTR") if n.startswith("TCPIP")]
elapsed = time.monotonic() - start
opened = []
for name in names:
    try:
        rm.open_resource(name, open_timeout=2000).close()
        opened.append(name)
    except Exception as error:
        print(name, error, file=sys.stderr)
with open("/sys/class/net/eth0/statistics/tx_packets") as f:
    before = int(f.read())
serial = rm.list_resources("ASRL?*")
with open("/sys/class/net/eth0/statistics/tx_packets") as f:
    after = int(f.read())
print(json.dumps({"names": names, "elapsed": elapsed, "opened": opened,
                  "sent": after - before}))
'''
        result = subprocess.run(net.command(client, [args.python, "-c", code, args.tkvisa]),
                                capture_output=True, text=True, env=env, timeout=60)
        checks.check("PyVISA script ran", result.returncode == 0, result.stderr)
        if result.returncode == 0:
            report = json.loads(result.stdout.strip().splitlines()[-1])
            instr = sorted(r for _, resources, _, _ in expected.values() for r in resources
                           if r.endswith("::INSTR"))
            checks.check("viFindRsrc('?*INSTR') lists exactly the INSTR names",
                         sorted(report["names"]) == instr, f"{report['names']} != {instr}")
            checks.check("every INSTR name listed opens", report["opened"] == report["names"],
                         result.stderr)
            checks.check("viFindRsrc returns within its deadline",
                         report["elapsed"] < 1.0 + MARGIN_S, f"{report['elapsed']:.2f} s")
            checks.check("a search that cannot match TCPIP sends nothing", report["sent"] == 0,
                         f"{report['sent']} packets")
    finally:
        for process in processes:
            process.terminate()
        for index, process in enumerate(processes):
            try:
                code = process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                code = process.wait()
            # Every emulator stops in order on SIGTERM, the one whose web
            # server hangs on a request too.
            if index < len(HOSTS):
                checks.check(f"emulator on .{HOSTS[index][0]} stops cleanly", code == 0,
                             f"exit {code}")
        net.close()
    print(f"{checks.passed} passed, {checks.failed} failed")
    return 0 if checks.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
