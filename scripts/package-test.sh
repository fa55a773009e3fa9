#!/usr/bin/env bash
# Builds the Debian package from the native build (cpack -G DEB), unpacks it
# into a scratch root and runs the runner from there.
set -euo pipefail
cd "$(dirname "$0")/../build/native"

cpack -G DEB >/dev/null
package=$(ls -t packages/quillmere_*.deb | head -n 1)
root=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-package-XXXXXX")
trap 'rm -rf "$root"' EXIT
dpkg -x "$package" "$root"

version=$("$root/usr/bin/quillmere" --version)
expected="quillmere $(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' CMakeCache.txt)"
if [[ "$version" != "$expected" ]]; then
  echo "package test: '$version' from the package, expected '$expected'" >&2
  exit 1
fi
for file in usr/share/man/man1/quillmere.1.gz usr/share/bash-completion/completions/quillmere \
            usr/share/zsh/vendor-completions/_quillmere; do
  if [[ ! -s "$root/$file" ]]; then
    echo "package test: $package lacks /$file" >&2
    exit 1
  fi
done
echo "package test: $package installs and runs: $version"
