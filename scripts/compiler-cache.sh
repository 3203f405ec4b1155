# Sourced by the build scripts. Where ccache is installed (scripts/install-deps.sh
# installs it), every build directory configured from now on compiles through it,
# with paths taken relative to the checkout, so that another clone, another build
# directory of the same kind and a later run reuse what was compiled before.
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
  export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-true}
  # The suite builds seven trees (plain, user, package, Windows, two sanitizers, fuzz).
  export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-20G}
fi
