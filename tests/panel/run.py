"""Runs one of the panel's pytest modules, or exits 77 (skipped) when this
machine lacks what it needs: python3-aiohttp for the server, and for the
browser test python3-selenium, chromium and chromium-driver."""
import importlib.util
import shutil
import sys

import pytest

NEEDS = {"test_server.py": (["aiohttp"], []),
         "test_browser.py": (["aiohttp", "selenium"], ["chromium", "chromedriver"])}

module = sys.argv[1]
modules, programs = NEEDS[module]
missing = [name for name in modules if importlib.util.find_spec(name) is None] + \
    [name for name in programs if shutil.which(name) is None]
if missing:
    print(f"skipped: {module} needs {', '.join(missing)} (Debian packages python3-aiohttp, "
          "python3-selenium, chromium, chromium-driver)")
    sys.exit(77)
sys.exit(pytest.main(["-p", "no:cacheprovider", "-q", module] + sys.argv[2:]))
