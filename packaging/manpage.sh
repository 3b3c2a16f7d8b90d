#!/bin/sh
# manpage.sh PROGRAM SUMMARY INCLUDE OUT.gz: the gzipped manual page of
# PROGRAM, made by help2man from its own --help and --version, with the
# sections of INCLUDE and, for krvo, the --help of every subcommand.
set -eu
program=$1 summary=$2 include=$3 out=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C
cp "$include" "$work/page.h2m"
if [ "$(basename "$program")" = krvo ]; then
  {
    echo "[SUBCOMMANDS IN DETAIL]"
    # The subcommand lines of the usage: two blanks, a name, its summary.
    for sub in $("$program" --help | sed -n 's/^  \([a-z][a-z]*\)  *.*/\1/p'); do
      echo ".SS \"krvo $sub\""
      echo ".nf"
      "$program" "$sub" --help | sed -e 's/\\/\\e/g' -e "s/^[.']/\\\\\\&&/"
      echo ".fi"
    done
  } >>"$work/page.h2m"
fi
help2man --no-info --section=1 --name="$summary" --include="$work/page.h2m" \
  --output="$work/page.1" "$program"
gzip -9n -c "$work/page.1" >"$out"
