# 8.00/512, FCR pages of 2048 bytes: the record length (FCR 0x16) is 600, more
# than a 512-byte page holds, in both copies.
build --version 8.00 --page-size 512 --records 40 D8.DAT
poke D8.DAT 22 58 02
poke D8.DAT 2070 58 02
