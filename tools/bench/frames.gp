# Draws the frames picture of scripts/bench.sh. Left and middle, under Wine 8:
# the share of frames done later than a given time after their due moment,
# the game alone against the game with the plugin (and beside the same work
# done bare); same lines: the plugin costs the game no frame time. Right: each
# pair of runs' ratio of that time's mean, with the geometric mean and its 95 %
# interval, per case and Wine: the spread the verdicts are drawn from.
# Given: data (folder of curve-wine8-<case>-<side>.txt and pairs.txt: x, case
# in quotes, pair, ratio, mean, low, high), cases (the x tics, as gnuplot's
# list of the case labels and their x), out, label, late (ms).
xmax = late * 1.2
do for [f in "main-floor main-plugin busy-floor busy-plugin floor-floor"] {
    stats data."/curve-wine8-".f.".txt" using 1 nooutput
    xmax = STATS_max * 1.1 > xmax ? STATS_max * 1.1 : xmax
}
set terminal pngcairo size 1800,600 font "DejaVu Sans,11"
set output out
set termoption noenhanced
set multiplot layout 1,3 title "Frames at 120 a second, each the same work: how late they were done, and each pair of runs' ratio\n".label font ",12"
set logscale y
set yrange [1e-4:1.5]
set format y "%g"
set ytics ("every frame" 1, "1 in 10" 0.1, "1 in 100" 0.01, "1 in 1000" 0.001, "1 in 10000" 0.0001)
set logscale x
set xtics (1, 2, 3, 4, 6, 8, 12.5, 16, 25, 50, 100, 200)
set xlabel sprintf("due moment to done (ms); late: after the deadline, %.1f ms", late)
set ylabel "share of frames done later"
set grid
set key bottom left
set arrow 1 from late, graph 0 to late, graph 1 nohead dashtype 2 linecolor rgb "#c00000"
set label 1 "late " at late, graph 0.96 right textcolor rgb "#c00000"
set xrange [1.5:xmax]
set title "Wine 8, the game's main thread alone"
plot data."/curve-wine8-main-floor.txt" using 1:2 with lines linewidth 3 linecolor rgb "#4a7ab5" title "game alone", \
     data."/curve-wine8-main-plugin.txt" using 1:2 with lines linewidth 2 linecolor rgb "#e08a00" title "game with Quellstone"
set title "Wine 8, the game busy on every core"
plot data."/curve-wine8-busy-floor.txt" using 1:2 with lines linewidth 3 linecolor rgb "#4a7ab5" title "game alone", \
     data."/curve-wine8-busy-plugin.txt" using 1:2 with lines linewidth 2 linecolor rgb "#e08a00" title "game with Quellstone", \
     data."/curve-wine8-floor-floor.txt" using 1:2 with lines linewidth 2 dashtype 2 linecolor rgb "#606060" title "game with the same work done bare"
unset arrow 1
unset label 1
unset logscale
set logscale y
set xrange [*:*] # stats keeps to the ranges set
set yrange [*:*]
stats data."/pairs.txt" using 1 nooutput
xcases = STATS_max
stats data."/pairs.txt" using 4 nooutput
ylow = STATS_min
yhigh = STATS_max
stats data."/pairs.txt" using 6 nooutput
ylow = STATS_min < ylow ? STATS_min : ylow
stats data."/pairs.txt" using 7 nooutput
yhigh = STATS_max > yhigh ? STATS_max : yhigh
set yrange [(ylow < 0.9 ? ylow : 0.9) / 1.05:(yhigh > 1.1 ? yhigh : 1.1) * 1.05]
set ytics (0.5, 0.6, 0.7, 0.8, 0.9, 1, 1.1, 1.25, 1.5, 2, 3, 4, 6)
set format y "%g"
set xrange [0.6:xcases + 0.6]
eval "set xtics ".cases." rotate by -20 left scale 0"
set grid noxtics ytics
unset xlabel
set ylabel "mean of due moment to done, with / without"
set title "each pair of runs, and their mean with its 95 % interval"
set arrow 2 from graph 0, first 1.05 to graph 1, first 1.05 nohead dashtype 2 linecolor rgb "#c00000"
set label 2 "1.05" at graph 1, first 1.05 offset 0.5,0 textcolor rgb "#c00000"
set key top left
plot data."/pairs.txt" using ($1 - 0.1 + 0.02 * $3):4 with points pointtype 7 pointsize 0.7 linecolor rgb "#4a7ab5" title "a pair", \
     data."/pairs.txt" using ($3 == 1 ? $1 + 0.25 : NaN):5:6:7 with yerrorbars pointtype 5 pointsize 1.2 linewidth 2 linecolor rgb "#e08a00" title "mean, 95 % interval"
unset multiplot
