"""The package's types: the stub agrees with the functions it describes, and a
program typed throughout passes mypy --strict against the installed package."""

import ast
import inspect
import os
import shutil
import subprocess
import sys

import pytest

import textmend
from textmend import _textmend

HERE = os.path.dirname(os.path.abspath(__file__))


def _stub():
    path = os.path.join(os.path.dirname(_textmend.__file__), "_textmend.pyi")
    with open(path, encoding="utf-8") as f:
        return ast.parse(f.read())


def _stub_parameters(function):
    """(name, kind, default) of each parameter of a stub's def."""
    arguments = function.args
    parameters = []
    plain = arguments.posonlyargs + arguments.args
    defaults = [None] * (len(plain) - len(arguments.defaults)) + arguments.defaults
    for i, (argument, default) in enumerate(zip(plain, defaults)):
        kind = "positional-only" if i < len(arguments.posonlyargs) else "positional or keyword"
        parameters.append((argument.arg, kind, None if default is None else ast.literal_eval(default)))
    for argument, default in zip(arguments.kwonlyargs, arguments.kw_defaults):
        parameters.append((argument.arg, "keyword-only",
                           None if default is None else ast.literal_eval(default)))
    return parameters


def _runtime_parameters(function, skip_self=False):
    parameters = list(inspect.signature(function).parameters.values())
    if skip_self:
        parameters = parameters[1:]
    return [(p.name, p.kind.description, None if p.default is p.empty else p.default)
            for p in parameters]


def test_the_stub_agrees_with_the_module():
    stub = _stub()
    functions = {node.name: node for node in stub.body if isinstance(node, ast.FunctionDef)}
    classes = {node.name: node for node in stub.body if isinstance(node, ast.ClassDef)}
    public = [name for name in dir(_textmend) if not name.startswith("__")]
    for name in public:
        runtime = getattr(_textmend, name)
        if inspect.isclass(runtime):
            methods = {node.name: node for node in classes[name].body
                       if isinstance(node, ast.FunctionDef)}
            assert _runtime_parameters(runtime) == _stub_parameters(methods["__init__"])[1:]
            for method, node in methods.items():
                if method.startswith("__") or not callable(getattr(runtime, method)):
                    continue  # __init__ above; properties
                # The stub's self may be given by keyword; the runtime's may not.
                assert [p[0] for p in _runtime_parameters(getattr(runtime, method), True)] == \
                    [p[0] for p in _stub_parameters(node)[1:]], method
            assert {m for m in dir(runtime) if not m.startswith("_")} == \
                {m for m in methods if not m.startswith("_")}
        else:
            assert _runtime_parameters(runtime) == _stub_parameters(functions[name]), name
    assert set(functions) == {name for name in public if not inspect.isclass(getattr(_textmend, name))}
    assert set(textmend.__all__) - {"__version__"} <= set(public)


def _mypy(tmp_path, program):
    mypy = shutil.which("mypy")
    if mypy is None:
        pytest.skip("mypy not found (Debian: apt-get install mypy)")
    # Dask's own sources are not what is checked here, and take long to read.
    config = tmp_path / "mypy.ini"
    config.write_text("[mypy]\n[mypy-dask.*]\nfollow_imports = skip\n"
                      "[mypy-distributed.*]\nfollow_imports = skip\n")
    return subprocess.run([mypy, "--strict", "--config-file", str(config), "--cache-dir",
                           str(tmp_path / "cache"), "--python-executable", sys.executable,
                           program], capture_output=True, text=True, cwd=tmp_path)


def test_a_typed_program_passes_mypy_strict(tmp_path):
    done = _mypy(tmp_path, os.path.join(HERE, "typed_use.py"))
    assert done.returncode == 0, done.stdout + done.stderr

    # And it does look at the types: a wrong call is found.
    wrong = tmp_path / "wrong.py"
    wrong.write_text("import textmend\nx: str = textmend.convert(b'', 'utf-8')\n"
                     "textmend.report(b'', max_example=3)\n")
    done = _mypy(tmp_path, str(wrong))
    assert done.returncode == 1
    assert "wrong.py:2" in done.stdout and "wrong.py:3" in done.stdout, done.stdout
