# 6.00/512, variable parts of 100 bytes in fragments of at most 40 bytes:
# record 5's last fragment points back at its first.
build --version 6.00 --page-size 512 --records 20 --variable 100 --fragment-size 40 D6.DAT --damage variable-loop=record:5
