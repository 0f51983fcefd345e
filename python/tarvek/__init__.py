"""tarvek: the IVI-Python driver for the TARVEK 631X and 651X Series DC power
supplies.

    from tarvek import Tarvek, MeasurementType

    with Tarvek("TCPIP::192.168.1.20::5025::SOCKET") as psu:
        ch1 = psu.channels["CH1"]
        ch1.voltage_level = 5.0
        ch1.output_enabled = True
        print(ch1.voltage, ch1.measure(MeasurementType.CURRENT))

``Tarvek(resource_name, id_query=True, reset=False, options=None)`` is the
root class (``tarvek.Session`` is the same class). Status checking is on by
default: a value the instrument refuses raises :class:`tarvek.Error` with the
instrument's own text; ``options={"query_instrument_status": False}`` turns
it off for speed. Setting an attribute an object does not have raises
AttributeError naming the closest valid one.

Everything runs through the driver library (libTARVEK_64.so) with ctypes:
the library of the build or installation this package belongs to, or the one
named by the TARVEK_LIBRARY environment variable. It is loaded when first
needed (opening the first session), so ``import tarvek`` works without it;
a missing library raises :class:`tarvek.LibraryError` saying where the
package looked.
"""
from . import _generated
from ._attributes import AttributeInfo
from ._channels import ChannelGroup, Channels, OutputChannel, OutputChannelCollection
from ._discover import DiscoveredInstrument, discover
from ._errors import DriverWarning, Error, InvalidValueError, UnknownChannelError
from ._generated import *  # noqa: F401,F403 - the enums and result tuples
from ._generated import ATTRIBUTES, ENUMS, FUNCTIONS, RESULTS
from ._ivi import IviDirectIo, IviUtility
from ._library import LibraryError, library_path
from ._options import Options, option_string
from ._session import Session, Tarvek, TarvekDirectIo, TarvekUtility
from ._trace import IoTrace, IoTraceEntry

__version__ = "1.1.0"

__all__ = ["Tarvek", "Session", "Options", "OutputChannel", "OutputChannelCollection",
           "ChannelGroup", "Channels", "IviUtility", "IviDirectIo", "TarvekUtility",
           "TarvekDirectIo", "Error", "InvalidValueError", "UnknownChannelError",
           "DriverWarning", "LibraryError", "AttributeInfo", "ATTRIBUTES", "FUNCTIONS", "ENUMS",
           "RESULTS", "option_string", "library_path", "IoTrace", "IoTraceEntry", "discover",
           "DiscoveredInstrument"]
__all__ += _generated.__all__
