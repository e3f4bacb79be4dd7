# 7.00/1024, 29 records a page: data page 1 carries the next page's number.
build --version 7.00 --page-size 1024 --records 70 D7.DAT --damage header-number=data-page:1
