# Sourced by the scripts that draw with kivtool: sets KIVTOOL to the kivtool to run. One named in
# KIVTOOL is kept; otherwise kivtool is built in build-release (Release, no tests, no benchmarks)
# below the project folder `root`.
if [[ -z "${KIVTOOL:-}" ]]; then
    cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIV_BUILD_TESTS=OFF \
        -DKIV_BUILD_BENCH=OFF >/dev/null
    cmake --build "$root/build-release" -j 2 --target kivtool >/dev/null
    KIVTOOL=$root/build-release/tools/kivtool/kivtool
fi
