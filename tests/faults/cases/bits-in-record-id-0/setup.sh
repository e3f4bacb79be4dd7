# 9.50/1024: BitsInRecordId (FCR 351) is 0 in both copies.
build --version 9.50 --page-size 1024 --records 70 DATA.MKD
poke DATA.MKD 351 00
poke DATA.MKD 4447 00
