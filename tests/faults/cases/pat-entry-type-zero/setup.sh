# 9.50/1024: PAT pair 1 at 16384 (copy 0) and 20480 (copy 1), 8-byte entries
# from byte 16. The entry of logical page 3 (data page 1, records 29-57) keeps
# its page number but gets type 0 in both copies: a free page, no longer part
# of the file.
build --version 9.50 --page-size 1024 --records 70 DATA.MKD
poke DATA.MKD 16420 00 00
poke DATA.MKD 20516 00 00
