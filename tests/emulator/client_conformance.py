#!/usr/bin/env python3
"""Checks that independent SCPI clients can talk to a running emulator.

Starts the tarvek-emulator program on an ephemeral port, reads the resource
string it prints, queries it with the chosen client, then stops it with
SIGTERM and expects a clean exit.

    client_conformance.py <tarvek-emulator> pyvisa|pyvisa-serial|pyvisa-vxi11|lxi|lxi-vxi11|help|trace

The VXI-11 checks run the emulator on an address of its own with its
portmapper on port 111, where both clients look for it; where that port
cannot be bound (not root, or taken) they exit with status 77 (skipped).
"""
import os
import re
import signal
import subprocess
import sys


SKIPPED = 77


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def start(program, extra):
    process = subprocess.Popen([program, "--port", "0"] + extra, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
    resources = []
    expected = ((0 if "--no-tcp" in extra else 1) + (1 if "--serial-pty" in extra else 0) +
                (1 if "--vxi11" in extra else 0))
    for _ in range(expected):
        line = process.stdout.readline().strip()
        if not line:
            process.kill()
            error = process.stderr.read()
            if "--vxi11" in extra and (os.geteuid() != 0 or "in use" in error):
                print("SKIPPED: the VXI-11 portmapper needs port 111: " + error.strip())
                sys.exit(SKIPPED)
            fail("the emulator printed no resource; stderr: " + error)
        resources.append(line)
    return process, resources


def stop(process, sig=signal.SIGTERM):
    process.send_signal(sig)
    try:
        code = process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        fail("the emulator did not stop on SIGTERM")
    if code != 0:
        fail("the emulator exited with %d" % code)


def port_of(resource):
    match = re.fullmatch(r"TCPIP::127\.0\.0\.1::(\d+)::SOCKET", resource)
    if not match:
        fail("unexpected resource string " + resource)
    return int(match.group(1))


def check_pyvisa(program):
    import pyvisa
    process, resources = start(program, ["--model", "6512"])
    try:
        rm = pyvisa.ResourceManager("@py")
        inst = rm.open_resource(resources[0])
        inst.read_termination = "\n"
        inst.write_termination = "\n"
        inst.timeout = 3000
        idn = inst.query("*IDN?").strip()
        if idn != "Norvale,6512,SN000001,1.02":
            fail("*IDN? answered " + repr(idn))
        inst.write("SOUR:VOLT:LEV:IMM:AMPL 5;:OUTP:STAT 1")
        volts = float(inst.query("MEAS:SCAL:VOLT:DC?"))
        if abs(volts - 5.0) > 1e-9:
            fail("MEAS:SCAL:VOLT:DC? answered %r" % volts)
        amps = inst.query_ascii_values("MEAS:SCAL:CURR:DC?")[0]
        if abs(amps - 0.005) > 1e-9:
            fail("MEAS:SCAL:CURR:DC? answered %r" % amps)
        error = inst.query(":SYST:ERR?").strip()
        if error != '0,"No error"':
            fail("error queue holds " + error)
        inst.close()
        rm.close()
    finally:
        stop(process)
    print("pyvisa: *IDN? and measurements OK")


def check_pyvisa_vxi11(program):
    import pyvisa
    host = "127.0.15.3"
    process, resources = start(program, ["--vxi11", "--host", host])
    try:
        if resources[1] != "TCPIP::%s::INSTR" % host:
            fail("unexpected VXI-11 resource " + resources[1])
        rm = pyvisa.ResourceManager("@py")
        inst = rm.open_resource(resources[1])
        inst.timeout = 3000
        idn = inst.query("*IDN?")
        if idn != "Norvale,6313,SN000001,1.02\n":
            fail("*IDN? over VXI-11 answered " + repr(idn))
        inst.write("INST:SEL CH2\nSOUR:VOLT:LEV:IMM:AMPL 7.5")
        volts = float(inst.query("SOUR:VOLT:LEV:IMM:AMPL?"))
        if abs(volts - 7.5) > 1e-9:
            fail("CH2 voltage reads %r" % volts)
        # The status byte comes from device_readstb: the event summary bit
        # after an enabled event.
        inst.write("*ESE 1;*OPC")
        if inst.read_stb() & 0x20 != 0x20:
            fail("device_readstb lacks the event summary bit")
        inst.clear()
        inst.assert_trigger()
        other = rm.open_resource(resources[1])
        inst.lock_excl()
        locked_out = []
        # pyvisa-py reports any device error of a write as an I/O error; its
        # lock call keeps the device's "locked by another link".
        for attempt in (lambda: other.write("*CLS"), lambda: other.lock_excl(timeout=100)):
            try:
                attempt()
            except pyvisa.errors.VisaIOError as error:
                locked_out.append(error.error_code)
        if len(locked_out) != 2 or \
                locked_out[1] != pyvisa.constants.StatusCode.error_resource_locked:
            fail("another link got past the lock: %r" % locked_out)
        inst.unlock()
        other.write("*CLS")
        other.close()
        error = inst.query(":SYST:ERR?").strip()
        if error != '0,"No error"':
            fail("error queue holds " + error)
        inst.close()
        rm.close()
    finally:
        stop(process)
    print("pyvisa-py VXI-11: queries, status byte, clear, trigger and locks OK")


def check_lxi_vxi11(program):
    host = "127.0.15.4"
    process, resources = start(program, ["--vxi11", "--host", host])
    try:
        for query, expected in (("*IDN?", "Norvale,6313,SN000001,1.02"),
                                ("MEAS:SCAL:VOLT:DC?", "+0.000000E+00")):
            # Without --port lxi uses VXI-11 and asks the portmapper.
            result = subprocess.run(["lxi", "scpi", "-a", host, query], capture_output=True,
                                    text=True, timeout=20)
            answer = result.stdout.strip()
            if result.returncode != 0 or answer != expected:
                fail("lxi over VXI-11 %s gave %r (exit %d, stderr %r)" %
                     (query, answer, result.returncode, result.stderr))
    finally:
        stop(process)
    print("lxi VXI-11: *IDN? and measurement OK")


def check_pyvisa_serial(program):
    import pyvisa
    process, resources = start(program, ["--serial-pty", "--no-tcp"])
    try:
        resource = resources[0]
        if not re.fullmatch(r"ASRL/dev/pts/\d+::INSTR", resource):
            fail("unexpected serial resource " + resource)
        rm = pyvisa.ResourceManager("@py")
        inst = rm.open_resource(resource)
        inst.read_termination = "\n"
        inst.write_termination = "\n"
        inst.timeout = 3000
        idn = inst.query("*IDN?").strip()
        if idn != "Norvale,6313,SN000001,1.02":
            fail("*IDN? over the serial line answered " + repr(idn))
        channel = inst.query("INST:SEL?").strip()
        if channel != "CH1":
            fail("INST:SEL? answered " + repr(channel))
        inst.close()
        rm.close()
    finally:
        stop(process)
    print("pyvisa serial: *IDN? OK")


def check_lxi(program):
    process, resources = start(program, [])
    try:
        port = port_of(resources[0])
        for query, expected in (("*IDN?", "Norvale,6313,SN000001,1.02"),
                                ("MEAS:SCAL:VOLT:DC?", "+0.000000E+00")):
            result = subprocess.run(["lxi", "scpi", "--address", "127.0.0.1", "--port",
                                     str(port), "--raw", query], capture_output=True, text=True,
                                    timeout=20)
            answer = result.stdout.strip()
            if result.returncode != 0 or answer != expected:
                fail("lxi %s gave %r (exit %d, stderr %r)" % (query, answer, result.returncode,
                                                             result.stderr))
    finally:
        stop(process)
    print("lxi: *IDN? and measurement OK")


def check_help(program):
    result = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=10)
    for option in ("--model", "--port", "--serial-pty", "--trace", "--help", "--host", "--vxi11",
                   "--rpc-port"):
        if option not in result.stdout:
            fail("--help does not document " + option)
    if result.returncode != 0:
        fail("--help exited with %d" % result.returncode)
    bad = subprocess.run([program, "--model", "7000", "--port", "0"], capture_output=True,
                         text=True, timeout=10)
    if bad.returncode == 0 or "63 or 65" not in bad.stderr:
        fail("an unknown model family was not refused: " + bad.stderr)
    print("help and option checks OK")


def check_trace(program):
    import socket
    process, resources = start(program, ["--trace"])
    try:
        with socket.create_connection(("127.0.0.1", port_of(resources[0])), timeout=5) as sock:
            sock.sendall(b"*IDN?\n")
            reply = b""
            while not reply.endswith(b"\n"):
                chunk = sock.recv(256)
                if not chunk:
                    break
                reply += chunk
        if reply != b"Norvale,6313,SN000001,1.02\n":
            fail("*IDN? over a raw socket answered %r" % reply)
    finally:
        stop(process, signal.SIGINT)
    log = process.stderr.read()
    for expected in ("<- *IDN?", "-> Norvale,6313,SN000001,1.02"):
        if expected not in log:
            fail("--trace did not log %r; got %r" % (expected, log))
    print("trace and SIGINT OK")


def main():
    program, mode = sys.argv[1], sys.argv[2]
    {"pyvisa": check_pyvisa, "pyvisa-serial": check_pyvisa_serial,
     "pyvisa-vxi11": check_pyvisa_vxi11, "lxi": check_lxi, "lxi-vxi11": check_lxi_vxi11,
     "help": check_help, "trace": check_trace}[mode](program)


if __name__ == "__main__":
    main()
