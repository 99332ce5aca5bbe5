#!/usr/bin/env bash
# Side by side, whole-process wall times of `velmora-cli render` at 1000 x 1000:
#  - against a native per-pixel long double loop built here from the same
#    formulas (same column-by-column pixel order, same clamp, one thread per
#    processor, the picture written as a BMP too);
#  - against G'MIC (`gmic 1000,1000,1,3 -fill FORMULA -o out.bmp`, which
#    computes in double precision) when it is installed, the same formula in
#    all three channels.
# Best of ROUNDS runs each, alternating. A benchmark, not a test: it prints
# figures and never fails on a slow machine.
#
#   bash bench/compare.sh [VELMORA_CLI] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${1:-build/release/velmora-cli}")
rounds=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name|formula lines separated by ';'
sets=(
  'trig|r = 128 + 127*sin(x/10 + y/13)*cos(y/17);g = y;b = x'
  'math|r = sqrt(x*x + y*y);g = exp(-(x + y)/500)*255;b = pow(x/1000, 2.2)*255 + ln(y + 1)*10'
  'waves|r = 128 + 63*sin(x/16) + 63*sin(y/8);g = 128 + 63*sin((x + y)/16) + 63*cos(sqrt(x*x + y*y)/8);b = 128 + 127*sin(x/23)*cos(x/31)'
  'arith|r = (x*3 + y*5 - x*y/7 + 11)*(x - y)/13 + (x + 2*y)*(y - 3*x)/17 - x/19 + y/23 + x*y*0.001 - 5 + x/(y + 1);g = (x + y)*0.3 - (x - y)*0.2 + x*y*0.001 - (x*0.7 + 3)*(y*0.1 - 2)/50 + (x/3 - y/5)*(x/7 + y/11)/100 + 60 - y/(x + 2);b = x*y/(x + y + 1) + (x*2 - y*3)*(x + 1)/(y + 500) - x/(y + 9) + y/(x + 9) + (x - 7)*(y - 3)/(x*y + 1) - 80'
)
gmic_formulas=(
  '128+127*sin(x/10+y/13)*cos(y/17)'
  '128+63*sin(x/16)+63*sin(sqrt((x-500)*(x-500)+(y-500)*(y-500))/8)'
)

document() {  # file, formula lines separated by ';'
  {
    printf '<VOKT 1.0>\r\n<system>\r\nImageWidth = 1000\r\nImageHeight = 1000\r\n</system>\r\n'
    printf '<system_str>\r\nAppName = "Velmora 2"\r\n</system_str>\r\n<header>\r\n</header>\r\n<loop>\r\n'
    tr ';' '\n' <<<"$2" | sed 's/$/\r/'
    printf '</loop>\r\n'
  } >"$1"
}

native_loop() {  # file stem, formula lines separated by ';'
  local body
  # Inner functions as the long double library names them; literals as long double.
  body=$(tr ';' '\n' <<<"$2" | sed -E 's/([0-9]+(\.[0-9]+)?)/\1.0L/g; s/\.0L\.0L/.0L/g; s/([0-9])\.([0-9]+)\.0L/\1.\2L/g' |
    sed -E 's/\bsin\(/sinl(/g; s/\bcos\(/cosl(/g; s/\bsqrt\(/sqrtl(/g; s/\bexp\(/expl(/g; s/\bpow\(/powl(/g; s/\bln\(/logl(/g; s/$/;/')
  cat >"$1.cpp" <<EOF
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>
static std::uint32_t Channel(long double v) {
  if (std::isgreater(v, 255.0L)) return 255;
  if (!std::isgreaterequal(v, 0.0L)) return 0;
  return static_cast<std::uint32_t>(v);
}
int main(int, char **argv) {
  const int W = 1000, H = 1000;
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(W) * H);
  std::atomic<int> next{0};
  auto work = [&] {
    for (;;) {
      const int first = next.fetch_add(16);
      if (first >= W) return;
      for (int px = first; px < std::min(first + 16, W); ++px)
        for (int py = 0; py < H; ++py) {
          long double x = px, y = py, r = 0, g = 0, b = 0;
          $body
          pixels[static_cast<std::size_t>(py) * W + px] = Channel(r) | Channel(g) << 8 | Channel(b) << 16;
        }
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < std::max(1u, std::thread::hardware_concurrency()); ++t) pool.emplace_back(work);
  work();
  for (std::thread &t : pool) t.join();
  std::FILE *f = std::fopen(argv[1], "wb");
  const std::uint32_t size = 54 + W * H * 3;
  unsigned char header[54] = {'B', 'M'};
  auto put = [&](int at, std::uint32_t v) { for (int i = 0; i < 4; ++i) header[at + i] = (v >> (8 * i)) & 0xFF; };
  put(2, size), put(10, 54), put(14, 40), put(18, W), put(22, H), put(26, 1 | 24 << 16), put(34, W * H * 3);
  std::fwrite(header, 1, 54, f);
  std::vector<unsigned char> row(W * 3);
  for (int y = H - 1; y >= 0; --y) {
    for (int x = 0; x < W; ++x) {
      const std::uint32_t c = pixels[static_cast<std::size_t>(y) * W + x];
      row[x * 3] = (c >> 16) & 0xFF, row[x * 3 + 1] = (c >> 8) & 0xFF, row[x * 3 + 2] = c & 0xFF;
    }
    std::fwrite(row.data(), 1, row.size(), f);
  }
  std::fclose(f);
}
EOF
  g++ -O2 -std=c++17 -pthread -o "$1" "$1.cpp"
}

# Best wall time of the commands given as strings, in seconds.
best() {
  local best_time=999999 t
  for ((i = 0; i < rounds; ++i)); do
    local start end
    start=$(date +%s.%N)
    eval "$1" >/dev/null 2>&1 || { echo "failed: $1" >&2; return 1; }
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if (($(echo "$t < $best_time" | bc -l))); then best_time=$t; fi
  done
  printf '%.3f' "$best_time"
}

ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }

echo "velmora-cli render against a native long double loop, 1000 x 1000, $(nproc) processor(s), best of $rounds"
printf '%-8s %10s %10s %8s\n' set velmora native ratio
for entry in "${sets[@]}"; do
  name=${entry%%|*}
  lines=${entry#*|}
  document "$work/$name.vokt" "$lines"
  native_loop "$work/$name-native" "$lines"
  v=$(best "'$cli' render '$work/$name.vokt' -o '$work/$name.bmp'")
  n=$(best "'$work/$name-native' '$work/$name-native.bmp'")
  printf '%-8s %9ss %9ss %7sx\n' "$name" "$v" "$n" "$(ratio "$v" "$n")"
done

if command -v gmic >/dev/null; then
  echo
  echo "against G'MIC, the same formula in all three channels"
  printf '%-70s %10s %10s %8s\n' formula velmora gmic ratio
  for formula in "${gmic_formulas[@]}"; do
    document "$work/g.vokt" "r = $formula;g = $formula;b = $formula"
    v=$(best "'$cli' render '$work/g.vokt' -o '$work/g.bmp'")
    g=$(best "gmic 1000,1000,1,3 -fill '$formula' -o '$work/gmic.bmp'")
    printf '%-70s %9ss %9ss %7sx\n' "$formula" "$v" "$g" "$(ratio "$v" "$g")"
  done
else
  echo
  echo "G'MIC is not installed (apt-get install gmic): no comparison with it"
fi
