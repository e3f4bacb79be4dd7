# 9.50/1024: the file ends 500 bytes into data page 2 (records 58-69).
build --version 9.50 --page-size 1024 --records 70 DATA.MKD --damage cut-in-page=data-page:2:500
