# 9.50/1024, built with copy 0 current (PAT usage counts 2 and 1). The
# second copy's entry for logical page 3 (data page 1) names page 0x1000, far
# past the end, and its usage count (offset 8) becomes 2: on the tie the
# second copy is current, so data page 1 cannot be read.
build --version 9.50 --page-size 1024 --records 70 --current-copy 0 DATA.MKD
poke DATA.MKD 20512 00 10 00 00
poke DATA.MKD 20488 02 00 00 00
