"""The wheel, installed into a fresh virtual environment: every package file is there and the suite passes.

Runs from a folder outside the source tree, without PYTHONPATH, so that only
the installed package can be imported.
"""
import os
import pathlib
import subprocess
import sys
import textwrap
import zipfile

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
# Run against the installed package: unit behaviour, the demo page, the stubs, the browser check.
SUITE = ("test_attribute.py", "test_demo.py", "test_typing.py", "test_browser.py", "test_html.py", "test_live_server.py")
NATIVE = ("_attributes", "properties", "_event", "_render", "_testsupport")

pytestmark = [
    pytest.mark.slow,
    pytest.mark.no_leakcheck,
    pytest.mark.skipif(not (ROOT / "pyproject.toml").is_file(), reason="needs the source tree to build the wheel"),
    pytest.mark.skipif(
        "libasan" in os.environ.get("LD_PRELOAD", ""),
        reason="the wheel is a release build; the plain run installs and tests it",
    ),
]


def clean_env():
    """The environment without what would make the source tree or another build importable."""
    drop = ("PYTHONPATH", "PYTHONHOME", "MYPYPATH", "VIRTUAL_ENV", "PYTHONSTARTUP", "TAVO_REQUIRE_BROWSER")
    return {key: value for key, value in os.environ.items() if key not in drop}


def run(args, cwd, timeout=300):
    done = subprocess.run(args, capture_output=True, text=True, cwd=cwd, env=clean_env(), timeout=timeout)
    assert done.returncode == 0, f"{args}\n{done.stdout[-4000:]}\n{done.stderr[-4000:]}"
    return done


@pytest.fixture(scope="module")
def wheel(tmp_path_factory):
    folder = tmp_path_factory.mktemp("wheel")
    run([sys.executable, "-m", "pip", "wheel", str(ROOT), "-w", str(folder), "--no-deps", "-q"], folder, 600)
    (built,) = folder.glob("tavo-*.whl")
    return built


@pytest.fixture(scope="module")
def venv(wheel, tmp_path_factory):
    """The python of a fresh virtual environment holding the wheel and its test extra, and a folder to run in."""
    folder = tmp_path_factory.mktemp("venv")
    run([sys.executable, "-m", "venv", str(folder / "env")], folder)
    python = folder / "env" / "bin" / "python"
    run([str(python), "-m", "pip", "install", "-q", "--disable-pip-version-check", f"{wheel}[test]"], folder, 600)
    work = folder / "work"
    work.mkdir()
    return python, work


def test_wheel_holds_every_package_file(wheel):
    names = set(zipfile.ZipFile(wheel).namelist())
    expected = {
        "tavo/__init__.py",
        "tavo/py.typed",
        "tavo/demo.py",
        "tavo/core/__init__.py",
        "tavo/core/utils.py",
        "tavo/core/_attributes.pyi",
        "tavo/core/properties.pyi",
        "tavo/core/_event.pyi",
        "tavo/core/_render.pyi",
        "tavo/html.py",
        "tavo/live.py",
        "tavo/live.js",
    }
    assert expected <= names
    for module in NATIVE:
        assert any(name.startswith(f"tavo/core/{module}.{sys.implementation.cache_tag}-") and name.endswith(".so") for name in names)


def test_installed_modules_import_and_render(venv):
    python, work = venv
    check = textwrap.dedent(
        """
        import pathlib, sys
        import tavo, tavo.core._attributes, tavo.core.properties, tavo.core._event
        from tavo import demo
        env = pathlib.Path(sys.prefix)
        for module in (tavo, tavo.core._attributes, tavo.core.properties, tavo.core._event, demo):
            assert env in pathlib.Path(module.__file__).parents, module.__file__
        page = demo.build_page()
        assert 'style="width: 240.0px; font-size: 12.0pt; margin: 10px 20px 10px 20px; color: inherit"' in page
        assert demo.main(["--output", "page.html"]) == 0
        """
    )
    done = run([str(python), "-c", check], work)
    assert "Panel.opacity = 1.5: Panel.opacity is above the maximum bound (1.0)" in done.stdout
    assert (work / "page.html").read_text(encoding="utf-8") == run(
        [str(python), "-m", "tavo.demo", "--print"], work
    ).stdout


def test_suite_passes_against_the_installed_package(venv):
    python, work = venv
    files = [str(ROOT / "tests" / name) for name in SUITE]
    done = run([str(python), "-m", "pytest", "-q", "-rs", "-p", "no:cacheprovider", *files], work, 600)
    assert " passed" in done.stdout.splitlines()[-1]
    # Only the browser check may skip (no Chromium here); the test extra brings everything else.
    skipped = [line for line in done.stdout.splitlines() if line.startswith("SKIPPED")]
    assert all("test_browser.py" in line for line in skipped), skipped
