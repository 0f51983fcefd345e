"""Builds the package with its generated layer: pyproject.toml holds the
metadata; this adds the generation step to setuptools' build_py, from the
public header and the committed catalogue description (catalogue.json,
refreshed by the python_catalogue build target)."""
import subprocess
import sys
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent


class BuildWithGeneratedLayer(build_py):
    def run(self) -> None:
        super().run()
        target = Path(self.build_lib) / "tarvek" / "_generated.py"
        target.parent.mkdir(parents=True, exist_ok=True)
        subprocess.check_call([
            sys.executable, str(ROOT / "tools" / "generators" / "gen_python_package.py"),
            "--header", str(ROOT / "include" / "TARVEK.h"),
            "--catalogue", str(HERE / "catalogue.json"),
            "--output", str(target)])


setup(cmdclass={"build_py": BuildWithGeneratedLayer})
