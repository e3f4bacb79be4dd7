# 9.50/1024, FCR pages of 4096 bytes: the key address table (at the offset
# FCR 0x78 holds) gets 4090 as key 0's spec offset in both copies, so the
# 30-byte spec would run past the end of the FCR page. Walked along key 0.
build --version 9.50 --page-size 1024 --records 70 DATA.MKD
table=$(od -An -tu2 -j120 -N2 DATA.MKD | tr -d ' ')
poke DATA.MKD "$table" fa 0f
poke DATA.MKD "$((table + 4096))" fa 0f
