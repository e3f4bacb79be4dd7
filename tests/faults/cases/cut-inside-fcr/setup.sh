# 9.50, FCR pages of 4096 bytes at 0 and 4096: the file ends inside the
# second copy.
build --version 9.50 --page-size 1024 --records 70 DATA.MKD
cut DATA.MKD 6000
