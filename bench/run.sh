#!/usr/bin/env bash
# Times reposearch against rg on seeded synthetic exports of three shapes:
#   bench/run.sh [SIZE_MB] [RUNS]
# long:  long source lines, a quarter of the lines holding a tag;
# dense: one element a line, about half the lines holding a tag;
# real:  as real exports are, each table once, the largest first, many
#        occurrences and elements opened on one line, long code elements.
# Each workload runs against the better of rg and rg --no-mmap with the same
# strings, interleaved; prints medians, MB/s, the ratio and peak memory.
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-${BENCH_SIZE_MB:-1024}}
runs=${2:-${BENCH_RUNS:-5}}
dir=build/bench
mkdir -p "$dir"
[ -x build/make_export ] || { echo "build first (make bench)"; exit 2; }

# The strings of each workload, by shape.
printf '%s\n' calc_discount invoice_total cust_balance ship_date vat_rate price_list \
  order_state credit_limit stock_level pay_terms > "$dir/long-rare10.txt"
printf '%s\n' zq_alpha zq_bravo zq_charlie zq_delta zq_echo zq_foxtrot zq_golf zq_hotel \
  zq_india zq_juliet > "$dir/dense-rare10.txt"
cp "$dir/dense-rare10.txt" "$dir/real-rare10.txt"  # the real shape's data holds the dense markers
shapes=${BENCH_SHAPES:-long dense real}
for shape in $shapes; do
  printf '%s\n' route_code > "$dir/$shape-rare1.txt"
  # Eight common strings, a 1- and a 2-character one among them.
  printf '%s\n' '=' if call cust _no acct item message > "$dir/$shape-common8.txt"
  # 1,000 and 10,000: the ten rare ones among made-up identifiers that never occur.
  for n in 1000 10000; do
    { cat "$dir/$shape-rare10.txt"
      awk -v n=$((n - 10)) 'BEGIN { srand(7); split("bq,zv,kx,jw,qf,vy,xm,wz,fj,yk", s, ",")
        for (i = 0; i < n; i++) { w = ""; for (j = 0; j < 3 + int(rand() * 3); j++) w = w s[1 + int(rand() * 10)]
          print w "_" (i % 97) } }'; } > "$dir/$shape-many$n.txt"
  done
done

# time_one NAME COMMAND...: appends "seconds peak_kb" to $dir/NAME.times
time_one() {
  local name=$1; shift
  /usr/bin/time -f "%e %M" -o "$dir/time.out" "$@" > "$dir/stdout.txt" 2>&1 || true
  cat "$dir/time.out" >> "$dir/$name.times"
}
# rg writing its line numbered hits to a file, as reposearch writes its log.
rg_to_file() { local out=$1; shift; rg "$@" > "$out" || true; }
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
med() { cut -d' ' -f1 "$dir/$1.times" | median; }
peak() { cut -d' ' -f2 "$dir/$1.times" | sort -n | tail -1; }
better() { awk -v a="$(med "$1")" -v b="$(med "$2")" 'BEGIN { print (a < b ? a : b) }'; }

