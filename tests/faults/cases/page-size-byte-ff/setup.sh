# 9.50/1024: the page-size byte (FCR 43) is 0xFF (65280-byte pages) in both
# copies.
build --version 9.50 --page-size 1024 --records 70 DATA.MKD
poke DATA.MKD 43 ff
poke DATA.MKD 4139 ff
