# Draws the evening picture of scripts/bench.sh: the game process's committed
# memory, handles and threads over the game hours, with the memory monitor's
# passes and trims below. Flat lines: nothing grows.
# Given: data (folder of evening-*.txt), out, label, hours.
set terminal pngcairo size 1280,900 font "DejaVu Sans,11"
set output out
set termoption noenhanced
stats data."/evening-process.txt" using 2 nooutput
memtop = STATS_max * 1.15
stats data."/evening-process.txt" using 3 nooutput
handletop = STATS_max * 1.2
stats data."/evening-process.txt" using 4 nooutput
threadtop = STATS_max + 2
set multiplot title "The game with Quellstone over an evening (clock and sleeps 100 times as fast)\n".label font ",12"
set xrange [0:hours]
set grid
set key top left
set lmargin 16
set format x ""
set yrange [0:memtop]
set size 1,0.28
set origin 0,0.65
set ylabel "committed (MiB)"
plot data."/evening-process.txt" using 1:2 with lines linewidth 2 linecolor rgb "#4a7ab5" title "committed memory (trims dotted red)", \
     data."/evening-trims.txt" using 1:(0):(0):(memtop) with vectors nohead linecolor rgb "#c00000" dashtype 3 notitle
set yrange [0:handletop]
set origin 0,0.37
set ylabel "handles"
plot data."/evening-process.txt" using 1:3 with lines linewidth 2 linecolor rgb "#4a7ab5" notitle
set yrange [0:threadtop]
set origin 0,0.09
set ylabel "threads"
plot data."/evening-process.txt" using 1:4 with steps linewidth 2 linecolor rgb "#4a7ab5" notitle
set size 1,0.11
set origin 0,0
set yrange [0:1]
unset ytics
set ylabel "monitor\npasses,\ntrims (red)" rotate by 0 offset 1,0
set format x "%g"
set xlabel "game hours"
plot data."/evening-passes.txt" using 1:(0):(0):(1) with vectors nohead linecolor rgb "#a0a0a0" notitle, \
     data."/evening-trims.txt" using 1:(0):(0):(1) with vectors nohead linewidth 2 linecolor rgb "#c00000" notitle
unset multiplot
