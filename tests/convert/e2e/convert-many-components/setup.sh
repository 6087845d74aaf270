# 800 benzene rings written as one molecule (4,800 atoms).
printf 'c1ccccc1%.0s.' $(seq 799) > rings.smi
printf 'c1ccccc1 benzene-800\n' >> rings.smi
