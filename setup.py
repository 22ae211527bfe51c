"""Builds the extension module ZelvoDepthCamera with the project's CMake build and puts it,
with the libraries it needs, into the wheel beside the `zelvo` package.

    /usr/bin/python3 -m pip install --no-build-isolation .

The module lands at the top of site-packages; libzelvo, the depth library and (when the
ROS bag library is there) the replay plug-in land in zelvo.libs/ beside it, which the
module's RUNPATH ($ORIGIN/zelvo.libs) names and libzelvo's own RUNPATH ($ORIGIN) finds
the depth library in. The viewer's 3-D library, fetched from the npm registry by the build,
goes into the package when the build could fetch it.

Settings from the environment: ZELVO_CMAKE_ARGS (more cache settings, split at spaces),
ZELVO_BUILD_JOBS (parallel jobs, default 2).
"""
import glob
import os
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))
LIBS_DIR = "zelvo.libs"


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        tag = sysconfig.get_config_var("SOABI") or "py%d%d" % sys.version_info[:2]
        build_dir = os.path.join(ROOT, "build", "pip-" + tag)
        staging = os.path.join(build_dir, "staging")
        configure = [
            "cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja",
            "-DCMAKE_BUILD_TYPE=Release",
            "-DPython_EXECUTABLE=" + sys.executable,
            "-DZELVO_BUILD_TESTS=OFF", "-DZELVO_BUILD_BENCH=OFF",
            # The module finds the libraries in zelvo.libs beside it, built that way at once
            # (nothing of this build runs from its build folder).
            "-DCMAKE_INSTALL_PREFIX=" + staging,
            "-DZELVO_PYTHON_INSTALL_DIR=site",
            "-DCMAKE_INSTALL_LIBDIR=site/" + LIBS_DIR,
            "-DCMAKE_BUILD_WITH_INSTALL_RPATH=ON",
        ]
        if shutil.which("ccache"):
            configure += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache",
                          "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
        configure += os.environ.get("ZELVO_CMAKE_ARGS", "").split()
        subprocess.check_call(configure)
        jobs = os.environ.get("ZELVO_BUILD_JOBS", "2")
        subprocess.check_call(["ninja", "-C", build_dir, "-j", jobs, "ZelvoDepthCamera"])
        # The viewer's 3-D library is optional: without npm or the registry the viewer
        # says that its 3-D view was not built.
        assets = subprocess.call(["ninja", "-C", build_dir, "-j", jobs, "zelvo_viewer_assets"])
        if assets != 0:
            print("zelvo: the viewer's 3-D library was not fetched; the package goes without it")

        module = glob.glob(os.path.join(build_dir, "python", "ZelvoDepthCamera*.so"))
        if len(module) != 1:
            raise RuntimeError("the build made no single ZelvoDepthCamera module: %s" % module)
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(module[0], target)

        libs = os.path.join(os.path.dirname(target), LIBS_DIR)
        os.makedirs(libs, exist_ok=True)
        for pattern in ("libzelvo.so.*", "libzelvo_depth.so.*", "libzelvo_replay.so"):
            for library in glob.glob(os.path.join(build_dir, pattern)):
                shutil.copyfile(library, os.path.join(libs, os.path.basename(library)))

        vendor = os.path.join(build_dir, "python", "zelvo", "viewer", "static", "vendor")
        if assets == 0 and os.path.isdir(vendor):
            shutil.copytree(vendor, os.path.join(self.build_lib, "zelvo", "viewer", "static",
                                                 "vendor"), dirs_exist_ok=True)


setup(ext_modules=[Extension("ZelvoDepthCamera", sources=[])],
      cmdclass={"build_ext": CMakeBuild})
