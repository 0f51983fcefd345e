"""Builds the package with its generated layer: pyproject.toml holds the
metadata; this adds the generation step to setuptools.

From the source tree (``pip install ./python``), build_py generates
tarvek/_generated.py from the committed catalogue description
(catalogue.json, refreshed by the python_catalogue build target) and the
public header, with tools/generators/gen_python_package.py (and the
driver_model.py beside it, which reads both). A source
distribution (``python3 setup.py sdist``) carries the generated module
itself, since the generator and the header are outside this folder; built
from an unpacked sdist, build_py takes that module as it is."""
import subprocess
import sys
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.command.sdist import sdist

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
GENERATOR = ROOT / "tools" / "generators" / "gen_python_package.py"
MODEL = GENERATOR.with_name("driver_model.py")
HEADER = ROOT / "include" / "TARVEK.h"
CATALOGUE = HERE / "catalogue.json"
LAYER = Path("tarvek") / "_generated.py"


def generate(target: Path) -> None:
    target.parent.mkdir(parents=True, exist_ok=True)
    subprocess.check_call([sys.executable, str(GENERATOR), "--header", str(HEADER),
                           "--catalogue", str(CATALOGUE), "--output", str(target)])


def can_generate() -> bool:
    return all(path.is_file() for path in (GENERATOR, MODEL, HEADER, CATALOGUE))


class BuildWithGeneratedLayer(build_py):
    def run(self) -> None:
        super().run()
        target = Path(self.build_lib) / LAYER
        if can_generate():
            generate(target)
        elif not target.is_file():
            sys.exit(f"tarvek: neither {GENERATOR} nor a generated {LAYER} is here; build from "
                     f"the source tree or from a source distribution made with setup.py sdist")


class SdistWithGeneratedLayer(sdist):
    def make_release_tree(self, base_dir: str, files: list) -> None:
        super().make_release_tree(base_dir, files)
        if not can_generate():
            sys.exit(f"tarvek: a source distribution is made from the source tree ({GENERATOR})")
        generate(Path(base_dir) / LAYER)


setup(cmdclass={"build_py": BuildWithGeneratedLayer, "sdist": SdistWithGeneratedLayer})
