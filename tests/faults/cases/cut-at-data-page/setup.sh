# 9.50/1024, 29 records a data page: the file ends where data page 1 begins.
build --version 9.50 --page-size 1024 --records 70 DATA.MKD --damage cut-at-page=data-page:1
