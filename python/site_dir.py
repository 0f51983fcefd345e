#!/usr/bin/env python3
"""Prints the folder where this interpreter finds pure-Python packages
installed under the prefix given: Debian's own layout for /usr
(lib/python3/dist-packages) and /usr/local (lib/python3.X/dist-packages),
the standard one (lib/python3.X/site-packages) elsewhere."""
import os
import sys
import sysconfig

prefix = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else sys.prefix
schemes = sysconfig.get_scheme_names()
if prefix == "/usr" and "deb_system" in schemes:
    scheme, base = "deb_system", prefix
elif prefix == "/usr/local" and "posix_local" in schemes:
    scheme, base = "posix_local", "/usr"
else:
    scheme, base = "posix_prefix", prefix
variables = {"base": base, "platbase": base, "installed_base": base, "installed_platbase": base}
print(sysconfig.get_path("purelib", scheme, variables))
