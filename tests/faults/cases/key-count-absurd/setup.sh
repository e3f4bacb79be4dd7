# 9.50/1024: the key count (FCR 0x14) is 65535 in both copies.
build --version 9.50 --page-size 1024 --records 70 DATA.MKD
poke DATA.MKD 20 ff ff
poke DATA.MKD 4116 ff ff
