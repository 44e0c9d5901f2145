#!/bin/bash
# check-floor.sh FILE...: what the given ELF binaries (or those inside the
# given .deb packages) need from the system they run on, against the oldest
# desktops we support: glibc 2.28, Qt 5.11.3, the C++ runtime of GCC 8
# (GLIBCXX_3.4.25, CXXABI_1.3.11) and libusb 1.0.22.
#
# Prints the Depends line dpkg-shlibdeps computes from the symbols files of
# the system it runs in, and the highest GLIBC_, GLIBCXX_, CXXABI_ and Qt_
# symbol versions needed. Exits 1 when anything is above the floor, naming
# the symbols that bring it; 77 when a tool is missing; 2 on bad arguments.
set -euo pipefail
export LC_ALL=C

FLOOR_GLIBC=2.28
FLOOR_QT=5.11.3
FLOOR_GLIBCXX=3.4.25
FLOOR_CXXABI=1.3.11
FLOOR_STDCXX_PKG=8       # libstdc++6's version in Debian 10 is 8.3.0
FLOOR_LIBUSB=2:1.0.22

[ $# -gt 0 ] || { echo "usage: $0 FILE... (ELF binaries or .deb packages)" >&2; exit 2; }
for tool in dpkg-shlibdeps dpkg-deb readelf objdump awk; do
  command -v "$tool" >/dev/null || { echo "check-floor: $tool missing (dpkg-dev, binutils)" >&2; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

is_elf() { [ "$(head -c 4 "$1" 2>/dev/null | od -An -c | tr -d ' ')" = '177ELF' ]; }

files=()
n=0
for arg in "$@"; do
  if [[ $arg == *.deb ]]; then
    n=$((n + 1))
    dpkg-deb -x "$arg" "$work/deb$n"
    while IFS= read -r -d '' f; do
      is_elf "$f" && files+=("$f")
    done < <(find "$work/deb$n" -type f -print0 | sort -z)
  elif is_elf "$arg"; then
    files+=("$(readlink -f "$arg")")
  else
    echo "check-floor: $arg is neither an ELF file nor a .deb" >&2
    exit 2
  fi
done
[ ${#files[@]} -gt 0 ] || { echo "check-floor: no ELF file found" >&2; exit 2; }

# Debian architecture of the binaries (they are all of one architecture).
case $(readelf -h "${files[0]}" | sed -n 's/^ *Machine: *//p') in
  *X86-64*) arch=amd64 ;;
  *AArch64*) arch=arm64 ;;
  *MIPS*) arch=mips64el ;;
  *Intel\ 80386*) arch=i386 ;;
  *) arch=$(dpkg --print-architecture) ;;
esac

# --- dpkg-shlibdeps, as a package build would run it
mkdir -p "$work/pkg/debian"
printf 'Source: floorcheck\n\nPackage: floorcheck\nArchitecture: any\n' >"$work/pkg/debian/control"
libdirs=()
for f in "${files[@]}"; do libdirs+=("-l$(dirname "$f")"); done
depends=$(cd "$work/pkg" && DEB_HOST_ARCH=$arch dpkg-shlibdeps -O --ignore-missing-info "${libdirs[@]}" "${files[@]}" \
  2>"$work/shlibdeps.err" | sed -n 's/^shlibs:Depends=//p') || {
  cat "$work/shlibdeps.err" >&2
  echo "check-floor: dpkg-shlibdeps failed" >&2
  exit 1
}

# --- what each binary takes from its libraries: symbol, version, file
for f in "${files[@]}"; do
  objdump -T "$f" | awk -v file="$(basename "$f")" '
    { # ... *UND* size [version] name
      for (i = 1; i <= NF && $i != "*UND*"; i++) ;
      if (i > NF) next
      ver = NF >= i + 3 ? $(i + 2) : "Base"
      gsub(/[()]/, "", ver)
      print $NF "@" ver, file
    }'
done | sort -u >"$work/needed"

