#!/bin/sh
# A component library exports DllGetClassObject, DllCanUnloadNow and
# DllRegisterServer and nothing else.
#   exports_test.sh LIBRARY...
status=0
for lib in "$@"; do
  symbols=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort | tr '\n' ' ')
  if [ "$symbols" != "DllCanUnloadNow DllGetClassObject DllRegisterServer " ]; then
    echo "FAIL: $lib exports: $symbols"
    status=1
  else
    echo "ok: $lib"
  fi
done
exit $status
