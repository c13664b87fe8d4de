"""The wheel's build: CMake builds and installs the module (CMakeLists.txt is the
only description of the build), setuptools packs the Tavro_Workspace/ folder that
`cmake --install` fills. Metadata is in pyproject.toml.

Tavro_Workspace stays a namespace package that the host owns: nothing of ours
adds an __init__.py to it.
"""
import sys

from skbuild import setup

# setuptools' metadata step runs before CMake and checks that each package's
# folder exists in the source tree. This package's only folder is the one CMake
# installs into, which scikit-build hands to setuptools after the build; so the
# package is named only to the commands that build.
BUILDS = not {"build", "build_ext", "bdist_wheel", "install", "develop"}.isdisjoint(sys.argv[1:])

setup(
    # Tavro_Workspace.explorerview_check: the host check, a package of its own.
    # Tavro_Workspace-stubs: the stub for type checkers, beside the package (CMakeLists.txt says why).
    packages=(["Tavro_Workspace", "Tavro_Workspace.explorerview_check", "Tavro_Workspace-stubs"]
              if BUILDS else []),
    cmake_languages=("CXX",),
)
