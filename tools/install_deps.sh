#!/usr/bin/env bash
# Installs the Debian packages that Tessellar needs beyond the compiler,
# CMake, GoogleTest and Google Benchmark: only those not yet installed, with
# sudo when not run as root.
#   tools/install_deps.sh build   htslib (headers, pkg-config file), tabix and bcftools,
#                                  to build and run the README's examples
#   tools/install_deps.sh test    also Snakemake, SLURM and munge
#                                  (workflow tests), clang 14 (fuzzing)
#   tools/install_deps.sh bench   also the accuracy benchmark's data (shapeit4-example),
#                                  Beagle 5.4, GNU time and Python 3
set -euo pipefail
what="${1:-build}"
packages=(libhts-dev pkg-config tabix bcftools)
if [ "$what" = test ]; then
  packages+=(snakemake slurm-wlm munge clang-14 libclang-rt-14-dev python3)
elif [ "$what" = bench ]; then
  packages+=(shapeit4-example beagle time python3)
elif [ "$what" != build ]; then
  echo "usage: tools/install_deps.sh [build|test|bench]" >&2
  exit 2
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
run() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
echo "installing: ${missing[*]}" >&2
run env DEBIAN_FRONTEND=noninteractive apt-get update -qq
run env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
