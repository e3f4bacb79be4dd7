# 6.00 with 512-byte pages, two records a page: PAT pair 1 covers logical
# pages 1-126 (records 0-249), pair 2 lies at 1024 + 126 * 512 + 1024 = 66560.
# The file ends 100 bytes into the second page of pair 2.
build --version 6.00 --page-size 512 --records 300 --record-length 200 D6.DAT
cut D6.DAT 67172
