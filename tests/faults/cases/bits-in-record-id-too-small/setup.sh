# 9.50/1024, 29 slots a data page: BitsInRecordId (FCR 351) is 1 in both
# copies, so a position numbers only slots 0 and 1 of a page. Those two slots
# of each data page are the file's records (records 0, 1, 29, 30, 58, 59);
# the last one read lies in slot 1 of data page 2.
build --version 9.50 --page-size 1024 --records 70 DATA.MKD
poke DATA.MKD 351 01
poke DATA.MKD 4447 01
