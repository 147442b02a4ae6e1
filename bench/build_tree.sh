# Sourced by the scripts under bench/ from the repository root.
# build_tree <target>...: builds those targets in BUILD_DIR (default
# build-bench, a Release tree configured here), JOBS jobs at a time (default 4).
build_tree() {
  BUILD_DIR=${BUILD_DIR:-build-bench}
  if [ "$BUILD_DIR" = build-bench ]; then
    cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPANOPTRA_TESTS=OFF >/dev/null
  fi
  cmake --build "$BUILD_DIR" --target "$@" -j "${JOBS:-4}" >/dev/null
}
