# 4.00/512, every 4th slot free (chained from FCR 0x10): the last free slot
# points back at the first.
build --version 4.00 --page-size 512 --records 40 --free-every 4 D4.DAT --damage free-chain-loop
