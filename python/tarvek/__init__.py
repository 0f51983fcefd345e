"""TARVEK: Python access to the TARVEK IVI-C driver for 631X and 651X Series
DC power supplies.

    import tarvek
    with tarvek.Session("TCPIP::192.168.1.20::5025::SOCKET") as psu:
        ch1 = psu.channels["CH1"]
        ch1.voltage_level = 5.0
        ch1.output_enabled = True
        print(ch1.measure(tarvek.MeasurementType.VOLTAGE))

Everything runs through the driver library (libTARVEK_64.so) with ctypes:
the library of the build or installation this package belongs to, or the one
named by the TARVEK_LIBRARY environment variable.
"""
from . import _generated
from ._errors import DriverWarning, Error, InvalidValueError
from ._generated import *  # noqa: F401,F403 - the enums and result tuples
from ._generated import ATTRIBUTES, ENUMS, FUNCTIONS, RESULTS, AttributeInfo
from ._library import library_path
from ._session import ChannelGroup, Channels, OutputChannel, Session, option_string

__version__ = "1.0.0"

__all__ = ["Session", "OutputChannel", "ChannelGroup", "Channels", "Error", "InvalidValueError",
           "DriverWarning", "AttributeInfo",
           "ATTRIBUTES", "FUNCTIONS", "ENUMS", "RESULTS", "option_string", "library_path"]
__all__ += _generated.__all__
