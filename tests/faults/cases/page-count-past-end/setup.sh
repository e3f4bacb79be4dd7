# 9.50/1024: the page count (FCR 38, high word first) is 0xFFFFFFFF in both
# copies, far more logical pages than the file holds.
build --version 9.50 --page-size 1024 --records 70 DATA.MKD
poke DATA.MKD 38 ff ff ff ff
poke DATA.MKD 4134 ff ff ff ff
