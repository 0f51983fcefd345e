"""The package installs as users install it: with pip from the source folder
(offline, Debian's pip and setuptools), and with `cmake --install`."""
from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tarfile
from pathlib import Path

import pytest

import tarvek

SOURCE = Path(os.environ.get("TARVEK_SOURCE_DIR", Path(__file__).resolve().parents[2]))
BUILD = os.environ.get("TARVEK_BUILD_DIR", "")
CHECK = ("import tarvek, sys; s = tarvek.Session('', options={'simulate': True}); "
         "s.channels['CH1'].voltage_level = 2.5; "
         "print(tarvek.__file__, s.channels['CH1'].voltage_level, tarvek.library_path()); "
         "s.close()")


def python(code: str, path: Path, **environment: str) -> str:
    env = {key: value for key, value in os.environ.items() if key != "PYTHONPATH"}
    env.update(environment, PYTHONPATH=str(path))
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                            env=env, timeout=60, cwd=str(path))
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout


def source_tree(tmp_path: Path) -> Path:
    """A copy of what building the package reads, so that the source tree
    gets no build output; returns its python folder."""
    tree = tmp_path / "tree"
    shutil.copytree(SOURCE / "python", tree / "python",
                    ignore=shutil.ignore_patterns("build", "*.egg-info", "__pycache__",
                                                  "_generated.py"))
    (tree / "include").mkdir()
    shutil.copy(SOURCE / "include" / "TARVEK.h", tree / "include")
    (tree / "tools" / "generators").mkdir(parents=True)
    for name in ("gen_python_package.py", "driver_model.py"):
        shutil.copy(SOURCE / "tools" / "generators" / name, tree / "tools" / "generators")
    return tree / "python"


def pip_install(folder: Path, target: Path) -> None:
    """Installs offline with the interpreter's own pip and setuptools, and
    runs a session of the installed package."""
    result = subprocess.run(
        [sys.executable, "-m", "pip", "install", "--no-build-isolation", "--no-deps",
         "--no-index", "--disable-pip-version-check", "--target", str(target),
         str(folder)], capture_output=True, text=True, timeout=240)
    assert result.returncode == 0, result.stdout + result.stderr
    for name in ("__init__.py", "_generated.py", "_attributes.py", "_session.py", "py.typed"):
        assert (target / "tarvek" / name).is_file(), name
    output = python(CHECK, target, TARVEK_LIBRARY=tarvek.library_path())
    assert str(target / "tarvek") in output and " 2.5 " in output


def test_pip_installs_offline_from_the_source_folder(tmp_path: Path) -> None:
    pip_install(source_tree(tmp_path), tmp_path / "site")


def test_pip_installs_from_an_unpacked_source_distribution(tmp_path: Path) -> None:
    folder = source_tree(tmp_path)
    dist = tmp_path / "dist"
    result = subprocess.run([sys.executable, "setup.py", "-q", "sdist", "--dist-dir", str(dist)],
                            cwd=str(folder), capture_output=True, text=True, timeout=240)
    assert result.returncode == 0, result.stdout + result.stderr
    archives = list(dist.glob("tarvek-*.tar.gz"))
    assert len(archives) == 1, archives
    with tarfile.open(archives[0]) as archive:
        names = archive.getnames()
        assert f"{archives[0].name[:-7]}/tarvek/_generated.py" in names, names
        archive.extractall(tmp_path / "unpacked")
    # Unpacked away from the source tree: no generator, no header beside it.
    pip_install(tmp_path / "unpacked" / archives[0].name[:-7], tmp_path / "site")


def test_import_needs_no_library_and_a_session_names_the_missing_one(tmp_path: Path) -> None:
    missing = str(tmp_path / "nowhere" / "libTARVEK_64.so")
    code = ("import tarvek\n"
            "print(tarvek.Tarvek.__doc__.splitlines()[0], tarvek.OutputChannel.voltage_level)\n"
            "try:\n"
            "    tarvek.Tarvek('', options={'simulate': True})\n"
            "except tarvek.LibraryError as error:\n"
            "    print('refused:', error)\n")
    output = python(code, Path(tarvek.__file__).resolve().parents[1], TARVEK_LIBRARY=missing)
    assert output.startswith("A session with a TARVEK power supply")
    assert f"refused: tarvek: cannot load the driver library {missing!r}" in output
    assert "TARVEK_LIBRARY names it" in output


@pytest.mark.skipif(not BUILD, reason="TARVEK_BUILD_DIR names no build")
def test_cmake_install_places_the_package_for_the_prefix(tmp_path: Path) -> None:
    prefix = tmp_path / "prefix"
    result = subprocess.run(["cmake", "--install", BUILD, "--prefix", str(prefix),
                             "--component", "python"], capture_output=True, text=True,
                            timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    site = subprocess.run([sys.executable, str(SOURCE / "python" / "site_dir.py"), str(prefix)],
                          capture_output=True, text=True, check=True).stdout.strip()
    assert (Path(site) / "tarvek" / "_generated.py").is_file()
    assert not list(Path(site).rglob("__pycache__"))
    # Installed beside the library of the same prefix, it finds that one.
    (prefix / "lib").mkdir(exist_ok=True)
    shutil.copy(tarvek.library_path(), prefix / "lib" / "libTARVEK_64.so")
    output = python(CHECK, Path(site))
    assert output.strip().endswith(str(prefix / "lib" / "libTARVEK_64.so"))


def test_site_dir_follows_the_interpreters_layout() -> None:
    def site(prefix: str) -> str:
        return subprocess.run([sys.executable, str(SOURCE / "python" / "site_dir.py"), prefix],
                              capture_output=True, text=True, check=True).stdout.strip()
    assert site("/opt/tarvek").startswith("/opt/tarvek/lib/python3")
    assert site("/usr/local").startswith("/usr/local/lib/python3")
    assert site("/usr").startswith("/usr/lib/python3")


def test_the_package_and_examples_type_check() -> None:
    pytest.importorskip("mypy", reason="mypy is missing (Debian package python3-mypy)")
    package = Path(tarvek.__file__).resolve().parent
    examples = SOURCE / "examples" / "python"
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-warn-return-any", "--no-incremental",
         "--cache-dir", os.devnull, str(package), str(examples / "quickstart.py"),
         str(examples / "sweep.py")], capture_output=True, text=True, timeout=240,
        env=dict(os.environ, MYPYPATH=str(package.parent)))
    assert result.returncode == 0, result.stdout + result.stderr
