# 6.00/512, variable-length records of 100 bytes: record 5's variable pointer
# names a page past the last.
build --version 6.00 --page-size 512 --records 20 --variable 100 D6.DAT --damage variable-broken=record:5
