"""The package's face: its type hints cover what it offers."""
import ast
import pathlib

import korvo

STUB = pathlib.Path(korvo.__file__).with_name("__init__.pyi")


def stub_names():
    tree = ast.parse(STUB.read_text())
    names = {}
    for node in tree.body:
        if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
            names[node.name] = {n.name if isinstance(n, ast.FunctionDef) else n.target.id
                                for n in node.body if isinstance(n, (ast.FunctionDef, ast.AnnAssign))}
        elif isinstance(node, ast.AnnAssign):
            names[node.target.id] = set()
    return names


def test_the_stub_names_everything_the_package_exports():
    assert set(korvo.__all__) <= set(stub_names())


def test_the_stub_names_every_public_board_member():
    public = {n for n in dir(korvo.Board) if not n.startswith("_")}
    assert public <= stub_names()["Board"]
