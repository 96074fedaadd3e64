#!/usr/bin/env bash
# The set-up script's decisions against recorded outputs of apt: one row per case, a
# fake apt-get that answers each call with the next recorded output and status.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
script="$here/../../tools/setup-deps.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/apt-get" <<'FAKE'
#!/usr/bin/env bash
# Answers "update" and "install" from the row's scripted replies, in order; a call
# nobody scripted fails the row.
echo "$*" >>"$FAKE_DIR/calls"
verb=$1; [ "$verb" = update ] || verb=install
n=$(grep -c "^" "$FAKE_DIR/$verb.used" 2>/dev/null || echo 0)
reply=$(sed -n "$((n + 1))p" "$FAKE_DIR/$verb.replies")
if [ -z "$reply" ]; then echo "unscripted apt-get $*" >>"$FAKE_DIR/unscripted"; exit 99; fi
echo x >>"$FAKE_DIR/$verb.used"
cat "$FAKE_DIR/../replies/${reply%:*}.txt"
exit "${reply#*:}"
FAKE
chmod +x "$work/apt-get"
mkdir "$work/replies"; cp "$here"/apt/*.txt "$work/replies/"

# row | update replies | install replies | exit | a line the user sees | install calls with -t
rows=(
  "index fine, install fine|update-ok:0|install-ok:0|0||0"
  "mirror in sync, then fine|update-mirror-sync:100 update-ok:0|install-ok:0|0|trying again in 0 s|0"
  "index stays stale, apt exits 0|update-mirror-sync:0 update-mirror-sync:0 update-mirror-sync:0|install-ok:0|0|incomplete after 3 tries|0"
  "versions disagree, main suite helps|update-mirror-sync:100 update-mirror-sync:100 update-mirror-sync:100|install-versions:100 install-ok:0|0|main suite (bookworm) preferred|1"
  "versions disagree for good|update-ok:0|install-versions:100 install-versions:100|1|package sources do not offer them|1"
  "a package nobody offers|update-ok:0|install-missing:100|1|Unable to locate package wine32:i386|0"
)

passed=0 failed=0
for row in "${rows[@]}"; do
  IFS='|' read -r name updates installs want_exit want_line want_t <<<"$row"
  export FAKE_DIR="$work/$passed-$failed"; mkdir -p "$FAKE_DIR"
  tr ' ' '\n' <<<"$updates" >"$FAKE_DIR/update.replies"
  tr ' ' '\n' <<<"$installs" >"$FAKE_DIR/install.replies"
  out=$(FLASHWISE_SETUP_SOURCE_ONLY=1 FLASHWISE_APT_GET="$work/apt-get" FLASHWISE_APT_UPDATE_TRIES=3 \
        FLASHWISE_APT_UPDATE_PAUSE=0 bash -c 'source "$1"; set +e; (set -e; update_index; install_packages wine32:i386); echo "exit=$?"' _ "$script" 2>&1)
  got_exit=$(sed -n 's/^exit=//p' <<<"$out")
  got_t=$(grep -c -- '-t bookworm' "$FAKE_DIR/calls")
  problems=()
  [ "$got_exit" = "$want_exit" ] || problems+=("exit $got_exit, wanted $want_exit")
  [ -z "$want_line" ] || grep -qF -- "$want_line" <<<"$out" || problems+=("no line with '$want_line'")
  [ "$got_t" = "$want_t" ] || problems+=("$got_t installs with the main suite, wanted $want_t")
  [ ! -e "$FAKE_DIR/unscripted" ] || problems+=("$(cat "$FAKE_DIR/unscripted")")
  [ "$(grep -c ^setup: <<<"$out" | tr -d ' ')" -le 6 ] || problems+=("more than six lines for the user")
  if [ ${#problems[@]} -eq 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAILED %s: %s\n%s\n' "$name" "$(IFS=';'; echo "${problems[*]}")" "$out"
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
