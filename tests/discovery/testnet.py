"""A small test network of its own, in network namespaces: one namespace
holds a bridge (the switch), every "host" is a namespace joined to it by a
veth pair, on a private /24 that exists only inside these namespaces. The
machine's own namespace gets no interface, route or address, so nothing sent
inside can leave. Names carry the process id, so reruns and parallel runs
never collide; close() removes everything (the namespaces take their
interfaces with them)."""
from __future__ import annotations

import os
import shutil
import subprocess
from typing import Dict, List, Optional


def skip_reason() -> Optional[str]:
    """Why this machine cannot build the network, or None."""
    if os.geteuid() != 0:
        return "needs root to create network namespaces (ip netns)"
    if shutil.which("ip") is None:
        return "needs the ip tool (Debian package iproute2)"
    probe = f"tkprobe{os.getpid()}"
    result = subprocess.run(["ip", "netns", "add", probe], capture_output=True, text=True)
    if result.returncode != 0:
        return f"cannot create a network namespace: {result.stderr.strip()}"
    subprocess.run(["ip", "netns", "del", probe], capture_output=True)
    return None


def _run(*args: str) -> None:
    subprocess.run(list(args), check=True, capture_output=True, text=True)


class TestNet:
    def __init__(self, tag: str = "") -> None:
        pid = os.getpid()
        self.prefix = f"tk{tag}{pid % 100000}"
        # 10.<a>.<b>.0/24, varied by process so that two runs never share one.
        self.subnet = f"10.{200 + pid % 50}.{(pid // 50) % 250}"
        self.switch = f"{self.prefix}-sw"
        self.hosts: Dict[str, str] = {}  # namespace -> address
        self._count = 0
        _run("ip", "netns", "add", self.switch)
        self._in(self.switch, "ip", "link", "set", "lo", "up")
        self._in(self.switch, "ip", "link", "add", "br0", "type", "bridge")
        self._in(self.switch, "ip", "link", "set", "br0", "up")

    def _in(self, namespace: str, *args: str) -> None:
        _run("ip", "netns", "exec", namespace, *args)

    def add_host(self, octet: int) -> str:
        """A namespace on the network at <subnet>.<octet>; returns its name."""
        self._count += 1
        namespace = f"{self.prefix}-h{octet}"
        outer = f"v{octet}"  # the switch's port; both ends are made inside namespaces
        _run("ip", "netns", "add", namespace)
        self.hosts[namespace] = f"{self.subnet}.{octet}"
        self._in(self.switch, "ip", "link", "add", outer, "type", "veth", "peer", "name", "eth0",
                 "netns", namespace)
        self._in(self.switch, "ip", "link", "set", outer, "master", "br0")
        self._in(self.switch, "ip", "link", "set", outer, "up")
        # No IPv6: its router solicitations and address probes would be
        # traffic that the tests did not send.
        self._in(namespace, "sysctl", "-q", "-w", "net.ipv6.conf.all.disable_ipv6=1")
        self._in(namespace, "sysctl", "-q", "-w", "net.ipv6.conf.default.disable_ipv6=1")
        self._in(namespace, "ip", "link", "set", "lo", "up")
        self._in(namespace, "ip", "addr", "add", f"{self.subnet}.{octet}/24", "brd", "+", "dev",
                 "eth0")
        self._in(namespace, "ip", "link", "set", "eth0", "up")
        return namespace

    def address(self, namespace: str) -> str:
        return self.hosts[namespace]

    def command(self, namespace: str, args: List[str]) -> List[str]:
        return ["ip", "netns", "exec", namespace] + args

    def tx_packets(self, namespace: str) -> int:
        out = subprocess.run(self.command(namespace, ["cat", "/sys/class/net/eth0/statistics/tx_packets"]),
                             check=True, capture_output=True, text=True).stdout
        return int(out.strip())

    def close(self) -> None:
        for namespace in list(self.hosts) + [self.switch]:
            subprocess.run(["ip", "netns", "pids", namespace], capture_output=True)
            subprocess.run(["ip", "netns", "del", namespace], capture_output=True)
        self.hosts.clear()
