# 8.00/512, 14 records a page: data page 1 carries type 'V' in its header
# while its PAT entry says 'D'.
build --version 8.00 --page-size 512 --records 40 D8.DAT --damage header-type=data-page:1
