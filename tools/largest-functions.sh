#!/bin/sh
# The largest functions of the project's C++ sources, in lines from the signature to the
# closing brace, largest first: a list of what is hard to hold in one's head.
#   tools/largest-functions.sh [N] [FOLDER...]
# N: how many (default 10); folders: where to look (default the code of the program,
# tools and tests included). Needs Universal Ctags (Debian: universal-ctags).
set -eu
cd "$(dirname "$0")/.."
count=${1:-10}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] || set -- toolkit stream register dialogs app tools tests bench
ctags -R --languages=C++ --kinds-C++=f --fields=+ne --extras=-F -o - "$@" 2>/dev/null |
  awk -F '\t' '{
      line = ""; end = ""; scope = ""
      for (i = 4; i <= NF; i++) {
        if ($i ~ /^line:/) line = substr($i, 6)
        else if ($i ~ /^end:/) end = substr($i, 5)
        else if ($i ~ /^(class|struct|namespace):/) scope = substr($i, index($i, ":") + 1) "::"
      }
      if (line == "" || end == "") next
      sub(/^__anon[0-9a-f]*::/, "", scope)  # unnamed namespaces
      printf "%5d  %s%s  %s:%s\n", end - line + 1, scope, $1, $2, line
    }' |
  sort -rn | head -n "$count"
