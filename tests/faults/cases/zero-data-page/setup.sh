# 6.00/512, 14 records a page: data page 1 (records 14-27) all zeros.
build --version 6.00 --page-size 512 --records 40 D6.DAT --damage zero-page=data-page:1
