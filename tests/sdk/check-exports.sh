#!/bin/bash
# The shared library exports exactly the five families: 35, 35, 39, 32, 32
# unmangled functions, and nothing else but the log switch.
lib="${1:-./libvtinksdk.so}"
command -v nm >/dev/null || exit 77
syms=$(nm -D --defined-only "$lib" | awk '$2 == "T" {print $3}')
fail=0
for pair in VTQ210_:35 VTQ220_:35 VTQ230F_:39 RUVU410_:32 ROV420_:32; do
  prefix=${pair%%:*}; want=${pair##*:}
  got=$(grep -c "^${prefix}" <<<"$syms")
  if [ "$got" != "$want" ]; then echo "$prefix: $got functions, expected $want"; fail=1; fi
done
others=$(grep -v -E '^(VTQ210_|VTQ220_|VTQ230F_|RUVU410_|ROV420_)' <<<"$syms" | grep -v -E '^(_init|_fini)$')
if [ -n "$others" ]; then echo "unexpected exports: $others"; fail=1; fi
for f in OpenLCD GetHWPenID DisplayHWVersion; do
  grep -q "^RUVU410_$f$" <<<"$syms" && { echo "tablet exports $f"; fail=1; }
done
grep -q '^VTQ230F_SetDisplayedFPImageAtByWId$' <<<"$syms" || { echo "fingerprint functions missing"; fail=1; }
nm -D --defined-only "$lib" | grep -q ' B g_bEnableLog$' || { echo "log switch not exported"; fail=1; }
exit $fail
