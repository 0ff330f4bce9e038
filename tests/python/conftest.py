"""Shared fixtures: every test runs without the user's or the system's settings file."""
import os
import pathlib
import textwrap

import pytest

import korvo

SOURCE_DIR = pathlib.Path(os.environ.get("KORVO_SOURCE_DIR", pathlib.Path(__file__).parents[2]))


@pytest.fixture(autouse=True)
def no_user_settings(tmp_path, monkeypatch):
    monkeypatch.setenv("XDG_CONFIG_HOME", str(tmp_path / "xdg-home"))
    monkeypatch.setenv("XDG_CONFIG_DIRS", str(tmp_path / "xdg-dirs"))
    monkeypatch.delenv("KORVO_ADAPTER", raising=False)


@pytest.fixture
def ini(tmp_path):
    """Writes a settings file from the text given and returns its path."""
    def make(text, name="korvo.ini"):
        path = tmp_path / name
        path.write_text(textwrap.dedent(text))
        return path
    return make


@pytest.fixture
def board():
    with korvo.open("sim") as b:
        yield b
