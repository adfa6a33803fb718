#!/usr/bin/env bash
# The manual pages against the programs: every option --help lists is in the page's OPTIONS section
# and the other way round; --version prints one line; each page is clean roff (groff -man -ww, no
# warnings).
#   check_manpages.sh PROGRAM PAGE [PROGRAM PAGE ...]
set -euo pipefail
status=0
while [ $# -ge 2 ]; do
  program=$1 page=$2
  shift 2
  from_help=$("$program" --help | grep -E '^  +--' | grep -oE -- '--[a-z][a-z-]*' | sort -u)
  from_page=$(sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$page" | sed 's/\\-/-/g' | grep -oE -- '--[a-z][a-z-]*' | sort -u)
  if [ "$from_help" != "$from_page" ]; then
    echo "$(basename "$page"): options differ from $(basename "$program") --help:"
    diff <(echo "$from_help") <(echo "$from_page") || true
    status=1
  else
    echo "$(basename "$page"): $(echo "$from_help" | wc -l) options, as --help lists them"
  fi
  # CI logs record the tools' versions: one line, status 0.
  version=$("$program" --version) || { echo "$(basename "$program") --version failed"; status=1; }
  if ! [[ "$version" =~ ^[a-z-]+\ [0-9]+\.[0-9]+ ]] || [ "$(echo "$version" | wc -l)" -ne 1 ]; then
    echo "$(basename "$program") --version printed: $version"
    status=1
  fi
  if command -v groff > /dev/null; then
    warnings=$(groff -man -ww -z "$page" 2>&1)
    if [ -n "$warnings" ]; then
      echo "$warnings"
      status=1
    fi
  fi
done
exit $status
