# 4.00/512, every 4th slot free: the first free slot points past the end of
# the file.
build --version 4.00 --page-size 512 --records 40 --free-every 4 D4.DAT --damage free-chain-out
