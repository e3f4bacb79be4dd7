# 4.00/512, 15 records a page: data page 2 (records 30-39) pseudo-random bytes.
build --version 4.00 --page-size 512 --records 40 D4.DAT --damage garbage-page=data-page:2
