# Pictures of what ch_bench measured (scripts/bench.sh draws them):
#   gnuplot -e "figures='FILE.csv'; out='FOLDER'; sizes=N" bench/plot.gp
# reads the table ch_bench --figures=FILE.csv wrote, with N session sizes,
# and draws into FOLDER
#   session-time.png      a whole session against the payload count, module
#                         and floor, both axes logarithmic
#   session-marginal.png  the cost of one more payload between successive
#                         payload counts, module and floor (from two
#                         sizes on)
set datafile separator ","
set terminal pngcairo size 800,500 font "DejaVu Sans,11"
set key top left box opaque Left reverse
set grid xtics ytics lc rgb "#bbbbbb"
set logscale x
set xrange [60:170000]
set xlabel "installed payloads in pdb.db"
set format x "%.0s%c"
set style line 1 lc rgb "#c0392b" lw 2 pt 7 ps 1.2
set style line 2 lc rgb "#2471a3" lw 2 pt 5 ps 1.2

# Rows of the session family only; any other row is no point.
session(column) = strcol(2) eq "session" ? column : 1/0

set output out . "/session-time.png"
set title "Install session at SessionClose (fr\\_MA): wall time, median"
set ylabel "time per session (ms)"
set logscale y
plot figures using (session($3)):5 skip 1 with linespoints ls 1 title "module", \
     figures using (session($3)):6 skip 1 with linespoints ls 2 title "floor"

if (sizes < 2) exit
set output out . "/session-marginal.png"
set title "Cost of one more installed payload (between successive payload counts)"
set ylabel "time per added payload (µs)"
set xlabel "installed payloads in pdb.db (the upper end of each step)"
# Growth lost in the noise (zero or negative) has no place on a log scale.
set label 1 "a step whose growth is lost in the noise (zero or less) is not drawn" at graph 0.99, graph 0.04 right font ",9"
plot figures using (session($3)):8 skip 1 with linespoints ls 1 title "module", \
     figures using (session($3)):9 skip 1 with linespoints ls 2 title "floor"
