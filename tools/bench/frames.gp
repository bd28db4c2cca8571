# Draws the frames picture of scripts/bench.sh: for each case, the share of
# frames whose work took longer than a given time, the game alone against the
# game with the plugin. Same lines: the plugin costs the game no frame time.
# Given: data (folder of curve-<case>-<kind>.txt), out, label, late (ms).
xmax = late * 1.2
do for [f in "main-alone main-plugin busy-alone busy-plugin"] {
    stats data."/curve-".f.".txt" using 1 nooutput
    xmax = STATS_max * 1.1 > xmax ? STATS_max * 1.1 : xmax
}
set terminal pngcairo size 1280,560 font "DejaVu Sans,11"
set output out
set termoption noenhanced
set multiplot layout 1,2 title "Frames at 120 a second, each the same work: how many took longer than a given time\n".label font ",12"
set logscale y
set yrange [1e-4:1.5]
set format y "%g"
set ytics ("every frame" 1, "1 in 10" 0.1, "1 in 100" 0.01, "1 in 1000" 0.001, "1 in 10000" 0.0001)
set logscale x
set xtics (1, 2, 3, 4, 6, 8, 12.5, 16, 25, 50, 100, 200)
set xlabel sprintf("work of one frame (ms); late: over 1.5 frame periods, %.1f ms", late)
set ylabel "share of frames whose work took longer"
set grid
set key bottom left
set arrow 1 from late, graph 0 to late, graph 1 nohead dashtype 2 linecolor rgb "#c00000"
set label 1 "late " at late, graph 0.96 right textcolor rgb "#c00000"
set xrange [1.5:xmax]
set title "the game's main thread alone"
plot data."/curve-main-alone.txt" using 1:2 with lines linewidth 3 linecolor rgb "#4a7ab5" title "game alone", \
     data."/curve-main-plugin.txt" using 1:2 with lines linewidth 2 linecolor rgb "#e08a00" title "game with Quellstone"
set title "the game busy on every core"
plot data."/curve-busy-alone.txt" using 1:2 with lines linewidth 3 linecolor rgb "#4a7ab5" title "game alone", \
     data."/curve-busy-plugin.txt" using 1:2 with lines linewidth 2 linecolor rgb "#e08a00" title "game with Quellstone"
unset multiplot
