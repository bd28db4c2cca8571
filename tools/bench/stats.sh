# Sourced by the benchmark scripts: the statistics they share.

# The geometric mean of the ratios given (one a line) and its 95 % interval,
# from Student's t on their logarithms: "point low high". With five pairs a
# bootstrap's percentiles would give too narrow an interval (it knows only the
# spread it saw); t widens it for the few pairs there are.
ratio_interval() {
  awk '{ x[NR] = log($1); s += x[NR] }
    END {
      split("12.706 4.303 3.182 2.776 2.571 2.447 2.365 2.306 2.262 2.228 2.201 2.179 2.160 2.145 2.131 2.120 2.110 2.101 2.093 2.086", t, " ")
      m = s / NR; v = 0
      for (i = 1; i <= NR; i++) v += (x[i] - m)^2
      h = NR < 2 ? 0 : (NR - 1 <= 20 ? t[NR - 1] : 2.0) * sqrt(v / (NR - 1) / NR)
      printf "%.4f %.4f %.4f\n", exp(m), exp(m - h), exp(m + h)
    }'
}
