#!/bin/sh
# The sample product: prints its version, then the greeting of the
# installed language (Config/lang.cfg beside this script).
here=$(dirname "$0")
echo "VELTRA 2.0"
lang=$(cat "$here/Config/lang.cfg" 2>/dev/null)
if [ -n "$lang" ] && [ -f "$here/lang/$lang/greeting.txt" ]; then
  cat "$here/lang/$lang/greeting.txt"
fi
