# 9.50/1024: the PAT entry of data page 1 (both copies) names a page 1000
# past the end of the file.
build --version 9.50 --page-size 1024 --records 70 DATA.MKD --damage pat-past-end=data-page:1
