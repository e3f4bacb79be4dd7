# 9.50/1024 in parts of 16 KiB (16 pages): DATA.MKD, DATA.^01 to DATA.^03.
# Part 1 holds PAT pair 1 and physical pages 24-31 (records 0-202); part 2,
# the middle of the set, is missing.
build --version 9.50 --page-size 1024 --records 800 --part-size 16K DATA.MKD
rm DATA.^02
