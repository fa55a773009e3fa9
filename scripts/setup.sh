#!/usr/bin/env bash
# Installs the Debian packages that one of the project's commands needs,
# skipping what is already there. Run as root on Debian 12.
#
#   scripts/setup.sh demo   building and running the runner (scripts/demo.sh)
#   scripts/setup.sh test   all that, and what the whole test suite needs
#                           (scripts/test.sh): GoogleTest, Google Benchmark,
#                           the ffmpeg program, the MinGW-w64 cross compiler,
#                           32-bit Wine with Xvfb, and the tools that check
#                           the manual page, the completions and the package,
#                           Slurm with munge for the one-machine cluster
#                           that the segment test submits to, GNU parallel
#                           and PyYAML for the cluster recipes' test, headless
#                           Chromium driven through WebDriver for the tests
#                           of `quillmere edit`'s page
set -euo pipefail

profile=${1:-test}

demo_packages=(
  build-essential cmake pkg-config
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev libavfilter-dev
  libcpp-httplib-dev nlohmann-json3-dev libzimg-dev
)
test_packages=(
  "${demo_packages[@]}"
  libgtest-dev libgmock-dev libbenchmark-dev ffmpeg
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386 xvfb xauth imagemagick
  groff-base zsh file dpkg-dev
  clang-14 libclang-rt-14-dev time
  slurm-wlm munge iproute2 parallel python3-yaml
  chromium chromium-driver python3-selenium
)

case "$profile" in
  demo) packages=("${demo_packages[@]}") ;;
  test) packages=("${test_packages[@]}") ;;
  *) echo "usage: $0 [demo|test]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  if [[ " ${missing[*]} " == *":i386 "* ]] &&
     ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
