#!/usr/bin/env bash
# Times reposearch against rg and grep on seeded synthetic exports:
#   bench/run.sh [SIZE_MB] [RUNS]
# Prints medians, MB/s, the ratio to rg and peak memory.
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-${BENCH_SIZE_MB:-1024}}
runs=${2:-${BENCH_RUNS:-5}}
dir=build/bench
mkdir -p "$dir"
export_file=$dir/export-$size.xml

[ -x build/make_export ] || { echo "build first (make bench)"; exit 2; }
if [ ! -f "$export_file" ]; then
  echo "generating a $size MB export ..."
  build/make_export 1 "$size" "$export_file"
fi
bytes=$(stat -c %s "$export_file")
mb=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1048576 }')

printf '%s\n' calc_discount invoice_total cust_balance ship_date vat_rate price_list \
  order_state credit_limit stock_level pay_terms > "$dir/strings10.txt"
printf '%s\n' route_code > "$dir/strings1.txt"
# 1,000 and 10,000 strings: the ten markers among made-up identifiers that
# never occur in the export.
for n in 1000 10000; do
  { cat "$dir/strings10.txt"
    awk -v n=$((n - 10)) 'BEGIN { srand(7); split("bq,zv,kx,jw,qf,vy,xm,wz,fj,yk", s, ",")
      for (i = 0; i < n; i++) { w = ""; for (j = 0; j < 3 + int(rand() * 3); j++) w = w s[1 + int(rand() * 10)]
        print w "_" (i % 97) } }'; } > "$dir/strings$n.txt"
done

cat "$export_file" > /dev/null  # warm the page cache

# time_one NAME COMMAND...: appends "seconds peak_kb" to $dir/NAME.times
time_one() {
  local name=$1; shift
  # Not to /dev/null: grep stops at the first match when it writes there.
  /usr/bin/time -f "%e %M" -o "$dir/time.out" "$@" > "$dir/stdout.txt" 2>&1 || true
  cat "$dir/time.out" >> "$dir/$name.times"
}

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

rm -f "$dir"/*.times
for ((i = 0; i < runs; i++)); do
  for case in 10 1; do
    time_one "reposearch$case" build/reposearch -q --log "$dir/log$case.log" -f "$dir/strings$case.txt" "$export_file"
    time_one "rg$case" rg -F -i -c -f "$dir/strings$case.txt" "$export_file"
    time_one "rg_read$case" rg --no-mmap -F -i -c -f "$dir/strings$case.txt" "$export_file"
    time_one "grep$case" grep -F -i -c -f "$dir/strings$case.txt" "$export_file"
  done
  time_one reposearch1000 build/reposearch -q --log "$dir/log1000.log" -f "$dir/strings1000.txt" "$export_file"
done
time_one reposearch10000 build/reposearch -q --log "$dir/log10000.log" -f "$dir/strings10000.txt" "$export_file"

echo
echo "export: $mb MB, $(wc -l < "$export_file") lines; $runs runs each, medians; $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
printf '%-28s %9s %9s %9s %11s\n' "command" "seconds" "MB/s" "vs rg" "peak MiB"
row() {  # row LABEL NAME RG_NAME
  local t m r
  t=$(cut -d' ' -f1 "$dir/$2.times" | median)
  m=$(cut -d' ' -f2 "$dir/$2.times" | sort -n | tail -1)
  r=$( [ -n "$3" ] && awk -v a="$t" -v b="$(cut -d' ' -f1 "$dir/$3.times" | median)" 'BEGIN { printf "%.2f", a / b }' || echo "")
  printf '%-28s %9s %9.0f %9s %11.1f\n' "$1" "$t" "$(awk -v s="$t" -v b="$mb" 'BEGIN { print b / s }')" "$r" "$(awk -v k="$m" 'BEGIN { print k / 1024 }')"
}
row "reposearch, 10 strings" reposearch10 rg10
row "rg -F -i -c, 10 strings" rg10 rg10
row "rg --no-mmap, 10 strings" rg_read10 rg10
row "grep -F -i -c, 10 strings" grep10 rg10
row "reposearch, 1 string" reposearch1 rg1
row "rg -F -i -c, 1 string" rg1 rg1
row "rg --no-mmap, 1 string" rg_read1 rg1
row "grep -F -i -c, 1 string" grep1 rg1
row "reposearch, 1,000 strings" reposearch1000 rg10
row "reposearch, 10,000 strings" reposearch10000 rg10
echo "(1,000 and 10,000 strings: 'vs rg' is against rg with the 10 strings)"
echo "(rg maps the export into memory; how long that takes depends on the state of the"
echo " page cache, so rg's own time can vary severalfold between runs: rg --no-mmap reads it.)"
