# SPDX-License-Identifier: BSD-3-Clause
"""Builds vendral's Python package: the engine through the project's own CMake
build (so this file names none of its sources), then the pybind11 extension
linked against the engine's static archive.

    pip install --no-build-isolation .
"""
import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from pybind11.setup_helpers import Pybind11Extension, build_ext
from setuptools import setup

TOP = Path(__file__).resolve().parent
# The engine's archive (the model and everything under it, no host).
ENGINE_TARGETS = ("vendral_engine",)


def project_version():
    text = (TOP / "CMakeLists.txt").read_text()
    match = re.search(r"project\(\s*vendral\s+VERSION\s+([0-9][0-9.]*)", text)
    if not match:
        sys.exit("setup.py: no version in CMakeLists.txt's project()")
    return match.group(1)


def jobs():
    """At most two compile jobs unless CMAKE_BUILD_PARALLEL_LEVEL says otherwise."""
    level = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL")
    return level if level else str(min(2, os.cpu_count() or 1))


class build_engine_ext(build_ext):
    """Builds the engine archive with CMake, then the extension against it."""

    def build_extensions(self):
        archive = self.build_engine()
        for extension in self.extensions:
            extension.extra_objects = [str(archive)] + list(extension.extra_objects or [])
        super().build_extensions()

    def build_engine(self):
        cmake = shutil.which("cmake")
        if cmake is None:
            sys.exit("setup.py: cmake is needed to build the engine (apt-get install cmake)")
        build_dir = Path(self.build_temp).resolve() / "engine"
        # CMake's file API tells which targets the project defines and where
        # their outputs go, whatever the generator and wherever the target is
        # declared.
        query = build_dir / ".cmake" / "api" / "v1" / "query" / "codemodel-v2"
        query.parent.mkdir(parents=True, exist_ok=True)
        query.touch()
        configure = [cmake, "-S", str(TOP), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
                     "-DVENDRAL_BUILD_OCTAVE_MODULE=OFF", "-DBUILD_TESTING=OFF"]
        if not (build_dir / "CMakeCache.txt").exists() and shutil.which("make") and not os.environ.get(
                "CMAKE_GENERATOR"):
            configure += ["-G", "Unix Makefiles"]
        self.announce("configuring the engine: " + " ".join(configure), level=2)
        subprocess.run(configure, check=True, stdout=subprocess.DEVNULL)
        target, artifact = self.engine_target(build_dir)
        subprocess.run([cmake, "--build", str(build_dir), "--target", target, "-j", jobs()], check=True)
        archive = build_dir / artifact
        if not archive.is_file():
            sys.exit(f"setup.py: CMake built {target}, but {archive} is missing")
        return archive

    @staticmethod
    def engine_target(build_dir):
        reply = build_dir / ".cmake" / "api" / "v1" / "reply"
        index = max(reply.glob("index-*.json"))
        codemodel_file = next(entry["jsonFile"] for entry in json.loads(index.read_text())["objects"]
                              if entry["kind"] == "codemodel")
        codemodel = json.loads((reply / codemodel_file).read_text())
        static = {}
        for configuration in codemodel["configurations"]:
            for target in configuration["targets"]:
                description = json.loads((reply / target["jsonFile"]).read_text())
                if description["type"] == "STATIC_LIBRARY":
                    static[description["name"]] = description["artifacts"][0]["path"]
        for name in ENGINE_TARGETS:
            if name in static:
                return name, static[name]
        sys.exit("setup.py: the CMake project defines none of " + ", ".join(ENGINE_TARGETS) +
                 "; its static libraries: " + ", ".join(sorted(static)))


extension = Pybind11Extension(
    "vendral._engine",
    ["python/src/engine.cpp"],
    include_dirs=[str(TOP)],
    define_macros=[("VENDRAL_VERSION", '"%s"' % project_version())],
    extra_compile_args=["-Wall", "-Wextra"],
    extra_link_args=["-pthread"],
    cxx_std=17,
)

setup(
    version=project_version(),
    package_dir={"": "python"},
    packages=["vendral"],
    ext_modules=[extension],
    cmdclass={"build_ext": build_engine_ext},
    # Out of the way of the project's own CMake trees (build/).
    options={"build": {"build_base": "build-python"}, "egg_info": {"egg_base": "build-python"}},
    zip_safe=False,
)
