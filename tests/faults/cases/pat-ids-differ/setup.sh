# 9.50/1024: the identification of PAT pair 1's first copy (at 16384, "PP"
# and the pair number) reads "QQ"; the second copy, the current one, is sound.
build --version 9.50 --page-size 1024 --records 70 DATA.MKD
poke DATA.MKD 16384 51 51
