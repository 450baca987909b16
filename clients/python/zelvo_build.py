"""The package's build backend: setuptools, run on a copy of this folder,
so that installing leaves no build/ or *.egg-info behind in the source."""
from __future__ import annotations

import os
import shutil
import tempfile
from typing import Any, Callable

from setuptools import build_meta as _setuptools


def _in_copy(hook: Callable[..., Any], *directories: str, **options: Any) -> Any:
    source = os.getcwd()
    directories = tuple(os.path.abspath(directory) for directory in directories)
    with tempfile.TemporaryDirectory(prefix="zelvo-build-") as scratch:
        copy = os.path.join(scratch, "zelvo")
        shutil.copytree(source, copy, ignore=shutil.ignore_patterns("build", "*.egg-info", "__pycache__"))
        os.chdir(copy)
        try:
            return hook(*directories, **options)
        finally:
            os.chdir(source)


get_requires_for_build_wheel = _setuptools.get_requires_for_build_wheel
get_requires_for_build_sdist = _setuptools.get_requires_for_build_sdist


def prepare_metadata_for_build_wheel(metadata_directory: str, config_settings: Any = None) -> str:
    return _in_copy(_setuptools.prepare_metadata_for_build_wheel, metadata_directory,
                    config_settings=config_settings)


def build_wheel(wheel_directory: str, config_settings: Any = None, metadata_directory: Any = None) -> str:
    options: dict[str, Any] = {"config_settings": config_settings}
    if metadata_directory is not None:
        options["metadata_directory"] = os.path.abspath(metadata_directory)
    return _in_copy(_setuptools.build_wheel, wheel_directory, **options)


def build_sdist(sdist_directory: str, config_settings: Any = None) -> str:
    return _in_copy(_setuptools.build_sdist, sdist_directory, config_settings=config_settings)
