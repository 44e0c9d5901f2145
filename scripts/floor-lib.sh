# Helpers for the Debian 11 root (sourced by the floor scripts and tests).

# The Debian mirror this machine's apt uses.
floor_mirror() {
  local m
  m=$(sed -n 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
  [ -n "$m" ] || m=$(awk '$1 == "deb" {print $2; exit}' /etc/apt/sources.list 2>/dev/null)
  echo "${m:-http://deb.debian.org/debian}"
}

# floor_run ROOT CMD...: runs CMD inside ROOT with /proc, /dev and /sys bound
# from the host (the root shares the host's network). The binds stay for the
# next command (several may run at once); floor_umount takes them away.
floor_run() {
  local root=$1; shift
  local m
  for m in proc dev sys; do
    mkdir -p "$root/$m"
    mountpoint -q "$root/$m" || mount --rbind "/$m" "$root/$m"
    mount --make-rslave "$root/$m"
  done
  chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 "$@"
}

floor_umount() {
  local m
  for m in sys dev proc; do
    mountpoint -q "$1/$m" && umount -l "$1/$m"
  done
  return 0
}
