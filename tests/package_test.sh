#!/usr/bin/env bash
# Checks what an observer installs: the five manual pages format without a
# single groff warning and point to the user guide, the Debian package built
# from the build tree holds the five programs, their pages, the pages of
# docs/ and Debian's copyright file and changelog, depends on the packages of
# the libraries they link at versions installed here (also with the plain
# list used without dpkg-shlibdeps), names them and the morning report, runs
# from a scratch root, and `cmake --install` puts exactly those in place.
#
# Usage: package_test.sh SOURCE_DIR BUILD_DIR VERSION [CMAKE [CPACK]]
# The build tree must be built (cmake --build BUILD_DIR) before.
set -euo pipefail

if [ $# -lt 3 ]; then
  echo "usage: $0 SOURCE_DIR BUILD_DIR VERSION [CMAKE [CPACK]]" >&2
  exit 2
fi
source_dir=$1
build_dir=$2
version=$3
cmake_exe=${4:-cmake}
cpack_exe=${5:-cpack}

programs=(tarnfits tarnfits4 tarnfits4s tarnlook tarnindex)
docdir=share/doc/tarnfits
docs=$(cd "$source_dir/docs" && find . -maxdepth 1 -type f | sed 's|^\./||' | sort)
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Every tool this test needs, with the Debian package that brings it.
missing=()
need() {
  command -v "$1" >/dev/null 2>&1 || missing+=("$1 (Debian package $2)")
}
need groff groff
need man man-db
need gzip gzip
need dpkg-deb dpkg
need dpkg dpkg
need objdump binutils
need "$cmake_exe" cmake
need "$cpack_exe" cmake
if [ ${#missing[@]} -gt 0 ]; then
  echo "package_test: missing tools:" >&2
  printf '  %s\n' "${missing[@]}" >&2
  echo "Install them, for example: apt-get install groff man-db" >&2
  exit 1
fi
for program in "${programs[@]}"; do
  if [ ! -f "$build_dir/CPackConfig.cmake" ] ||
     [ -z "$(find "$build_dir" -type f -name "$program" -perm -u+x -print -quit)" ]; then
    echo "package_test: $build_dir holds no built $program; build it first" \
         "(cmake --build $build_dir)" >&2
    exit 1
  fi
done

scratch=$(mktemp -d /tmp/package_test_XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# 1. The pages format cleanly, with every groff warning on, and man renders
#    them with a NAME section.
for program in "${programs[@]}"; do
  page=$source_dir/man/$program.1
  if [ ! -f "$page" ]; then
    fail "no manual page $page"
    continue
  fi
  grep -Eq "^\.TH [A-Z0-9]+ 1 \"[^\"]*\" \"tarnfits $version\"" "$page" ||
    fail "the .TH line of $page does not give the version tarnfits $version"
  warnings=$(groff -ww -z -man "$page" 2>&1) || fail "groff failed on $page"
  [ -z "$warnings" ] || fail "groff -ww on $page printed:"$'\n'"$warnings"
  rendered=$(MANWIDTH=80 man -l "$page" 2>"$scratch/man.err") ||
    fail "man -l $page failed"
  [ -s "$scratch/man.err" ] && fail "man -l $page printed: $(cat "$scratch/man.err")"
  grep -q "^NAME" <<<"$rendered" || fail "man -l $page shows no NAME section"
  grep -Eq "^ *$program +- " <<<"$rendered" ||
    fail "man -l $page does not name $program in its NAME line"
  grep -qF "/usr/$docdir/user-guide.md" <<<"$rendered" || fail "$page does not point to the user guide"
done

# 2. The Debian package, built by cpack from the build tree.
for deb_dir in deb plain; do # plain: the Depends field made without dpkg-shlibdeps
  (cd "$scratch" && "$cpack_exe" -G DEB --config "$build_dir/CPackConfig.cmake" -B "$scratch/$deb_dir" \
     $([ $deb_dir = deb ] || echo -D CPACK_DEBIAN_PACKAGE_SHLIBDEPS=OFF) >"$scratch/cpack.log" 2>&1) || {
    cat "$scratch/cpack.log" >&2
    fail "cpack -G DEB failed"
  }
done
shopt -s nullglob
debs=("$scratch"/deb/*.deb)
shopt -u nullglob
if [ ${#debs[@]} -ne 1 ]; then
  fail "cpack made ${#debs[@]} .deb files, expected one"
else
  deb=${debs[0]}
  [[ $(basename "$deb") == tarnfits_${version}-[0-9]*_*.deb ]] ||
    fail "package file $(basename "$deb") is not tarnfits_${version}-<revision>_<arch>.deb"
  contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
  for program in "${programs[@]}"; do
    grep -qxF "./usr/bin/$program" <<<"$contents" ||
      fail "package lacks ./usr/bin/$program"
    grep -Eqx "\./usr/share/man/man1/$program\.1(\.gz)?" <<<"$contents" ||
      fail "package lacks ./usr/share/man/man1/$program.1(.gz)"
  done
  for doc in $docs copyright changelog.Debian.gz; do
    grep -qxF "./usr/$docdir/$doc" <<<"$contents" || fail "package lacks ./usr/$docdir/$doc"
  done
  # Files only: the programs, their pages and the docs, nothing else.
  files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort)
  [ "$(wc -l <<<"$files")" -eq $((2 * ${#programs[@]} + $(wc -w <<<"$docs") + 2)) ] ||
    fail "package holds other files than the programs, pages and docs:"$'\n'"$files"

  field() { dpkg-deb -f "$deb" "$1"; }
  [ "$(field Package)" = tarnfits ] || fail "Package is '$(field Package)'"
  [[ $(field Version) == "$version"-[0-9]* ]] || fail "Version is '$(field Version)'"
  [ "$(field Section)" = science ] || fail "Section is '$(field Section)'"
  [[ $(field Maintainer) == *"<"*"@"*">" ]] ||
    fail "Maintainer '$(field Maintainer)' is not 'Name <address>'"
  for word in "${programs[@]}" "morning report"; do
    grep -qw "$word" <<<"$(field Description)" || fail "the Description does not name $word"
  done

  # Unpacked into a scratch root, the programs run from there and the pages
  # render.
  root=$scratch/root
  dpkg -x "$deb" "$root" || fail "dpkg -x failed"
  linked=$(objdump -p "$root"/usr/bin/* | awk '$1 == "NEEDED" {print $2}' | sort -u | while read -r soname; do
    dpkg -S "*/$(gcc -print-multiarch)/$soname" | cut -d: -f1; done | sort -u)
  [ "$(gzip -dc "$root/usr/$docdir/changelog.Debian.gz" | head -n 1)" = "tarnfits ($(field Version)) unstable; urgency=medium" ] ||
    fail "the changelog's first entry is not of version $(field Version)"
  plain=$(dpkg-deb -f "$scratch"/plain/*.deb Depends) # names the release build's libraries, not a sanitizer's
  [ -z "${TARNFITS_SANITIZED:-}" ] || plain=
  for depends in "$(field Depends)" ${plain:+"$plain"}; do # NAME [(OP VERSION)], ...
    unmet=$(tr , '\n' <<<"$depends" | while read -r name op least; do [ -z "$op" ] ||
      dpkg --compare-versions "$(dpkg-query -W -f '${Version}\n' "$name" | head -n 1)" "${op#(}" "${least%)}" || echo "$name"; done)
    [ "$(tr , '\n' <<<"$depends" | awk '{print $1}' | sort -u)" = "$linked" ] && [ -z "$unmet" ] ||
      fail "Depends '$depends' is not the packages of the libraries linked ($(echo $linked)) at versions installed here"
  done
  for program in "${programs[@]}"; do
    got=$("$root/usr/bin/$program" --version 2>&1) ||
      fail "$root/usr/bin/$program --version failed"
    [ "$got" = "$program $version" ] ||
      fail "$root/usr/bin/$program --version printed '$got'"
    page=$(find "$root/usr/share/man/man1" -name "$program.1*" -print -quit 2>/dev/null)
    if [ -z "$page" ]; then
      fail "no page for $program in the unpacked package"
    else
      rendered=$(MANWIDTH=80 man -l "$page" 2>/dev/null) || true
      grep -Eq "^ *$program +- " <<<"$rendered" ||
        fail "the unpacked page $page does not render"
    fi
  done
fi

# 3. cmake --install into a scratch prefix: exactly the programs, pages and docs.
#    The build tree's install script runs from a copy that writes its list of
#    installed files here, not over install_manifest.txt beside it.
prefix=$scratch/prefix
sed "s|^file(WRITE \"$build_dir/|file(WRITE \"$scratch/|" "$build_dir/cmake_install.cmake" >"$scratch/cmake_install.cmake"
"$cmake_exe" -DCMAKE_INSTALL_PREFIX="$prefix" -P "$scratch/cmake_install.cmake" >"$scratch/install.log" 2>&1 || {
  cat "$scratch/install.log" >&2
  fail "cmake --install failed"
}
expected=$({
  for program in "${programs[@]}"; do
    echo "bin/$program"
    echo "share/man/man1/$program.1"
  done
  for doc in $docs; do echo "$docdir/$doc"; done
} | sort)
installed=$(cd "$prefix" 2>/dev/null && find . -type f | sed 's|^\./||; s|\.gz$||' | sort)
[ "$installed" = "$expected" ] ||
  fail "cmake --install put in place:"$'\n'"$installed"$'\n'"expected:"$'\n'"$expected"
for program in "${programs[@]}"; do
  [ -x "$prefix/bin/$program" ] || fail "$prefix/bin/$program is not executable"
  got=$("$prefix/bin/$program" --version 2>&1) || true
  [ "$got" = "$program $version" ] ||
    fail "$prefix/bin/$program --version printed '$got'"
done

if [ "$failures" -ne 0 ]; then
  echo "package_test: $failures check(s) failed" >&2
  exit 1
fi
echo "package_test: pages, package and installation are complete"
