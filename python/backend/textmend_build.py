"""The build backend of the Python package textmend (PEP 517).

It builds the extension with the project's own CMake and packs the package
into a wheel by hand, so that it needs nothing beyond Python's standard
library, cmake and a compiler: `pip install --no-build-isolation .` and
`python3 -m build --no-isolation --wheel` work on a machine without a
package index.

Config settings (pip --config-settings, build -C):
    build-dir   where CMake builds (default: [tool.textmend-build] build-dir,
                relative to the source tree; {tag} is the wheel's tag)
    cmake-args  more arguments for CMake's configure step, split as a shell would
"""

import base64
import hashlib
import io
import os
import re
import shlex
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import zipfile

try:
    import tomllib
except ModuleNotFoundError:  # Python < 3.11
    import tomli as tomllib

_HEADER = os.path.join("include", "textmend", "textmend.hpp")
_ZIP_TIME = (1980, 1, 1, 0, 0, 0)  # wheels built twice are the same bytes


# The hooks.

def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    project = _Project(os.getcwd())
    dist_info = os.path.join(metadata_directory, project.dist_info)
    os.makedirs(dist_info, exist_ok=True)
    for name, data in project.metadata_files(_wheel_tag()):
        with open(os.path.join(dist_info, name), "wb") as f:
            f.write(data)
    return project.dist_info


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    project = _Project(os.getcwd())
    tag = _wheel_tag()
    settings = config_settings or {}
    build_dir = os.path.join(project.root, settings.get("build-dir") or
                             project.tool.get("build-dir", "build/wheel-{tag}").format(tag=tag))
    cmake_args = shlex.split(settings.get("cmake-args", ""))
    with tempfile.TemporaryDirectory(prefix="textmend-wheel-") as stage:
        _build_extension(project.root, build_dir, stage, cmake_args)
        name = f"{project.name}-{project.version}-{tag}.whl"
        _write_wheel(os.path.join(wheel_directory, name), project, tag, stage)
    return name


def build_sdist(sdist_directory, config_settings=None):
    project = _Project(os.getcwd())
    base = f"{project.name}-{project.version}"
    path = os.path.join(sdist_directory, base + ".tar.gz")
    with tarfile.open(path, "w:gz", format=tarfile.PAX_FORMAT) as archive:
        for relative in _source_files(project.root):
            archive.add(os.path.join(project.root, relative), f"{base}/{relative}",
                        recursive=False, filter=_normalized)
        pkg_info = project.metadata()
        info = tarfile.TarInfo(f"{base}/PKG-INFO")
        info.size = len(pkg_info)
        info.mode = 0o644
        archive.addfile(info, io.BytesIO(pkg_info))
    return os.path.basename(path)


# The project: pyproject.toml's [project] table and the header's version.

class _Project:
    def __init__(self, root):
        self.root = root
        with open(os.path.join(root, "pyproject.toml"), "rb") as f:
            pyproject = tomllib.load(f)
        self.table = pyproject["project"]
        self.tool = pyproject.get("tool", {}).get("textmend-build", {})
        self.name = self.table["name"]
        self.version = _header_version(os.path.join(root, _HEADER))
        self.dist_info = f"{self.name}-{self.version}.dist-info"

    def metadata(self):
        """METADATA (and PKG-INFO): core metadata 2.1."""
        t = self.table
        lines = ["Metadata-Version: 2.1", f"Name: {self.name}", f"Version: {self.version}"]
        if "description" in t:
            lines.append(f"Summary: {t['description']}")
        if "requires-python" in t:
            lines.append(f"Requires-Python: {t['requires-python']}")
        if "text" in t.get("license", {}):
            lines.append(f"License: {t['license']['text']}")
        lines += [f"Classifier: {c}" for c in t.get("classifiers", [])]
        lines += [f"Requires-Dist: {d}" for d in t.get("dependencies", [])]
        for extra, requirements in t.get("optional-dependencies", {}).items():
            lines.append(f"Provides-Extra: {extra}")
            for requirement in requirements:
                lines.append(f"Requires-Dist: {_with_extra(requirement, extra)}")
        description = ""
        if "readme" in t:
            with open(os.path.join(self.root, t["readme"]), encoding="utf-8") as f:
                description = f.read()
            lines.append("Description-Content-Type: text/markdown")
        return ("\n".join(lines) + "\n\n" + description).encode("utf-8")

    def metadata_files(self, tag):
        wheel = (f"Wheel-Version: 1.0\nGenerator: textmend_build\nRoot-Is-Purelib: false\n"
                 f"Tag: {tag}\n")
        with open(os.path.join(self.root, "LICENSE"), "rb") as f:
            license_text = f.read()
        return [("METADATA", self.metadata()), ("WHEEL", wheel.encode()),
                ("top_level.txt", f"{self.name}\n".encode()), ("LICENSE", license_text)]