rm -f "$dir"/*.times
for shape in $shapes; do
  export_file=$dir/export-$shape-$size.xml
  if [ ! -f "$export_file" ]; then
    echo "generating a $size MB $shape export ..."
    build/make_export 1 "$size" "$export_file" "$shape"
  fi
  for ((i = 0; i < runs; i++)); do
    # The page cache of these machines does not keep a few gigabytes for
    # long (the logs of the common strings alone write that much): the
    # export is read once before the timed runs of each round, and the big
    # outputs go once timed.
    cat "$export_file" > /dev/null
    # The floor: the export read once, nothing done to its bytes.
    time_one "$shape-read" bash -c "cat '$export_file' > /dev/null"
    # The one rare string on one core, for what the second adds.
    time_one "$shape-reposearch-rare1core" taskset -c 0 build/reposearch -q --log "$dir/$shape-rare1.log" -f "$dir/$shape-rare1.txt" "$export_file"
    for w in rare10 rare1; do
      time_one "$shape-reposearch-$w" build/reposearch -q --log "$dir/$shape-$w.log" -f "$dir/$shape-$w.txt" "$export_file"
      time_one "$shape-rg-$w" rg -F -i -c -f "$dir/$shape-$w.txt" "$export_file"
      time_one "$shape-rgread-$w" rg --no-mmap -F -i -c -f "$dir/$shape-$w.txt" "$export_file"
    done
    time_one "$shape-reposearch-common8" build/reposearch -q --log "$dir/$shape-common8.log" -f "$dir/$shape-common8.txt" "$export_file"
    time_one "$shape-rg-common8" bash -c "$(declare -f rg_to_file); rg_to_file $dir/rg-hits.txt -F -i -n -f $dir/$shape-common8.txt $export_file"
    time_one "$shape-rgread-common8" bash -c "$(declare -f rg_to_file); rg_to_file $dir/rg-hits.txt --no-mmap -F -i -n -f $dir/$shape-common8.txt $export_file"
    if [ "$i" = 0 ]; then grep -c ' :: ' "$dir/$shape-common8.log" > "$dir/$shape-common8.hits" || true; fi
    rm -f "$dir/$shape-common8.log" "$dir/rg-hits.txt"
    cat "$export_file" > /dev/null
    time_one "$shape-reposearch-many1000" build/reposearch -q --log "$dir/$shape-many1000.log" -f "$dir/$shape-many1000.txt" "$export_file"
  done
  time_one "$shape-reposearch-many10000" build/reposearch -q --log "$dir/$shape-many10000.log" -f "$dir/$shape-many10000.txt" "$export_file"
done

# Many exports in one run: eight of about MANY_MB each (BENCH_MANY_MB, 100),
# searched for the ten rare strings with -j 1, with one job per core, and as
# eight runs one after another.
many_mb=${BENCH_MANY_MB:-100}
for shape in long dense; do
  for k in 1 2 3 4 5 6 7 8; do
    f=$dir/many-$shape/export$k.xml
    [ -f "$f" ] || { mkdir -p "$dir/many-$shape"; build/make_export "$((100 + k))" "$many_mb" "$f" "$shape"; }
  done
  cat "$dir/many-$shape"/*.xml > /dev/null
  for ((i = 0; i < runs; i++)); do
    time_one "$shape-many-j1" build/reposearch -q -j 1 -f "$dir/$shape-rare10.txt" "$dir/many-$shape"
    time_one "$shape-many-jn" build/reposearch -q -f "$dir/$shape-rare10.txt" "$dir/many-$shape"
    time_one "$shape-many-loop" bash -c "for f in $dir/many-$shape/*.xml; do build/reposearch -q -f $dir/$shape-rare10.txt \$f; done"
  done
done

# A page of about 100,000 hits (a 50 MB export of the dense shape, one string).
[ -f "$dir/html-dense.xml" ] || build/make_export 3 50 "$dir/html-dense.xml" dense
html_row=$(/usr/bin/python3 bench/html_bench.py build/reposearch "$dir/html-dense.xml" acct "$runs" 2>/dev/null ||
           echo "(no page measured: needs chromium, chromium-driver and python3-selenium)")

echo
echo "$runs runs each, medians; $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
for shape in $shapes; do
  export_file=$dir/export-$shape-$size.xml
  bytes=$(stat -c %s "$export_file")
  mb=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1048576 }')
  lines=$(wc -l < "$export_file")
  tagged=$(grep -c '<' "$export_file" || true)
  hits=$(cat "$dir/$shape-common8.hits")
  echo
  read_s=$(med "$shape-read")
  echo "$shape export: $mb MB, $lines lines, $((100 * tagged / lines))% holding a tag; the 8 common strings hit $hits lines;"
  echo "read once (cat > /dev/null) in $read_s s"
  printf '%-34s %9s %9s %9s %9s %9s %11s\n' "workload" "seconds" "MB/s" "rg s" "ratio" "vs read" "peak MiB"
  row() {  # row LABEL WORKLOAD [BASE_SECONDS]
    local t base r
    t=$(med "$shape-reposearch-$2")
    base=${3:-$(better "$shape-rg-$2" "$shape-rgread-$2")}
    r=$(awk -v a="$t" -v b="$base" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')
    printf '%-34s %9s %9.0f %9s %9s %9.1f %11.1f\n' "$1" "$t" "$(awk -v s="$t" -v b="$mb" 'BEGIN { print (s > 0 ? b / s : 0) }')" \
      "$base" "$r" "$(awk -v a="$t" -v b="$read_s" 'BEGIN { print (b > 0 ? a / b : 0) }')" \
      "$(awk -v k="$(peak "$shape-reposearch-$2")" 'BEGIN { print k / 1024 }')"
  }
  row "10 rare strings (rg -c)" rare10
  row "1 rare string (rg -c)" rare1
  row "8 common strings (rg -n > file)" common8
  ten=$(med "$shape-reposearch-rare10")
  row "1,000 strings (vs 10 strings)" many1000 "$ten"
  row "10,000 strings (vs 10 strings)" many10000 "$ten"
  row "1 rare string, 2 cores (vs 1 core)" rare1 "$(med "$shape-reposearch-rare1core")"
done
echo
echo "8 exports of $many_mb MB, 10 rare strings     seconds   vs loop    peak MiB"
for shape in long dense; do
  loop=$(med "$shape-many-loop")
  for w in loop j1 jn; do
    case $w in loop) label="8 runs one after another" ;; j1) label="one run, -j 1" ;; jn) label="one run, -j $(nproc)" ;; esac
    t=$(med "$shape-many-$w")
    printf '%-6s %-32s %9s %9.2f %11.1f\n' "$shape" "$label" "$t" "$(awk -v a="$t" -v b="$loop" 'BEGIN { print a / b }')" \
      "$(awk -v k="$(peak "$shape-many-$w")" 'BEGIN { print k / 1024 }')"
  done
done
echo
echo "$html_row"
echo
echo "(rg s: the better of rg and rg --no-mmap with the same strings; rg maps the export into"
echo " memory, and how long that takes depends on the page cache. 1,000 and 10,000 strings are"
echo " held against reposearch's own time for the ten rare strings, two cores against one core"
echo " (taskset -c 0); vs read: against reading the export once, nothing done to its bytes.)"
