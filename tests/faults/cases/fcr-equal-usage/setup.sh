# 9.50/1024: FCR copies at 0 (usage 1) and 4096 (usage 2, current). The second
# copy's PhysRecLen (offset 24) becomes 0 and the first copy's usage count
# (offset 8) becomes 2: on the tie the first copy, the sound one, is current.
build --version 9.50 --page-size 1024 --records 70 DATA.MKD
poke DATA.MKD 4120 00 00
poke DATA.MKD 8 02 00 00 00