def _with_extra(requirement, extra):
    """requirement, needed only with extra: 'dask[distributed]; extra == "dask"'."""
    name, _, marker = requirement.partition(";")
    condition = f'extra == "{extra}"'
    if marker.strip():
        condition = f"({marker.strip()}) and {condition}"
    return f"{name.strip()}; {condition}"


def _header_version(header):
    with open(header, encoding="utf-8") as f:
        text = f.read()
    parts = [re.search(rf"^#define TEXTMEND_VERSION_{part} (\d+)$", text, re.M)
             for part in ("MAJOR", "MINOR", "PATCH")]
    if not all(parts):
        raise RuntimeError(f"{header}: no TEXTMEND_VERSION_MAJOR/MINOR/PATCH")
    return ".".join(match.group(1) for match in parts)


def _wheel_tag():
    """interpreter-abi-platform of the Python running the build."""
    implementation = sys.implementation.name
    short = {"cpython": "cp", "pypy": "pp"}.get(implementation, implementation)
    interpreter = f"{short}{sys.version_info.major}{sys.version_info.minor}"
    if implementation == "cpython":
        abi = interpreter + ("d" if sysconfig.get_config_var("Py_DEBUG") else "")
    else:
        soabi = sysconfig.get_config_var("SOABI") or "none"
        abi = soabi.split("-")[0].replace(".", "_")
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"{interpreter}-{abi}-{platform}"


# Building.

def _build_extension(root, build_dir, stage, cmake_args):
    """The package (extension stripped, Python files, stub) into stage/textmend."""
    configure = [
        "cmake", "-S", root, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
        "-DTEXTMEND_BUILD_PYTHON=ON", "-DTEXTMEND_BUILD_TESTS=OFF", "-DTEXTMEND_BUILD_BENCH=OFF",
        f"-DPython3_EXECUTABLE={sys.executable}", f"-DTEXTMEND_PYTHON_DIR={stage}", *cmake_args,
    ]
    _run(configure)
    _run(["cmake", "--build", build_dir, "--target", "textmend_python",
          "--parallel", str(os.cpu_count() or 1)])
    _run(["cmake", "--install", build_dir, "--component", "python", "--strip"])


def _run(command):
    print("textmend_build:", shlex.join(command), flush=True)
    # Its output goes where pip shows build output (pip -v), not to pip's own stdout.
    subprocess.run(command, check=True, stdout=sys.stderr)


def _record_hash(data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
    return "sha256=" + digest.decode()


def _write_wheel(path, project, tag, stage):
    entries = []
    for folder, _, files in sorted(os.walk(stage)):
        for name in sorted(files):
            full = os.path.join(folder, name)
            relative = os.path.relpath(full, stage).replace(os.sep, "/")
            with open(full, "rb") as f:
                entries.append((relative, f.read(), os.stat(full).st_mode & 0o777))
    entries += [(f"{project.dist_info}/{name}", data, 0o644)
                for name, data in project.metadata_files(tag)]
    record_name = f"{project.dist_info}/RECORD"
    record = "".join(f"{name},{_record_hash(data)},{len(data)}\n" for name, data, _ in entries)
    entries.append((record_name, f"{record}{record_name},,\n".encode(), 0o644))
    partial = path + ".part"
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as wheel:
        for name, data, mode in entries:
            info = zipfile.ZipInfo(name, _ZIP_TIME)
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(info, data)
    os.replace(partial, path)


# The source distribution.

_NOT_SOURCE = {".git", "build", "out", "__pycache__", "dist"}


def _source_files(root):
    """The files git tracks, or without git every file but build output."""
    try:
        listed = subprocess.run(["git", "-C", root, "ls-files", "-z", "--cached", "--others",
                                 "--exclude-standard"], check=True,
                                capture_output=True).stdout
        files = [name for name in listed.decode().split("\0") if name]
        if files:
            return sorted(name for name in files if os.path.isfile(os.path.join(root, name)))
    except (OSError, subprocess.CalledProcessError):
        pass
    found = []
    for folder, folders, files in os.walk(root):
        folders[:] = sorted(d for d in folders if d not in _NOT_SOURCE)
        found += [os.path.relpath(os.path.join(folder, name), root) for name in files]
    return sorted(found)


def _normalized(info):
    info.uid = info.gid = 0
    info.uname = info.gname = ""
    info.mtime = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
    return info

