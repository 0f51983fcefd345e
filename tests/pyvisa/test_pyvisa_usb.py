"""PyVISA on the project's library against the emulated USB instrument.

usbtmc-sandbox (tests/visa/usbtmc_sandbox.cpp) runs this module with the
device plugged in at /dev/usbtmc0 of a private mount namespace, names it in
TARVEK_USB_RESOURCE and the emulator serving it in TARVEK_USB_EMULATOR_PID.
pyvisa-py reaches USB instruments through libusb, not through the kernel's
usbtmc node, so it cannot see this device and is not compared here."""
from __future__ import annotations

import os
import signal
import time
from pathlib import Path

import pytest
import pyvisa
from pyvisa import constants
from pyvisa.constants import StatusCode

from conftest import LIBRARY

RESOURCE = os.environ.get("TARVEK_USB_RESOURCE", "")
EMULATOR_PID = int(os.environ.get("TARVEK_USB_EMULATOR_PID", "0") or 0)
IDN = "Norvale,6313,SN000001,1.02"

pytestmark = pytest.mark.skipif(not RESOURCE or not LIBRARY,
                                reason="run by usbtmc-sandbox with TKVISA_LIBRARY set")


@pytest.fixture
def rm():
    manager = pyvisa.ResourceManager(LIBRARY)
    yield manager
    manager.close()


def open_usb(rm):
    return rm.open_resource(RESOURCE, read_termination="\n", write_termination="\n",
                            timeout=2000)


def test_list_resources_shows_the_device_and_it_opens_by_that_name(rm):
    assert RESOURCE in rm.list_resources()
    assert RESOURCE in rm.list_resources("USB?*INSTR")
    with open_usb(rm) as inst:
        assert inst.query("*IDN?") == IDN
        assert inst.manufacturer_id == 0x1AB1
        assert inst.model_code == 0x0E11
        assert inst.serial_number == "SN000001"
        assert inst.interface_number == 0
        assert inst.usb_protocol == 1


def test_status_byte_clear_trigger_and_service_request(rm):
    with open_usb(rm) as inst:
        assert inst.read_stb() == 0
        inst.write("*IDN?")
        assert inst.read_stb() & 0x10  # MAV
        inst.clear()
        assert inst.read_stb() == 0
        inst.assert_trigger()
        inst.control_ren(constants.RENLineOperation.asrt_address)
        inst.enable_event(constants.EventType.service_request, constants.EventMechanism.queue)
        inst.write("*CLS;*ESE 1;*SRE 32;*OPC")
        response = inst.wait_on_event(constants.EventType.service_request, 2000)
        assert response.event.event_type == constants.EventType.service_request
        assert inst.read_stb() & 0x60 == 0x60
        inst.disable_event(constants.EventType.service_request, constants.EventMechanism.queue)


def unplug() -> None:
    """Kills the emulator (its FUSE connection goes with it) and removes the
    device's sysfs entry, as the kernel does when the cable is pulled."""
    os.kill(EMULATOR_PID, signal.SIGKILL)
    deadline = time.monotonic() + 5
    stat = Path(f"/proc/{EMULATOR_PID}/stat")
    while time.monotonic() < deadline:
        try:
            if stat.read_text().split(")")[-1].split()[0] in ("Z", "X"):
                break
        except OSError:
            break
        time.sleep(0.01)
    entry = Path("/sys/class/usbmisc/usbtmc0")
    for name in ("device", "dev"):
        (entry / name).unlink(missing_ok=True)
    entry.rmdir()


# Last in the module: the device is gone afterwards.
def test_unplugged_device_loses_the_connection_for_every_later_call(rm):
    inst = open_usb(rm)
    assert inst.query("*IDN?") == IDN
    unplug()
    for call in (lambda: inst.query("*IDN?"), inst.read_stb, inst.clear,
                 inst.assert_trigger, lambda: inst.write("*RST")):
        with pytest.raises(pyvisa.VisaIOError) as excinfo:
            call()
        assert excinfo.value.error_code == StatusCode.error_connection_lost
    inst.close()
    assert RESOURCE not in rm.list_resources()
