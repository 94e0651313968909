# Sourced by the accuracy benchmarks.
# timed TIMES LABEL DIR command...: runs the command in DIR (made afresh) with its output in
# DIR/log, REPEAT times (default 1; the run of median wall time is kept), and appends
# "label wall_s cpu_s peak_MB note" to the file TIMES; a failure gives a row with its error
# line. Returns the command's status.
timed() {
  local times="$1" label="$2" dir="$3"; shift 3
  local status=0 k
  rm -rf "$dir" && mkdir -p "$dir"
  for ((k = 1; k <= ${REPEAT:-1}; k++)); do
    (cd "$dir" && /usr/bin/time -f "%e %U %S %M" -o "$dir/time.$k" "$@" > "$dir/log" 2>&1) \
      || { status=$?; break; }
  done
  if [ "$status" -eq 0 ]; then
    sort -n "$dir"/time.* | awk '{l[NR] = $0} END {print l[int((NR + 1) / 2)]}' > "$dir/time"
    awk -v l="$label" '{printf "%s\t%.2f\t%.2f\t%.0f\t\n", l, $1, $2 + $3, $4 / 1024}' "$dir/time" \
      >> "$times"
  else
    local why
    why="$(grep -m1 -o 'Error.*' "$dir/log" || grep -v '^ *$' "$dir/log" | tail -n1)"
    printf '%s\t\t\t\tfailed: %s\n' "$label" "${why:0:120}" >> "$times"
  fi
  return "$status"
}
