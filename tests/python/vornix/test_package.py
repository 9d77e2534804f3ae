"""The package as editors and help() see it: the stubs name what the module has, every function says what it does."""
import ast
import pathlib

import vornix
from vornix import _vornix


def stub_names():
    tree = ast.parse((pathlib.Path(_vornix.__file__).parent / "_vornix.pyi").read_text())
    top, members = set(), set()
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            top.add(node.name)
        elif isinstance(node, ast.AnnAssign):
            top.add(node.target.id)
        if isinstance(node, ast.ClassDef) and node.name == "CVornix":
            members = {n.name for n in node.body if isinstance(n, ast.FunctionDef)}
    return top, members


def test_stubs_name_what_the_module_has():
    top, members = stub_names()
    public = {name for name in top if not name.startswith("_")}
    assert public == set(vornix.__all__)
    runtime = {name for name in dir(vornix.CVornix) if not name.startswith("_")}
    assert {name for name in members if not name.startswith("_")} == runtime
    assert (pathlib.Path(vornix.__file__).parent / "py.typed").exists()


def test_every_function_documents_its_signature():
    for name in vornix.__all__:
        obj = getattr(vornix, name)
        if callable(obj) and not isinstance(obj, type):
            assert obj.__doc__.startswith(f"{name}("), name
    for name in dir(vornix.CVornix):
        if not name.startswith("_"):
            assert getattr(vornix.CVornix, name).__doc__.startswith(f"{name}("), name
    assert vornix.__doc__ and vornix.CVornix.__doc__ and vornix.filter_type.__doc__
