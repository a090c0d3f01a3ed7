#!/usr/bin/env bash
# Runs the shell examples of the README and the manual page, the example
# blocks that start with a command other than "$ boxwalk NAME" (cli_test
# runs those), in samples/ and compares what each command prints with the
# lines below it. The folder where the manual page's examples run after an
# install, /usr/share/doc/boxwalk/examples, stands for samples/ here. Each
# runs twice: with boxwalk, and with a boxwalk whose output also holds a
# NUL byte, as the text previews of most real files do; diff and grep must
# still treat it as text. With BOXWALK_JSON, boxwalk-json's manual page too.
#   shell_examples.sh BOXWALK SOURCE_DIR [BOXWALK_JSON]
set -u
boxwalk=$1
source_dir=$2
boxwalk_json=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/plain" "$work/nul"
ln -s "$boxwalk" "$work/plain/boxwalk"
printf '#!/bin/sh\n"%s" "$@"; status=$?; printf '"'"'nul \\000 byte\\n'"'"'; exit $status\n' \
  "$boxwalk" >"$work/nul/boxwalk"
chmod +x "$work/nul/boxwalk"
if [ -n "$boxwalk_json" ]; then
  ln -s "$boxwalk_json" "$work/plain/boxwalk-json"
  ln -s "$boxwalk_json" "$work/nul/boxwalk-json"
fi

# blocks FILE OPEN CLOSE: "C command", "O output line" and "E" (end of a
# command) for each shell example between OPEN and CLOSE lines. A command
# line that ends in a backslash (\e in the manual page) goes on in the next
# line, as in the shell.
blocks() {
  awk -v start="$2" -v stop="$3" '
    !inside && index($0, start) == 1 { inside = 1; first = 1; next }
    inside && $0 == stop { if (shell && cmd) print "E"; inside = 0; shell = 0; cmd = 0; next }
    inside && first { first = 0; shell = /^\$ / && !/^\$ boxwalk [^ |<>]*$/ }
    inside && shell && more { text = text " " $0 }
    inside && shell && !more && /^\$ / { if (cmd) print "E"; cmd = 1; text = substr($0, 3) }
    inside && shell && text != "" {
      more = sub(/ *\\e?$/, "", text)
      if (!more) { print "C " text; text = "" }
      next
    }
    inside && shell { print "O " $0 }' "$1"
}

# The manual page's examples with the roff escapes they use undone.
unroff() { sed -e 's/\\-/-/g; s/\\e/\\/g; s/\\&//g' -e "s/\\\\(aq/'/g" -e 's/\\(co/©/g'; }

# A file with its NULs shown as @, so that diff takes it for text.
shown() { tr '\000' @ <"$1"; }

installed=/usr/share/doc/boxwalk/examples
failures=0
count=0
check() {  # WHERE: reads blocks on standard input
  local where=$1 line command="" expected=""
  while IFS= read -r line; do
    line=${line//"$installed"/"$source_dir/samples"}
    case $line in
      "C "*) command=${line#C }; expected="" ;;
      "O "*) expected+="${line#O }"$'\n' ;;
      E)
        count=$((count + 1))
        printf '%s' "$expected" >"$work/expected"
        for kind in plain nul; do
          (cd "$source_dir/samples" && PATH="$work/$kind:$PATH" bash -c "$command") \
            >"$work/actual" 2>&1
          if ! cmp -s "$work/expected" "$work/actual"; then
            echo "$where ($kind): \$ $command"
            diff <(shown "$work/expected") <(shown "$work/actual")
            failures=$((failures + 1))
          fi
        done ;;
    esac
  done
}

check boxwalk.1 < <(blocks "$source_dir/doc/boxwalk.1" .EX .EE | unroff)
# The README's examples run boxwalk-json too: a build without it (for want
# of its libraries) checks the console's manual page alone.
if [ -n "$boxwalk_json" ]; then
  check README.md < <(blocks "$source_dir/README.md" '```' '```')
  check boxwalk-json.1 < <(blocks "$source_dir/doc/boxwalk-json.1" .EX .EE | unroff)
else
  echo "no boxwalk-json in this build: the README's examples are not checked"
fi
if [ "$count" -eq 0 ]; then
  echo "no shell examples found"
  exit 1
fi
echo "$count shell examples checked, $failures failures"
[ "$failures" -eq 0 ]
