# 9.50/1024: another process holds an exclusive lock on DATA.MKD for the
# length of the run. The engine reads with full sharing; the tool's own
# exclusive open of the file after the walk is refused.
build --version 9.50 --page-size 1024 --records 70 DATA.MKD
hold_lock DATA.MKD
