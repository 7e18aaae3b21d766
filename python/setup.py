# Builds the extension rdsgen._core over the engine library of this
# repository: CMake builds the static libraries (the engine and the command
# line's option code) in the build folder, and the extension links them.
import os
import subprocess
import sys
from pathlib import Path

from pybind11.setup_helpers import Pybind11Extension, build_ext
from setuptools import setup

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent


def pkg_config_libraries(*packages):
    out = subprocess.run(["pkg-config", "--libs", *packages], check=True, capture_output=True, text=True).stdout
    return [flag[2:] for flag in out.split() if flag.startswith("-l")]


class CMakeBuildExt(build_ext):
    def run(self):
        if not (ROOT / "CMakeLists.txt").exists():
            sys.exit("rdsgen: build from the repository's python/ folder (the engine's sources are one level up)")
        cmake_build = Path(self.build_temp).resolve() / "engine"
        jobs = os.environ.get("JOBS", str(os.cpu_count() or 2))
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(cmake_build), "-DRDSGEN_TESTS=OFF",
                        "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_POSITION_INDEPENDENT_CODE=ON"], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", str(cmake_build), "-j", jobs, "--target", "rdsgen",
                        "rdsgen_command_line"], check=True)
        for ext in self.extensions:
            # The command line's library uses the engine's, so it comes first.
            ext.extra_objects = [str(cmake_build / "librdsgen_command_line.a"), str(cmake_build / "librdsgen.a")]
        super().run()


core = Pybind11Extension(
    "rdsgen._core",
    ["src/core.cpp"],
    include_dirs=[str(ROOT / "include"), str(ROOT / "src")],
    libraries=pkg_config_libraries("spng", "libjpeg", "zlib") + ["gif", "pthread"],
    cxx_std=20,
)

setup(ext_modules=[core], cmdclass={"build_ext": CMakeBuildExt})
