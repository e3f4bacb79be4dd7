# 9.50/1024: BitsInRecordId (FCR 351) is 255 in both copies.
build --version 9.50 --page-size 1024 --records 70 DATA.MKD
poke DATA.MKD 351 ff
poke DATA.MKD 4447 ff
