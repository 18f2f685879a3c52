# Time per command against the floor, from em_bench's times.dat: for each command, the share
# of commands (y) that took at most x ms past the floor's median, for the driver and for the
# floor (the same exchanges as bare system calls).
# gnuplot -e "data='times.dat'; output='command-times.png'" plot.gp
if (!exists("data")) data = "times.dat"
if (!exists("output")) output = "command-times.png"
names = "SingleRead BlockRead SingleWrite ColdStart"

set terminal pngcairo size 960,720 font "sans,10" background "white"
set output output
set multiplot layout 2,2 title "EM-1 driver: time per command against the protocol's floor (9600 8N1, paced simulator)"
set xlabel "ms past the floor's median"
set ylabel "share of commands"
set yrange [0:1]
set grid
set key bottom right
do for [i = 0:3] {
    set title word(names, i + 1)
    plot data index i using 2:1 with steps lw 2 lc rgb "#1f77b4" title "driver", \
         data index i using 3:1 with steps lw 2 dt 2 lc rgb "#d62728" title "floor"
}
unset multiplot
