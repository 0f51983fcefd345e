#!/usr/bin/env python3
"""Runs the C example client against a loopback responder and checks both the
bytes the responder received and what the client printed."""
import socket
import subprocess
import sys
import threading

IDENTITY = b"TARVEK,6310,SN001,1.02\n"


def serve(listener, received):
    connection, _ = listener.accept()
    with connection:
        pending = b""
        while True:
            data = connection.recv(4096)
            if not data:
                return
            received.extend(data)
            pending += data
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                if line == b"*IDN?":
                    connection.sendall(IDENTITY)


def main():
    client = sys.argv[1]
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    port = listener.getsockname()[1]
    received = bytearray()
    worker = threading.Thread(target=serve, args=(listener, received), daemon=True)
    worker.start()
    result = subprocess.run([client, f"TCPIP::127.0.0.1::{port}::SOCKET", "*IDN?"],
                            capture_output=True, timeout=30)
    worker.join(timeout=5)
    listener.close()
    expected_output = b"viQueryf: " + IDENTITY + b"viRead: " + IDENTITY
    failures = []
    if result.returncode != 0:
        failures.append(f"client exit code {result.returncode}: {result.stderr!r}")
    if result.stdout != expected_output:
        failures.append(f"client printed {result.stdout!r}, expected {expected_output!r}")
    if bytes(received) != b"*IDN?\n*IDN?\n":
        failures.append(f"responder received {bytes(received)!r}")
    for failure in failures:
        print(failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