# The first version of each library that exported each symbol, from the
# symbols files of the packages the Depends line names.
for pkg in $(echo "$depends" | tr ',|' '\n\n' | awk '{print $1}' | sort -u); do
  for s in "/var/lib/dpkg/info/$pkg:$arch.symbols" "/var/lib/dpkg/info/$pkg.symbols"; do
    if [ -f "$s" ]; then awk -v pkg="$pkg" '/^ / { print $1, pkg, $2 }' "$s"; fi
  done
done | sort -k1,1 -u >"$work/firstver"

# needed symbols joined with their package and first version: sym@ver file pkg minver
join -1 1 -2 1 <(sort -k1,1 "$work/needed") "$work/firstver" >"$work/joined" || true

# --- version needs of the binaries
versions() { # prefix: every version of that prefix the binaries need, lowest first
  for f in "${files[@]}"; do readelf -V "$f" | { grep -o "Name: $1[0-9.]*" || true; } | sed "s/Name: $1//"; done |
    sort -uV
}
highest() { versions "$1" | tail -n 1; }
max_glibc=$(highest GLIBC_)
max_glibcxx=$(highest GLIBCXX_)
max_cxxabi=$(highest CXXABI_)
max_qt=$(highest Qt_)

echo "Files: ${#files[@]} ($arch)"
for f in "${files[@]}"; do echo "  ${f#"$work"/}"; done
echo "Depends: $depends"
echo "Highest: GLIBC_${max_glibc:-none} GLIBCXX_${max_glibcxx:-none} CXXABI_${max_cxxabi:-none} Qt_${max_qt:-none}"

status=0
fail() { echo "ABOVE THE FLOOR: $*"; status=1; }
above() { [ -n "$1" ] && dpkg --compare-versions "$1" gt "$2"; }

# Symbols that bring a package above its floor version, one line each.
name_symbols() { # package floor
  awk -v pkg="$1" '$3 == pkg { print $4, $1, $2 }' "$work/joined" | while read -r v sym file; do
    if dpkg --compare-versions "$v" gt "$floor"; then
      echo "    $sym (from $v) in $file"
    fi
  done | sort -u
}
# Symbols bound to one symbol version, one line each.
name_version() { # version
  awk -v v="$1" '{ n = split($1, p, "@"); if (p[n] == v) print "    " $1 " in " $2 }' "$work/needed" | sort -u
}

# The Depends line: each library package against its floor.
IFS=',' read -ra clauses <<<"$depends"
for c in "${clauses[@]}"; do
  c=$(echo "$c" | sed 's/^ *//; s/ *$//')
  pkg=${c%% *}
  ver=$(echo "$c" | sed -n 's/.*(>= *\([^)]*\)).*/\1/p')
  case $pkg in
    libc6) floor=$FLOOR_GLIBC ;;
    libqt5*) floor=$FLOOR_QT ;;
    libstdc++6) floor=$FLOOR_STDCXX_PKG ;;
    libusb-1.0-0) floor=$FLOOR_LIBUSB ;;
    libgcc-s1) echo "note: $c: Debian 10 calls it libgcc1 (Debian 11's libgcc-s1 provides that name)"; continue ;;
    *) continue ;;
  esac
  if above "$ver" "$floor"; then
    fail "$c, floor $floor"
    name_symbols "$pkg" "$floor"
  fi
done

# The symbol versions themselves (they also hold where no symbols file says more).
check_versions() { # prefix highest floor
  above "$2" "$3" || return 0
  fail "$1$2, floor $1$3"
  for v in $(versions "$1"); do
    if above "$v" "$3"; then name_version "$1$v"; fi
  done
}
check_versions GLIBC_ "$max_glibc" "$FLOOR_GLIBC"
check_versions GLIBCXX_ "$max_glibcxx" "$FLOOR_GLIBCXX"
check_versions CXXABI_ "$max_cxxabi" "$FLOOR_CXXABI"
# Qt's version tag (Qt_5.x) says which Qt the code was built against.
if above "$max_qt" "${FLOOR_QT%.*}"; then
  fail "Qt_$max_qt, floor Qt_${FLOOR_QT%.*} (the version tag: build with QT_NO_VERSION_TAGGING)"
  name_version "Qt_$max_qt"
fi

[ $status -eq 0 ] && echo "Within the floor."
exit $status
