#!/usr/bin/python3
"""Runs the Python suite against the package as users get it: a wheel built
from the source tree (python3 -m build --no-isolation), installed into a
fresh virtual environment (with the system's packages visible, for Debian's
Dask and pytest), imported from outside the source tree, tested, and
uninstalled without a trace.

    run_installed.py SOURCE_DIR WORK_DIR [pytest arguments...]

WORK_DIR keeps CMake's build of the extension between runs; the wheel and
the environment are made anew each time. Exits non-zero when any step fails.
"""

import glob
import os
import shutil
import subprocess
import sys
import tempfile


def run(command, **options):
    print("run_installed:", " ".join(command), flush=True)
    return subprocess.run(command, check=True, **options)


def output(command, **options):
    return run(command, capture_output=True, text=True, **options).stdout.strip()


def uninstall(python, site):
    run([python, "-m", "pip", "uninstall", "--yes", "--quiet", "textmend"])
    left = glob.glob(os.path.join(site, "textmend*"))
    if left:
        sys.exit(f"run_installed: left after pip uninstall: {left}")


def main():
    source, work = (os.path.abspath(path) for path in sys.argv[1:3])
    pytest_arguments = sys.argv[3:]
    scratch = tempfile.mkdtemp(prefix="textmend-installed-")
    try:
        dist = os.path.join(scratch, "dist")
        run([sys.executable, "-m", "build", "--no-isolation", "--wheel", "--outdir", dist,
             "-C", f"build-dir={os.path.join(work, 'wheel-build')}", source],
            stdout=subprocess.DEVNULL)
        [wheel] = glob.glob(os.path.join(dist, "textmend-*.whl"))

        venv = os.path.join(scratch, "venv")
        run([sys.executable, "-m", "venv", "--system-site-packages", venv])
        python = os.path.join(venv, "bin", "python")
        run([python, "-m", "pip", "install", "--no-index", "--no-deps", "--quiet", wheel])

        # Imported from a folder outside the source tree, it is the copy
        # just installed, not one of the build tree or an older install.
        environment = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
        outside = os.path.join(scratch, "elsewhere")
        os.mkdir(outside)
        where = output([python, "-c", "import textmend; print(textmend.__file__)"],
                       cwd=outside, env=environment)
        site = output([python, "-c", "import sysconfig; print(sysconfig.get_path('platlib'))"],
                      env=environment)
        if not where.startswith(site + os.sep) or not site.startswith(venv + os.sep):
            sys.exit(f"run_installed: textmend imported from {where}, not from {site}")

        tests = os.path.join(source, "python", "tests")
        run([python, "-m", "pytest", "-q", "-p", "no:cacheprovider", tests, *pytest_arguments],
            cwd=outside, env=dict(environment, PYTHONDONTWRITEBYTECODE="1"))

        uninstall(python, site)

        # pip install straight from the source tree, with and without an
        # isolated build environment (which needs nothing from an index).
        build_dir = f"build-dir={os.path.join(work, 'wheel-build')}"
        for isolation in [[], ["--no-build-isolation"]]:
            run([python, "-m", "pip", "install", "--no-index", "--quiet", *isolation,
                 "--config-settings", build_dir, source], cwd=outside, env=environment)
            converted = output([python, "-c", "import textmend; print(textmend.__file__, "
                                "textmend.convert(b'caf\\xe9', 'UTF-8'))"],
                               cwd=outside, env=environment)
            if converted != f"{where} b'caf\\xc3\\xa9'":
                sys.exit(f"run_installed: pip install {' '.join(isolation)} . gave {converted}")
            uninstall(python, site)
        print("run_installed: built, installed, tested and uninstalled", wheel)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
